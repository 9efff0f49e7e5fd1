// Runs recorded into a web archive and replayed from it: the same log,
// questions and words as the live run, whatever the run met (relocations,
// failures, https, a proxy, requests ahead); the harvest of every HTML
// answer of archives, damaged ones and wget's included.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "ConcurrentSiteServer.h"
#include "FixtureSite.h"
#include "NginxServer.h"
#include "RandomSite.h"
#include "RecordedCrawl.h"
#include "TempDirectory.h"
#include "TinyProxy.h"
#include "TlsCertificates.h"
#include "WarcRecorder.h"
#include "WarcWriter.h"

namespace {

using testpeer::ConcurrentSiteServer;
using Lines = std::vector<std::string>;
using Pages = std::map<std::string, std::string>;

struct Outcome {
  Lines log, questions, words;
  std::string countLabel;
};

struct RunSetup {
  bool automatic = true;
  std::deque<bool> answers;
  std::string proxy;
  size_t parallel = 1;
  std::string caFile;
};

// One run, live and recorded into `archive`, or replayed from `archives`.
Outcome RunCrawl(const std::string& start, const RunSetup& setup, const std::string& archive,
                 const Lines& archives = {}) {
  RecordedCrawl crawl;
  crawl.window.automatic = setup.automatic;
  crawl.window.answers = setup.answers;
  crawl.window.proxy = setup.proxy;
  crawl.start.Options.Parallel = setup.parallel;
  crawl.start.Http.SslCAFile = setup.caFile;
  crawl.start.Archives = archives;
  std::optional<TWarcWriter> writer;
  std::optional<TWarcRecorder> recorder;
  if (!archive.empty()) {
    writer.emplace(archive);
    recorder.emplace(*writer);
    crawl.start.Recorder = &*recorder;
  }
  crawl.Go(start);
  if (recorder) {
    recorder->Flush();
    EXPECT_EQ(recorder->Failure(), "");
  }
  return {crawl.window.log, crawl.window.questions, crawl.Words(), crawl.window.countLabel};
}

void ExpectSame(const Outcome& replayed, const Outcome& live, const std::string& what) {
  EXPECT_EQ(replayed.log, live.log) << what;
  EXPECT_EQ(replayed.questions, live.questions) << what;
  EXPECT_EQ(replayed.words, live.words) << what;
  EXPECT_EQ(replayed.countLabel, live.countLabel) << what;
}

// Records a live run and replays it from its archive, one request at a
// time and with requests ahead.
void ExpectReplayAsLive(const std::string& start, RunSetup setup, const std::string& what) {
  testsupport::TempDirectory dir("tirasel-archive");
  const std::string archive = (dir.Path() / "run.warc.gz").string();
  const Outcome live = RunCrawl(start, setup, archive);
  ASSERT_FALSE(live.log.empty()) << what;
  for (size_t parallel : {1, 4}) {
    setup.parallel = parallel;
    setup.proxy.clear();  // a replay asks nobody
    ExpectSame(RunCrawl(start, setup, "", {archive}), live,
               what + ", replayed with " + std::to_string(parallel));
  }
}

TEST(CrawlArchive, ReplaysGiveTheLiveLogQuestionsAndWords) {
  ConcurrentSiteServer site(testsite::FixtureSite());
  RunSetup modes[3];
  modes[1].automatic = modes[2].automatic = false;
  modes[1].answers = {true};
  modes[2].answers = {false};
  for (RunSetup& mode : modes) {
    for (size_t parallel : {1, 4}) {
      mode.parallel = parallel;
      ExpectReplayAsLive(site.Root() + "a/index.html", mode,
                         "fixture site live with " + std::to_string(parallel));
    }
  }
}

// Failing answers, pages that do not exist, relocations relative and
// absolute (also onto pages fetched before), "../" links and foreign
// directories, refreshes and frames.
TEST(CrawlArchive, RandomSitesReplayAsTheyWereCrawled) {
  for (std::uint64_t seed = 1; seed <= 12; ++seed) {
    const testsite::RandomSite random = testsite::MakeRandomSite(seed);
    ConcurrentSiteServer site(random.pages);
    RunSetup setup;
    setup.automatic = seed % 3 == 0;
    setup.answers = random.answers;
    setup.parallel = seed % 2 == 0 ? 4 : 1;
    ExpectReplayAsLive(site.Root() + random.start.substr(1), setup, "seed " + std::to_string(seed));
  }
}

// What the client met without an answer is in the archive too: a refused
// connection, a reset, an answer cut short, a host that does not exist, an
// address without a host.
TEST(CrawlArchive, FailuresWithoutAnAnswerReplayWithTheirCodes) {
  const std::string refused = "http://127.0.0.1:" + std::to_string(testpeer::UnusedPort()) + "/";
  ConcurrentSiteServer site(
      {{"/1.html", "<a href=" + refused +
                       ">weg</a><a href=reset.html>r</a><a href=kurz.html>k</a>"
                       "<a href=http://no-such-host.invalid/x.html>n</a><a href=../x.html>x</a>"
                       "<a href=2.html>2</a>"},
       {"/reset.html", ConcurrentSiteServer::kReset},
       {"/kurz.html", "HTTP/1.0 200 OK\r\nContent-Length: 500\r\n\r\n<p>kurz</p>"},
       {"/2.html", "<p>zwei</p>"}});
  RunSetup setup;
  setup.automatic = false;
  setup.answers = {true, true};
  testsupport::TempDirectory dir("tirasel-archive");
  const std::string archive = (dir.Path() / "run.warc.gz").string();
  const Outcome live = RunCrawl(site.Root() + "1.html", setup, archive);
  EXPECT_EQ(std::count(live.log.begin(), live.log.end(), "Error..."), 5)
      << testing::PrintToString(live.log);
  for (const char* code :
       {"HTTP Fehler: 10061", "HTTP Fehler: 10054", "HTTP Fehler: 12", "HTTP Fehler: 11001"}) {
    EXPECT_NE(std::find(live.log.begin(), live.log.end(), code), live.log.end()) << code;
  }
  ExpectSame(RunCrawl(site.Root() + "1.html", setup, "", {archive}), live, "failures");
}

TEST(CrawlArchive, OverHttpsAndThroughAProxyAsLive) {
  const auto& certs = testsupport::TestCertificates::Shared();
  testsupport::NginxServer web;
  for (const auto& [path, body] : testsite::FixtureSite()) web.AddFile(path, body);
  web.UseTls(certs.Valid().cert, certs.Valid().key);
  web.Start();
  testsupport::TinyProxy proxy;
  proxy.Start();
  RunSetup setup;
  setup.caFile = certs.CaFile().string();
  ExpectReplayAsLive(web.TlsUrl("/a/index.html"), setup, "https");
  setup.proxy = proxy.HostPort();
  ExpectReplayAsLive(web.Url("/a/index.html"), setup, "proxy");
  ExpectReplayAsLive(web.TlsUrl("/a/index.html"), setup, "https through the proxy");
}

// An address the archive lacks fails with a code of its own; the replay
// asks nobody.
TEST(CrawlArchive, AnAddressTheArchiveLacksFails) {
  testsupport::TempDirectory dir("tirasel-archive");
  const std::string archive = (dir.Path() / "leer.warc.gz").string();
  { TWarcWriter writer(archive); }
  const Outcome replayed = RunCrawl("http://127.0.0.1:1/x.html", {}, "", {archive});
  EXPECT_EQ(replayed.log, (Lines{"http://127.0.0.1:1/x.html", "HTTP Fehler: 13", "Error...",
                                 "Done! (0 html files found...)..."}));
}

// Every HTML answer, in archive order, no link followed; an archive that
// cannot be read and a damaged record are named in the log, the rest is
// harvested.
TEST(CrawlArchive, AHarvestTakesEveryHtmlAnswerAndSkipsDamage) {
  testsupport::TempDirectory dir("tirasel-archive");
  const std::string archive = (dir.Path() / "a.warc.gz").string();
  {
    TWarcWriter writer(archive);
    auto answer = [&](const std::string& uri, const std::string& type, const std::string& body) {
      TWarcExchange exchange;
      exchange.TargetUri = uri;
      exchange.RequestBytes = "GET / HTTP/1.0\r\n\r\n";
      exchange.ResponseBytes = "HTTP/1.0 200 OK\r\nContent-Type: " + type + "\r\n\r\n" + body;
      writer.WriteExchange(exchange);
    };
    answer("http://h.test/1.html", "text/html", "<p>eins</p><a href=2.html>zwei</a>");
    answer("http://h.test/bild.png", "image/png", "<p>Bild</p>");
    answer("http://h.test/3.html", "text/html; charset=utf-8", "<p>dr\xC3\xA4i</p>");
  }
  // Damage the second member: the page after it is still harvested.
  std::string bytes;
  {
    std::ifstream in(archive, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t second = bytes.find("\x1f\x8b\x08", bytes.find("\x1f\x8b\x08", 1) + 1);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 40] ^= 0x55;
  std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;

  RecordedCrawl crawl;
  crawl.start.Archives = {archive, (dir.Path() / "fehlt.warc.gz").string()};
  crawl.Go("");
  const Lines& log = crawl.window.log;
  // Damage may be found while the reader looks ahead: its line can come
  // before the pages read ahead of it.
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log.back(), "Done! (2 html files found...)...");
  EXPECT_NE(std::find(log.begin(), log.end(), "http://h.test/1.html"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "http://h.test/3.html"), log.end());
  const auto damage = std::find_if(log.begin(), log.end(), [](const std::string& line) {
    return line.starts_with("WARC: ") && line.find("damaged record at offset") != std::string::npos;
  });
  EXPECT_NE(damage, log.end());
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& line) {
                           return line.starts_with("WARC: ") &&
                                  line.find("fehlt") != std::string::npos;
                         }),
            log.end());
  EXPECT_EQ(crawl.Words(), (Lines{"eins", "zwei", "dr\xE4i"}));
}

