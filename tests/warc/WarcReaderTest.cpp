#include "WarcReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "SplitMix.h"
#include "TempDir.h"
#include "WarcError.h"
#include "WarcTestArchives.h"

namespace {

using namespace warctest;

// What a reader sees of a record, for comparing archives.
std::string Summary(const TWarcRecord& record) {
  return record.Type + " " + record.TargetUri + " " + record.Block;
}

std::vector<std::string> Summaries(const std::vector<TWarcRecord>& records) {
  std::vector<std::string> summaries;
  for (const TWarcRecord& record : records) summaries.push_back(Summary(record));
  return summaries;
}

// The plain archive of a warcinfo record and `exchanges` pages, and where
// its records start.
struct TPlainArchive {
  std::string bytes;
  std::vector<std::size_t> offsets;  // and the file's size last
  std::vector<std::string> summaries;
};

TPlainArchive PlainArchive(int exchanges) {
  TTempDir dir;
  WritePages(dir.Path("a.warc"), exchanges, TWarcCompression::None);
  TArchive archive = ReadArchive(dir.Path("a.warc"));
  TPlainArchive plain{dir.Read("a.warc"), {}, Summaries(archive.records)};
  for (const TWarcRecord& record : archive.records) plain.offsets.push_back(record.Offset);
  plain.offsets.push_back(plain.bytes.size());
  return plain;
}

// The plain archive's records as gzip members of their own; `members` gets
// each member's offset, and the file's size last.
std::string PerRecordGzip(const std::string& plain, const std::vector<std::size_t>& offsets,
                          std::vector<std::size_t>* members = nullptr) {
  std::string gzip;
  for (std::size_t i = 0; i + 1 < offsets.size(); ++i) {
    if (members) members->push_back(gzip.size());
    gzip += Gzipped(plain.substr(offsets[i], offsets[i + 1] - offsets[i]));
  }
  if (members) members->push_back(gzip.size());
  return gzip;
}

// One directory for the many small files of a test program.
const TTempDir& ScratchDir() {
  static TTempDir dir;
  return dir;
}

// Overwrites the file's bytes and then sets its size: ext4 flushes a file
// emptied and written again to the disk when it is closed, which made the
// thousands of cut files of a test take seconds.
void Overwrite(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes.size())), 0);
  close(fd);
}

TArchive ReadBytes(const std::string& bytes, std::int64_t maxBlockBytes = 1 << 24) {
  const std::string path = ScratchDir().Path("x.warc");
  Overwrite(path, bytes);
  return ReadArchive(path, maxBlockBytes);
}

TEST(WarcReader, PlainPerRecordGzipAndWholeFileGzipGiveTheSameRecords) {
  TPlainArchive plain = PlainArchive(6);
  std::string perRecord = PerRecordGzip(plain.bytes, plain.offsets);
  std::string whole = Gzipped(plain.bytes);
  // Two members cut in the middle of a record, as `cat a.gz b.gz` makes.
  std::string split = Gzipped(plain.bytes.substr(0, 1000)) + Gzipped(plain.bytes.substr(1000));
  for (const std::string& bytes : {plain.bytes, perRecord, whole, split}) {
    TArchive archive = ReadBytes(bytes);
    EXPECT_TRUE(archive.damage.empty());
    EXPECT_EQ(Summaries(archive.records), plain.summaries);
  }
  TArchive fromWhole = ReadBytes(whole);
  for (std::size_t i = 0; i < fromWhole.records.size(); ++i) {
    EXPECT_EQ(fromWhole.records[i].Offset, 0u);
    EXPECT_EQ(fromWhole.records[i].DecodedOffset, plain.offsets[i]);
  }
}

