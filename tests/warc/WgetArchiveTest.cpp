// Archives written by a real peer: Debian's wget fetching pages from nginx
// on loopback with --warc-file (WARC/1.0, "<...>" around addresses, a gzip
// member per record or none), read back.
#include <gtest/gtest.h>

#include <map>

#include "ChildProcess.h"
#include "HeaderLines.h"
#include "HttpMessage.h"
#include "NginxServer.h"
#include "PatternBytes.h"
#include "TempDir.h"
#include "WarcDigest.h"
#include "WarcTestArchives.h"

namespace {

using namespace warctest;

const std::string kIndex =
    "<html><a href=\"a.html\">a</a> <a href=\"dir/c.html\">c</a> <a href=\"old\">old</a> "
    "<a href=\"missing.html\">missing</a> <a href=\"big.html\">big</a></html>\n";
const std::string kA = "<html>Seite A</html>\n";
const std::string kC = "<html>Seite C im Verzeichnis</html>\n";

struct TSite {
  testsupport::NginxServer web;
  std::string big;
  TSite() {
    big.resize(100000);
    testsupport::FillPattern(big.data(), big.size(), 0);
    web.AddFile("/index.html", kIndex);
    web.AddFile("/a.html", kA);
    web.AddFile("/dir/c.html", kC);
    web.AddFile("/big.html", big);
    web.AddRedirect("/old", 302, "/a.html");
    web.Start();
  }
};

// wget's archive of the site; `compressed` chooses .warc.gz or .warc.
TArchive WgetArchive(const TSite& site, const TTempDir& dir, bool compressed) {
  std::vector<std::string> argv = {"/usr/bin/wget",
                                   "--recursive",
                                   "--level=2",
                                   "-q",
                                   "-e",
                                   "robots=off",
                                   "--no-warc-keep-log",
                                   "--warc-file=" + dir.Path("site"),
                                   "-P",
                                   dir.Path("files"),
                                   site.web.Url("/")};
  if (!compressed) argv.insert(argv.begin() + 1, "--no-warc-compression");
  // wget exits with 8 for the page that is missing on purpose.
  EXPECT_EQ(testsupport::RunProgram(argv, 60000), 8);
  return ReadArchive(dir.Path(compressed ? "site.warc.gz" : "site.warc"));
}

TEST(WgetArchive, ResponsesComeBackWithTheirAddressesStatusesAndBodies) {
  TSite site;
  for (bool compressed : {true, false}) {
    TTempDir dir;
    TArchive archive = WgetArchive(site, dir, compressed);
    EXPECT_TRUE(archive.damage.empty());
    std::map<std::string, std::string> requestIds;  // by address
    std::map<std::string, std::pair<int, std::string>> answers;
    for (const TWarcRecord& record : archive.records) {
      EXPECT_EQ(record.Version, "WARC/1.0");
      if (record.Type == "request") requestIds[record.TargetUri] = record.RecordId;
      if (record.Type != "response") continue;
      EXPECT_EQ(record.ConcurrentTo, requestIds[record.TargetUri]) << record.TargetUri;
      EXPECT_EQ(record.IpAddress, "127.0.0.1");
      std::string problem;
      std::optional<THttpMessage> message = ParseHttpResponse(record.Block, 1 << 20, problem);
      ASSERT_TRUE(message) << problem;
      EXPECT_TRUE(message->Complete) << problem;
      std::string body = message->Status == 302 ? message->Location : message->Body;
      answers[record.TargetUri] = {message->Status, body};
    }
    const std::map<std::string, std::pair<int, std::string>> expected = {
        {site.web.Url("/"), {200, kIndex}},           {site.web.Url("/a.html"), {200, kA}},
        {site.web.Url("/dir/c.html"), {200, kC}},     {site.web.Url("/old"), {302, "/a.html"}},
        {site.web.Url("/missing.html"), {404, ""}},  // nginx's own page, not compared
        {site.web.Url("/big.html"), {200, site.big}},
    };
    ASSERT_EQ(answers.size(), expected.size());
    for (const auto& [uri, answer] : expected) {
      ASSERT_TRUE(answers.count(uri)) << uri;
      EXPECT_EQ(answers[uri].first, answer.first) << uri;
      if (answer.first != 404) {
        EXPECT_EQ(answers[uri].second, answer.second) << uri;
      }
    }
  }
}

TEST(WgetArchive, ItsDigestsAreTheOnesWeCompute) {
  TSite site;
  TTempDir dir;
  TArchive archive = WgetArchive(site, dir, true);
  int checked = 0;
  for (const TWarcRecord& record : archive.records) {
    std::string block = Field(record, "WARC-Block-Digest");
    if (!block.empty()) {
      EXPECT_EQ(block, WarcSha1Digest(record.Block)) << record.Type << " " << record.TargetUri;
    }
    std::string payload = Field(record, "WARC-Payload-Digest");
    if (!payload.empty()) {
      EXPECT_EQ(payload, WarcSha1Digest(record.Block.substr(HeaderEnd(record.Block))));
      ++checked;
    }
  }
  EXPECT_GE(checked, 6);
}

}  // namespace
