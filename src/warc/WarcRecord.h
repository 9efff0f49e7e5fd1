// One record of a web archive as the reader hands it out: where it starts,
// its named header fields, and its content block. All texts are the bytes as
// written in the archive.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Header fields in their order: name and value, blanks around both taken off.
using TWarcFields = std::vector<std::pair<std::string, std::string>>;

struct TWarcRecord {
  // Where to find the record in the file: the offset of the gzip member in
  // which it begins, or of its first byte in an uncompressed file. Records
  // of a file compressed as one gzip stream all begin in the member at 0.
  std::uint64_t Offset = 0;
  // The record's first byte in the decompressed bytes of the whole file
  // (the same as Offset in an uncompressed file).
  std::uint64_t DecodedOffset = 0;
  std::string Version;  // "WARC/1.0", "WARC/1.1"
  // The values of WARC-Type, WARC-Target-URI (without the "<...>" that
  // some WARC/1.0 writers such as wget put around it), WARC-Date,
  // WARC-Record-ID, WARC-Concurrent-To (the first), WARC-IP-Address and
  // Content-Type; empty when the record has no such field.
  std::string Type, TargetUri, Date, RecordId, ConcurrentTo, IpAddress, ContentType;
  TWarcFields Fields;  // every header field, as written
  // The content block, at most the reader's limit of bytes: the rest of a
  // larger block is skipped, and BlockTruncated tells.
  std::string Block;
  bool BlockTruncated = false;
};