TEST(WarcReader, ReadsTheHeadersOfOtherToolsLeniently) {
  const std::string archive =
      "WARC/1.0\n"  // LF alone, wget's angle brackets, a folded value, any case
      "WARC-Type: response\n"
      "WARC-Target-URI: <http://example.org/a>\n"
      "content-length: 5\n"
      "X-Note: first\n"
      "  and second\n"
      "\n"
      "hello\n\n"  // a short end of record
      "\r\n\r\n"   // blank lines between records
      "WARC/1.1\r\n"
      "WARC-Type: resource\r\n"
      "WARC-Target-URI: http://example.org/b\r\n"
      "WARC-Concurrent-To: <urn:a>\r\n"
      "WARC-Concurrent-To: <urn:b>\r\n"
      "Content-Length: 3\r\n"
      "\r\n"
      "abc";  // and none at the end of the file
  TArchive read = ReadBytes(archive);
  EXPECT_TRUE(read.damage.empty());
  ASSERT_EQ(read.records.size(), 2u);
  const TWarcRecord& first = read.records[0];
  EXPECT_EQ(first.Version, "WARC/1.0");
  EXPECT_EQ(first.TargetUri, "http://example.org/a");
  EXPECT_EQ(first.Block, "hello");
  EXPECT_EQ(Field(first, "X-Note"), "first and second");
  EXPECT_EQ(Field(first, "WARC-Target-URI"), "<http://example.org/a>");
  const TWarcRecord& second = read.records[1];
  EXPECT_EQ(second.Offset, archive.find("WARC/1.1"));
  EXPECT_EQ(second.ConcurrentTo, "<urn:a>");
  EXPECT_EQ(second.Block, "abc");
}

// The records a reader must hand out of a file cut at `cut`, and the
// offset it must report (none when the cut falls between records).
struct TCutExpectation {
  std::vector<std::string> summaries;
  std::optional<std::size_t> damageAt;
};

TCutExpectation AfterCut(const TPlainArchive& plain, const std::vector<std::size_t>& ends,
                         const std::vector<std::size_t>& starts, std::size_t cut) {
  TCutExpectation expected;
  for (std::size_t i = 0; i < plain.summaries.size(); ++i) {
    if (ends[i] <= cut) {
      expected.summaries.push_back(plain.summaries[i]);
    } else if (starts[i] < cut) {
      expected.damageAt = starts[i];
    }
  }
  return expected;
}

TEST(WarcReader, AFileCutAnywhereGivesTheWholeRecordsBeforeTheCutAndReportsTheCutOne) {
  TPlainArchive plain = PlainArchive(2);
  std::vector<std::size_t> members;
  std::string perRecord = PerRecordGzip(plain.bytes, plain.offsets, &members);
  // A plain record is whole without its closing CR LF CR LF.
  std::vector<std::size_t> blockEnds;
  for (std::size_t i = 1; i < plain.offsets.size(); ++i) blockEnds.push_back(plain.offsets[i] - 4);
  for (std::size_t cut = 0; cut < plain.bytes.size(); ++cut) {
    TArchive archive = ReadBytes(plain.bytes.substr(0, cut));
    TCutExpectation expected = AfterCut(plain, blockEnds, plain.offsets, cut);
    ASSERT_EQ(Summaries(archive.records), expected.summaries) << "plain, cut at " << cut;
    ASSERT_EQ(archive.DamageOffsets(), expected.damageAt
                                           ? std::vector<std::uint64_t>{*expected.damageAt}
                                           : std::vector<std::uint64_t>{})
        << "plain, cut at " << cut;
  }
  // A record of a gzip member is whole when its member is.
  std::vector<std::size_t> memberEnds(members.begin() + 1, members.end());
  for (std::size_t cut = 0; cut < perRecord.size(); ++cut) {
    TArchive archive = ReadBytes(perRecord.substr(0, cut));
    TCutExpectation expected = AfterCut(plain, memberEnds, members, cut);
    ASSERT_EQ(Summaries(archive.records), expected.summaries) << "members, cut at " << cut;
    ASSERT_EQ(archive.DamageOffsets(), expected.damageAt
                                           ? std::vector<std::uint64_t>{*expected.damageAt}
                                           : std::vector<std::uint64_t>{})
        << "members, cut at " << cut;
  }
}

