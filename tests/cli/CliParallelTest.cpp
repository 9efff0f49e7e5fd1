// tirasel-cli --parallel: the log (with the questions of --ask) and the word
// list of several requests at once are those of one at a time, byte for
// byte, on the fixture site and on random sites, against a server that adds
// a delay to each answer and counts the connections open at once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CliProcess.h"
#include "ConcurrentSiteServer.h"
#include "FixtureSite.h"
#include "RandomSite.h"

namespace {

using clitest::Result;
using clitest::RunCli;
using testpeer::ConcurrentSiteServer;

Result RunWith(const std::string& parallel, std::vector<std::string> args,
               const std::string& answers = "") {
  if (!parallel.empty()) args.insert(args.begin(), {"--parallel", parallel});
  return RunCli(args, answers);
}

void ExpectSameOutput(const Result& parallel, const Result& sequential, const std::string& what) {
  EXPECT_EQ(parallel.status, sequential.status) << what;
  EXPECT_EQ(parallel.err, sequential.err) << what;
  EXPECT_EQ(parallel.out, sequential.out) << what;
}

TEST(CliParallel, TheFixtureSiteGivesTheSequentialLogAndList) {
  ConcurrentSiteServer site(testsite::FixtureSite(), 2);
  const std::string start = site.Root() + "a/index.html";
  for (const std::string answers : {"", "y\n", "n\n"}) {
    std::vector<std::string> args = {"--encoding", "windows-1252", start};
    if (!answers.empty()) args.insert(args.begin(), "--ask");
    const Result sequential = RunWith("1", args, answers);
    ASSERT_EQ(sequential.status, 0) << sequential.err;
    ExpectSameOutput(RunWith("8", args, answers), sequential, "parallel 8, answers " + answers);
    ExpectSameOutput(RunWith("", args, answers), sequential, "default, answers " + answers);
  }
  EXPECT_LE(site.MaxOpen(), 8);
}

TEST(CliParallel, RandomSitesGiveTheSequentialLogAndListWithAtMostNConnections) {
  for (std::uint64_t seed = 101; seed <= 110; ++seed) {
    const testsite::RandomSite random = testsite::MakeRandomSite(seed, 60);
    ConcurrentSiteServer site(random.pages, 2);
    std::string answers;
    for (bool yes : random.answers) answers += yes ? "y\n" : "n\n";
    const std::vector<std::string> args = {"--ask", "--stats",
                                           site.Root() + random.start.substr(1)};
    Result sequential = RunWith("1", args, answers);
    ASSERT_EQ(site.MaxOpen(), 1) << seed;
    Result parallel = RunWith("8", args, answers);
    EXPECT_LE(site.MaxOpen(), 8) << seed;
    // The statistics end the log: their time and rate differ from run to run.
    for (Result* run : {&sequential, &parallel}) {
      if (size_t time = run->err.find("\ntime: "); time != std::string::npos) run->err.erase(time);
    }
    ExpectSameOutput(parallel, sequential, "seed " + std::to_string(seed));
  }
}

TEST(CliParallel, TheNumberOfRequestsIsFromOneTo64) {
  for (const char* bad : {"0", "65", "x", ""}) {
    Result run = RunCli({"--parallel", bad, "http://127.0.0.1:1/"});
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("--parallel"), std::string::npos) << run.err;
  }
}

// --auth goes to the scheme, host and port of the start address only: a
// relocation to another host (here the same server under another name) and
// a link there get no credentials, a relocation back does.
TEST(CliParallel, SiteCredentialsGoOnlyToTheStartAddressesOrigin) {
  ConcurrentSiteServer site(
      {{"/1.html", "<a href=weg.html>w</a><a href=http://localhost:{PORT}/zurueck.html>z</a>"},
       {"/weg.html", "HTTP/1.0 302 Found\r\nLocation: http://localhost:{PORT}/p.html\r\n\r\n"},
       {"/p.html", "<p>dr&uuml;ben</p>"},
       {"/zurueck.html", "HTTP/1.0 302 Found\r\nLocation: {ROOT}back.html\r\n\r\n"},
       {"/back.html", "<p>wieder da</p>"}});
  site.RequireAuthorization("/1.html");
  site.RequireAuthorization("/back.html");
  const std::vector<std::string> args = {"--ask", "--auth", "anna:geheim", site.Root() + "1.html"};
  const Result sequential = RunWith("1", args, "y\n");
  EXPECT_EQ(sequential.out, "w\nz\ndrüben\nwieder\nda\n") << sequential.err;
  ExpectSameOutput(RunWith("4", args, "y\n"), sequential, "parallel");
  for (const std::string& path : site.Authorized()) {
    EXPECT_TRUE(path == "/1.html" || path == "/weg.html" || path == "/back.html") << path;
  }
  EXPECT_EQ(site.Authorized().size(), 6u);
}

// A connection closed or reset before the answer, and a body shorter than
// its Content-Length, are failed pages: they once counted as fetched.
TEST(CliParallel, AnswersCutShortAreFailedPages) {
  ConcurrentSiteServer site(
      {{"/1.html",
        "<a href=a.html>a</a><a href=b.html>b</a><a href=c.html>c</a><a href=d.html>d</a>"},
       {"/a.html", ConcurrentSiteServer::kCloseUnanswered},
       {"/b.html", ConcurrentSiteServer::kReset},
       {"/c.html",
        "HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n<p>kurz</p>" + std::string(6, 'x')},
       {"/d.html", "<p>ganz</p>"}});
  const std::vector<std::string> args = {site.Root() + "1.html"};
  const Result sequential = RunWith("1", args);
  EXPECT_EQ(sequential.out, "a\nb\nc\nd\nganz\n");
  EXPECT_NE(sequential.err.find("Done! (2 html files found...)..."), std::string::npos);
  ExpectSameOutput(RunWith("4", args), sequential, "parallel");
  const Result stats = RunWith("1", {"--stats", site.Root() + "1.html"});
  EXPECT_NE(stats.err.find("\npages fetched: 2\npages failed: 3\n"), std::string::npos)
      << stats.err;
}

}  // namespace
