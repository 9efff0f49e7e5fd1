#include "WarcWriter.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <set>

#include "BoundedWait.h"
#include "TempDir.h"
#include "WarcDigest.h"
#include "WarcError.h"
#include "WarcTestArchives.h"

namespace {

using namespace warctest;

// One of each kind of exchange the crawl's client can end with.
void WriteEveryKindOfExchange(TWarcWriter& writer) {
  writer.WriteInfo({{"software", "Tirasel 1.0"}, {"bad\nname", "two\r\nlines"}});
  writer.WriteExchange(Exchange("/a.html", "<html>A</html>"));
  // The header never ended.
  writer.WriteExchange(
      Failed("/slow.html", "HTTP/1.1 200 OK\r\nContent-Le", 10060, "Timeout\r\nafter 30 s"));
  writer.WriteExchange(Unsent("http://nowhere.invalid/", 11001, "Host not found"));
  TWarcExchange oddAddress = Exchange("/a b/\xe4?q=\x01", "x");
  writer.WriteExchange(oddAddress);
  writer.WriteExchange(TWarcExchange{});  // nothing happened: no record
}

TEST(WarcWriter, RecordsKeepEveryFieldAndTheirDigestsMatchTheBlocks) {
  for (TWarcCompression compression : {TWarcCompression::GzipPerRecord, TWarcCompression::None}) {
    TTempDir dir;
    {
      TWarcWriter writer(dir.Path("a.warc.gz"), compression);
      WriteEveryKindOfExchange(writer);
    }
    TArchive archive = ReadArchive(dir.Path("a.warc.gz"));
    EXPECT_TRUE(archive.damage.empty());
    const auto& r = archive.records;
    ASSERT_EQ(r.size(), 9u);
    std::vector<std::string> types;
    for (const TWarcRecord& record : r) types.push_back(record.Type);
    EXPECT_EQ(types,
              (std::vector<std::string>{"warcinfo", "request", "response", "request", "response",
                                        "metadata", "metadata", "request", "response"}));

    const std::regex uuid(
        "<urn:uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}>");
    std::set<std::string> ids;
    for (const TWarcRecord& record : r) {
      EXPECT_EQ(record.Version, "WARC/1.1");
      EXPECT_TRUE(std::regex_match(record.RecordId, uuid)) << record.RecordId;
      ids.insert(record.RecordId);
      EXPECT_EQ(Field(record, "WARC-Block-Digest"), WarcSha1Digest(record.Block));
      EXPECT_EQ(Field(record, "Content-Length"), std::to_string(record.Block.size()));
      if (record.Type != "warcinfo") {
        EXPECT_EQ(Field(record, "WARC-Warcinfo-ID"), r[0].RecordId);
        EXPECT_EQ(record.Date, "2024-05-01T12:00:00.123Z");
      }
    }
    EXPECT_EQ(ids.size(), r.size());

    EXPECT_EQ(Field(r[0], "WARC-Filename"), "a.warc.gz");
    EXPECT_EQ(r[0].ContentType, "application/warc-fields");
    EXPECT_EQ(ParseWarcFields(r[0].Block),
              (TWarcFields{{"software", "Tirasel 1.0"}, {"bad-name", "two  lines"}}));

    // A whole exchange: the response answers the request, and the payload is the body.
    EXPECT_EQ(r[1].Block, Request("/a.html"));
    EXPECT_EQ(r[1].ContentType, "application/http;msgtype=request");
    EXPECT_EQ(Field(r[1], "WARC-Payload-Digest"), WarcSha1Digest(""));
    EXPECT_EQ(r[2].Block, Response("<html>A</html>"));
    EXPECT_EQ(r[2].ContentType, "application/http;msgtype=response");
    EXPECT_EQ(Field(r[2], "WARC-Payload-Digest"), WarcSha1Digest("<html>A</html>"));
    EXPECT_EQ(r[2].ConcurrentTo, r[1].RecordId);
    EXPECT_EQ(r[2].TargetUri, "http://example.org/a.html");
    EXPECT_EQ(r[2].IpAddress, "127.0.0.1");

    // A failure after a partial answer: no payload in it, the failure beside the request.
    EXPECT_EQ(r[4].Block, "HTTP/1.1 200 OK\r\nContent-Le");
    EXPECT_EQ(Field(r[4], "WARC-Payload-Digest"), "");
    EXPECT_EQ(r[5].ConcurrentTo, r[3].RecordId);
    EXPECT_EQ(r[5].TargetUri, "http://example.org/slow.html");
    EXPECT_EQ(ParseWarcFields(r[5].Block),
              (TWarcFields{{"tirasel-error", "10060"}, {"tirasel-reason", "Timeout  after 30 s"}}));

    // A failure before anything was sent stands alone.
    EXPECT_EQ(r[6].ConcurrentTo, "");
    EXPECT_EQ(r[6].TargetUri, "http://nowhere.invalid/");
    EXPECT_EQ(r[6].IpAddress, "");
    EXPECT_EQ(ParseWarcFields(r[6].Block),
              (TWarcFields{{"tirasel-error", "11001"}, {"tirasel-reason", "Host not found"}}));

    EXPECT_EQ(r[7].TargetUri, "http://example.org/a%20b/%E4?q=%01");
  }
}

// Inflates the gzip member at `offset` of `file`; sets `end` just past it.
std::string Member(const std::string& file, std::size_t offset, std::size_t& end) {
  z_stream z{};
  inflateInit2(&z, 31);
  std::string out(1 << 20, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + offset));
  z.avail_in = static_cast<uInt>(file.size() - offset);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int result = inflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  end = file.size() - z.avail_in;
  inflateEnd(&z);
  return result == Z_STREAM_END ? out : "";
}