TEST(WarcReader, AWholeFileGzipStreamCutAnywhereGivesItsFirstRecordsAndOneReport) {
  TPlainArchive plain = PlainArchive(2);
  std::string whole = Gzipped(plain.bytes);
  for (std::size_t cut = 1; cut < whole.size(); ++cut) {
    TArchive archive = ReadBytes(whole.substr(0, cut));
    std::vector<std::string> read = Summaries(archive.records);
    ASSERT_LE(read.size(), plain.summaries.size());
    // Where inflating stops before the cut depends on zlib: only a prefix is sure.
    EXPECT_TRUE(std::equal(read.begin(), read.end(), plain.summaries.begin())) << "cut at " << cut;
    ASSERT_EQ(archive.DamageOffsets(), std::vector<std::uint64_t>{0}) << "cut at " << cut;
  }
}

TEST(WarcReader, ACorruptGzipMemberInTheMiddleCostsOnlyItsRecord) {
  TPlainArchive plain = PlainArchive(5);
  std::vector<std::size_t> members;
  std::string gzip = PerRecordGzip(plain.bytes, plain.offsets, &members);
  for (std::size_t bad : {1u, 5u, 10u}) {
    std::string corrupt = gzip;
    std::size_t middle = (members[bad] + members[bad + 1]) / 2;
    for (std::size_t i = middle; i < middle + 6; ++i) corrupt[i] = static_cast<char>(~corrupt[i]);
    TArchive archive = ReadBytes(corrupt);
    std::vector<std::string> expected = plain.summaries;
    expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(bad));
    EXPECT_EQ(Summaries(archive.records), expected) << "member " << bad;
    ASSERT_EQ(archive.DamageOffsets(), std::vector<std::uint64_t>{members[bad]})
        << "member " << bad;
    EXPECT_NE(archive.damage[0].problem.find("gzip"), std::string::npos);
  }
}

TEST(WarcReader, AWrongContentLengthCostsOnlyItsRecord) {
  TPlainArchive plain = PlainArchive(4);
  // A length longer by one to three bytes takes the CR and LF after the
  // block, which a lenient reader cannot tell from a writer's short ending.
  for (int change : {-9, -1, 9, 100000}) {
    for (std::size_t bad : {2u, 8u}) {
      // The record's Content-Length changed, the bytes kept as they were.
      std::string text =
          plain.bytes.substr(plain.offsets[bad], plain.offsets[bad + 1] - plain.offsets[bad]);
      std::size_t at = text.find("Content-Length: ") + 16;
      std::size_t digits = text.find("\r\n", at) - at;
      std::string length = std::to_string(std::stoll(text.substr(at, digits)) + change);
      text.replace(at, digits, length);
      std::string edited = plain.bytes.substr(0, plain.offsets[bad]) + text +
                           plain.bytes.substr(plain.offsets[bad + 1]);
      std::vector<std::size_t> offsets = plain.offsets;
      for (std::size_t i = bad + 1; i < offsets.size(); ++i) offsets[i] += length.size() - digits;
      std::vector<std::size_t> members;
      std::string gzip = PerRecordGzip(edited, offsets, &members);

      std::vector<std::string> expected = plain.summaries;
      expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(bad));
      TArchive fromPlain = ReadBytes(edited);
      EXPECT_EQ(Summaries(fromPlain.records), expected) << change << " in record " << bad;
      EXPECT_EQ(fromPlain.DamageOffsets(), std::vector<std::uint64_t>{offsets[bad]}) << change;
      TArchive fromGzip = ReadBytes(gzip);
      EXPECT_EQ(Summaries(fromGzip.records), expected) << change << " in record " << bad;
      EXPECT_EQ(fromGzip.DamageOffsets(), std::vector<std::uint64_t>{members[bad]}) << change;
    }
  }
}