// Debian's wget crawls a site into an archive: replayed from the start
// page it gives the log and words of our live crawl, and harvested without
// links the same words.
TEST(CrawlArchive, WgetsArchiveGivesTheWordsOfTheLiveCrawl) {
  testsupport::NginxServer web;
  web.AddFile("/w/index.html",
              "<p>Hallo Welt</p><a href=zwei.html>zwei</a><a href=sub/drei.html>drei</a>");
  web.AddFile("/w/zwei.html", "<p>Zweite Seite, sch&ouml;n</p><a href=index.html>start</a>");
  web.AddFile("/w/sub/drei.html", "<p>Dritte Seite</p><a href=../zwei.html>zwei</a>");
  web.AddRedirect("/w/alt.html", 301, "/w/zwei.html");
  web.Start();
  const std::string start = web.Url("/w/index.html");
  const Outcome live = RunCrawl(start, {}, "");
  ASSERT_EQ(live.log.back(), "Done! (3 html files found...)...");

  testsupport::TempDirectory dir("tirasel-wget");
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(dir.Path().c_str()) == 0) {
      ::execl("/usr/bin/wget", "wget", "--quiet", "--recursive", "--level=inf", "--no-parent",
              "-e", "robots=off", "--warc-file=site", "--no-warc-keep-log", start.c_str(), nullptr);
    }
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  const std::string archive = (dir.Path() / "site.warc.gz").string();
  ASSERT_TRUE(std::filesystem::exists(archive)) << "wget exited with " << status;

  ExpectSame(RunCrawl(start, {}, "", {archive}), live, "wget's archive");
  RecordedCrawl harvest;
  harvest.start.Archives = {archive};
  harvest.Go("");
  const Lines words = harvest.Words();
  EXPECT_EQ(std::set<std::string>(words.begin(), words.end()),
            std::set<std::string>(live.words.begin(), live.words.end()));
  EXPECT_EQ(harvest.window.log.back(), "Done! (3 html files found...)...");
}

}  // namespace