TEST(WarcWriter, EachRecordIsAGzipMemberOfItsOwnAndTheMembersFillTheFile) {
  TTempDir dir;
  WritePages(dir.Path("p.warc.gz"), 5);
  std::string file = dir.Read("p.warc.gz");
  TArchive archive = ReadArchive(dir.Path("p.warc.gz"));
  ASSERT_EQ(archive.records.size(), 11u);
  std::size_t expectedOffset = 0;
  for (const TWarcRecord& record : archive.records) {
    EXPECT_EQ(record.Offset, expectedOffset);
    std::string member = Member(file, record.Offset, expectedOffset);
    EXPECT_TRUE(member.starts_with("WARC/1.1\r\nWARC-Type: " + record.Type + "\r\n"));
    EXPECT_TRUE(member.ends_with("\r\n\r\n" + record.Block + "\r\n\r\n"));
  }
  EXPECT_EQ(expectedOffset, file.size());
}

TEST(WarcWriter, AKilledRunLeavesEveryWholeExchangeReadable) {
  TTempDir dir;
  const std::string path = dir.Path("killed.warc.gz");
  constexpr int kExchanges = 200000;  // far more than are written before the kill
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TWarcWriter writer(path);
    for (int i = 0; i < kExchanges; ++i)
      writer.WriteExchange(Exchange("/p" + std::to_string(i), Page(i)));
    _exit(0);
  }
  auto deadline = testsupport::After(60000);
  auto written = [&] {
    std::error_code missing;
    auto size = std::filesystem::file_size(path, missing);
    return !missing && size >= 500000;
  };
  while (!written() && !testsupport::Expired(deadline)) testsupport::PauseMs(testsupport::kPollMs);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);

  TArchive archive = ReadArchive(path);
  // A write cut by the kill may leave part of the last exchange.
  EXPECT_LE(archive.damage.size(), 1u);
  const auto& r = archive.records;
  ASSERT_GT(r.size(), 20u);
  for (std::size_t i = 0; i + 1 < r.size(); i += 2) {
    EXPECT_EQ(r[i].TargetUri, "http://example.org/p" + std::to_string(i / 2));
    EXPECT_EQ(r[i + 1].ConcurrentTo, r[i].RecordId);
    EXPECT_EQ(r[i + 1].Block, Response(Page(static_cast<int>(i / 2))));
  }
  for (const TDamage& damage : archive.damage) EXPECT_GT(damage.offset, r.back().Offset);
}

TEST(WarcWriter, APlaceWhereNoArchiveCanBeWrittenFailsWithItsName) {
  TTempDir dir;
  for (const std::string& path :
       {dir.Path(), dir.Path("missing/a.warc.gz"), std::string("/dev/null")}) {
    try {
      TWarcWriter writer(path);
      ADD_FAILURE() << path << " was opened";
    } catch (const EWarcError& e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

}  // namespace
