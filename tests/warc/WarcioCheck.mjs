// Checks the digests of archives against an independent reader: warcio
// (npm) says where each record is and what its payload is, node's zlib and
// crypto decompress and hash them, and every WARC-Block-Digest and
// WARC-Payload-Digest must be the SHA-1 of those bytes.
//
//   node WarcioCheck.mjs RECORDS FILE INDEX   (RECORDS "-": any number; INDEX: `warcio index FILE --fields
//   warc-type,warc-block-digest,warc-payload-digest,offset,length`; exit status 1
//   at the first wrong digest)
import crypto from "crypto";
import fs from "fs";
import zlib from "zlib";
import { WARCParser } from "warcio";

function base32(bytes) {
  const alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  let bits = 0, count = 0, text = "";
  for (const byte of bytes) {
    bits = ((bits << 8) | byte) & 0xfff;
    count += 8;
    while (count >= 5) {
      count -= 5;
      text += alphabet[(bits >> count) & 31];
    }
  }
  return count > 0 ? text + alphabet[(bits << (5 - count)) & 31] : text;
}
if (base32(Buffer.from("foobar")) !== "MZXW6YTBOI") throw new Error("base32 of the check is wrong");

const sha1 = (bytes) => "sha1:" + base32(crypto.createHash("sha1").update(bytes).digest());

// The record's block, from the bytes warcio's index says are the record.
function block(file, entry) {
  let record = file.subarray(entry.offset, entry.offset + entry.length);
  if (record[0] === 0x1f && record[1] === 0x8b) record = zlib.gunzipSync(record);
  const headerEnd = record.indexOf("\r\n\r\n") + 4;
  const length = Number(/^Content-Length: *(\d+)/im.exec(record.subarray(0, headerEnd).toString("latin1"))[1]);
  return record.subarray(headerEnd, headerEnd + length);
}

async function check(path, indexPath) {
  const file = fs.readFileSync(path);
  const index = fs.readFileSync(indexPath, "utf8").trim().split("\n").map((line) => JSON.parse(line));
  let digests = 0;
  index.forEach((entry, i) => {
    const hash = sha1(block(file, entry));
    if (entry["warc-block-digest"] !== hash) {
      throw new Error(`${path}: record ${i} (${entry["warc-type"]}): block digest ${entry["warc-block-digest"]}, SHA-1 ${hash}`);
    }
    ++digests;
  });
  let i = 0;
  for await (const record of new WARCParser(fs.createReadStream(path))) {
    const payload = index[i] && index[i]["warc-payload-digest"];
    const hash = sha1(await record.readFully(false));
    if (payload !== undefined && payload !== hash) {
      throw new Error(`${path}: record ${i} (${record.warcType}): payload digest ${payload}, SHA-1 ${hash}`);
    }
    if (payload !== undefined) ++digests;
    ++i;
  }
  if (i !== index.length) throw new Error(`${path}: the parser read ${i} records, the index lists ${index.length}`);
  return { records: index.length, digests };
}

const [expected, path, indexPath] = process.argv.slice(2);
try {
  const { records, digests } = await check(path, indexPath);
  if (expected !== "-" && records !== Number(expected)) {
    throw new Error(`${path}: ${records} records, not ${expected}`);
  }
  console.log(`${path}: ${records} records, ${digests} digests right`);
} catch (e) {
  console.log(e.message);
  process.exit(1);
}