TEST(WarcReader, BytesBetweenRecordsAreReportedWhereTheyStartAndTheRecordsRead) {
  TPlainArchive plain = PlainArchive(3);
  std::vector<std::size_t> members;
  std::string gzip = PerRecordGzip(plain.bytes, plain.offsets, &members);
  const std::string junk =
      "Not a record, WARC/1.1\r\nWARC/1.1 and more on the line\r\n\x01\xff\r\n";
  auto inserted = [](const std::string& bytes, std::size_t at, const std::string& what) {
    return bytes.substr(0, at) + what + bytes.substr(at);
  };
  const struct {
    const char* name;
    std::string bytes;
    std::size_t at;
  } cases[] = {
      {"plain, before the first record", junk + plain.bytes, 0},
      {"plain, between records", inserted(plain.bytes, plain.offsets[3], junk), plain.offsets[3]},
      {"plain, at the end", plain.bytes + junk, plain.bytes.size()},
      {"gzip, stray bytes between members", inserted(gzip, members[3], junk), members[3]},
      {"gzip, a member of junk", inserted(gzip, members[3], Gzipped(junk)), members[3]},
      {"gzip, at the end", gzip + junk, gzip.size()},
  };
  for (const auto& c : cases) {
    TArchive archive = ReadBytes(c.bytes);
    EXPECT_EQ(Summaries(archive.records), plain.summaries) << c.name;
    EXPECT_EQ(archive.DamageOffsets(), std::vector<std::uint64_t>{c.at}) << c.name;
  }
}

TEST(WarcReader, ABlockOverTheLimitIsCutAndTheRecordsAfterItAreRead) {
  for (TWarcCompression compression : {TWarcCompression::GzipPerRecord, TWarcCompression::None}) {
    TTempDir dir;
    std::string big(3 << 20, 'b');
    {
      TWarcWriter writer(dir.Path("big.warc"), compression);
      writer.WriteExchange(Exchange("/big", big));
      writer.WriteExchange(Exchange("/after", "small"));
    }
    const std::int64_t limit = 1000;
    TArchive archive = ReadArchive(dir.Path("big.warc"), limit);
    EXPECT_TRUE(archive.damage.empty());
    ASSERT_EQ(archive.records.size(), 4u);
    const TWarcRecord& cut = archive.records[1];
    EXPECT_TRUE(cut.BlockTruncated);
    EXPECT_EQ(cut.Block, Response(big).substr(0, limit));
    EXPECT_EQ(archive.records[3].Block, Response("small"));
    EXPECT_FALSE(archive.records[3].BlockTruncated);
    // A block of exactly the limit is whole.
    TArchive atLimit =
        ReadArchive(dir.Path("big.warc"), static_cast<std::int64_t>(Response("small").size()));
    EXPECT_FALSE(atLimit.records[3].BlockTruncated);
    EXPECT_EQ(atLimit.records[3].Block, Response("small"));
  }
}

TEST(WarcReader, AFileWithoutRecordsIsOneReportAndAMissingFileAnError) {
  testsupport::SplitMix64 random(7);
  std::string noise(100000, '\0');
  for (char& c : noise) c = static_cast<char>(random.Next());
  for (const std::string& bytes :
       {noise, std::string("\x1f\x8b", 2) + noise, std::string(5000, 'W')}) {
    TArchive archive = ReadBytes(bytes);
    EXPECT_TRUE(archive.records.empty());
    EXPECT_EQ(archive.DamageOffsets(), std::vector<std::uint64_t>{0});
  }
  TArchive empty = ReadBytes("");
  EXPECT_TRUE(empty.records.empty() && empty.damage.empty());

  TTempDir dir;
  for (const std::string& path : {dir.Path("missing.warc"), dir.Path()}) {
    try {
      TWarcReader reader(path, 100, {});
      ADD_FAILURE() << path << " was opened";
    } catch (const EWarcError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

}  // namespace
