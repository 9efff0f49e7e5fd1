// The crawl run against a loopback web site, through a window that records
// what the run does to it and answers its questions from a script.
#include "CrawlRun.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>

#include "FixtureSite.h"
#include "RecordedCrawl.h"
#include "SiteServer.h"

namespace {

using testpeer::SiteServer;
using Lines = std::vector<std::string>;
using Pages = std::map<std::string, std::string>;

using Crawl = RecordedCrawl;

std::string Done(int count) {
  return "Done! (" + std::to_string(count) + " html files found...)...";
}

TEST(CrawlRun, AutomaticModeStaysOnTheSite) {
  SiteServer site(testsite::FixtureSite());
  Crawl crawl;
  crawl.window.automatic = true;
  std::string root = site.Root();
  crawl.Go(root + "a/index.html");
  EXPECT_TRUE(crawl.window.questions.empty());
  // The refresh comes first (it stands in the head); "../" is followed; a root
  // link to another directory is declined silently from the start page, but
  // followed from a page in the root directory itself.
  const Lines expected = {root + "a/index.html",   root + "a/refresh.html",
                          root + "a/sub/page.htm", root + "up.html",
                          root + "a/missing.html", "Error...",
                          root + "a/Index.html",   root + "a/frame.php?x=1",
                          root + "b/other.html",   Done(7)};
  EXPECT_EQ(crawl.window.log, expected);
  EXPECT_EQ(crawl.words.FindWord("Ausland"), std::nullopt);
  EXPECT_TRUE(crawl.words.FindWord("Anders"));
  EXPECT_TRUE(crawl.words.FindWord("Erneuert"));
  EXPECT_TRUE(
      crawl.words.FindWord("zur\xFC"
                           "ck"));
  EXPECT_TRUE(crawl.words.FindWord("Welt"));
  EXPECT_EQ(crawl.window.countLabel, WordCountLabel(crawl.words.WordCount()));
}

TEST(CrawlRun, QuestionsOncePerForeignDirectory) {
  SiteServer site(testsite::FixtureSite());
  Crawl crawl;
  crawl.window.answers = {true};
  std::string root = site.Root();
  crawl.Go(root + "a/index.html");
  // A root link's directory part is the host's root: asked once (Yes), and
  // every later link on the host is followed without asking.
  ASSERT_EQ(crawl.window.questions,
            Lines{"Soll der Link zu \"" + root + "\" weiterverfolgt werden?"});
  EXPECT_TRUE(crawl.words.FindWord("Ausland"));
  EXPECT_TRUE(crawl.words.FindWord("Anders"));
  EXPECT_EQ(crawl.window.log.back(), Done(8));

  Crawl declining;
  declining.window.answers = {false};
  declining.Go(root + "a/index.html");
  EXPECT_EQ(declining.window.questions.size(), 1u);
  EXPECT_FALSE(declining.words.FindWord("Ausland"));
  EXPECT_EQ(declining.window.log.back(), Done(7));
}

TEST(CrawlRun, BusyAroundTheRunAndEmptyAddressDoesNothing) {
  SiteServer site(Pages{{"/x.html", "<p>x</p>"}});
  Crawl crawl;
  crawl.Go("");
  EXPECT_TRUE(crawl.window.busy.empty());
  EXPECT_TRUE(crawl.window.log.empty());

  crawl.window.onLog = [&](const std::string&) {
    EXPECT_EQ(crawl.window.busy, Lines{"busy"});
    EXPECT_TRUE(crawl.run.Running());
  };
  crawl.Go(site.Root() + "x.html");
  EXPECT_EQ(crawl.window.busy, (Lines{"busy", "idle"}));
  EXPECT_FALSE(crawl.run.Running());
}

TEST(CrawlRun, UnreachableStartPageAndWwwCompletion) {
  Crawl crawl;
  std::string port = std::to_string(testpeer::UnusedPort());
  crawl.Go("http://127.0.0.1:" + port + "/");
  // The request-done event comes before Get fails, so its line precedes "Error...".
  EXPECT_EQ(crawl.window.log,
            (Lines{"http://127.0.0.1:" + port + "/", "HTTP Fehler: 10061", "Error...", Done(0)}));

  crawl.Go("www.tirasel.invalid");
  ASSERT_FALSE(crawl.window.log.empty());
  EXPECT_EQ(crawl.window.log,
            (Lines{"http://www.tirasel.invalid/", "HTTP Fehler: 11001", "Error...", Done(0)}));
}

TEST(CrawlRun, TwoRunsKeepTheWordsAndShowOnlyTheSecondLog) {
  SiteServer site(Pages{{"/one.html", "<p>eins</p>"}, {"/two.html", "<p>zwei</p>"}});
  Crawl crawl;
  crawl.Go(site.Root() + "one.html");
  crawl.Go(site.Root() + "two.html");
  EXPECT_EQ(crawl.Words(), (Lines{"eins", "zwei"}));
  EXPECT_EQ(crawl.window.log, (Lines{site.Root() + "two.html", Done(1)}));
}

TEST(CrawlRun, AbbrechenDuringTheThirdPageEndsTheRun) {
  SiteServer site(Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a><a href=4.html>4</a>"},
                        {"/2.html", "<p>zwei</p>"},
                        {"/4.html", "<p>vier</p>"}},
                  "/3.html");
  Crawl crawl;
  site.WhenRequested("/3.html", [&] { crawl.run.Stop(); });
  crawl.Go(site.Root() + "1.html");
  site.Release();
  EXPECT_EQ(crawl.window.log,
            (Lines{site.Root() + "1.html", site.Root() + "2.html", site.Root() + "3.html",
                   "HTTP Fehler: 3", "Error...", Done(2)}));
  EXPECT_FALSE(crawl.run.Running());
  // The next run starts afresh.
  crawl.Go(site.Root() + "2.html");
  EXPECT_EQ(crawl.window.log, (Lines{site.Root() + "2.html", Done(1)}));
}

// A page whose data keeps coming as fast as the connection takes it (an
// endless body, endless header lines) must not keep the run from the
// window's events: "Abbrechen", posted as a Qt event once the flood is under
// way, ends the run.
TEST(CrawlRun, AbbrechenEndsTheRunWhilePageDataKeepsArriving) {
  for (testpeer::TFlood kind : {testpeer::TFlood::Body, testpeer::TFlood::HeaderLines}) {
    SiteServer site(Pages{{"/1.html", "<p>eins</p><a href=flood.html>f</a><a href=3.html>3</a>"},
                          {"/3.html", "<p>drei</p>"}});
    site.Flood("/flood.html", kind);
    Crawl crawl;
    site.WhenFlooded(std::int64_t{1} << 20, [&] { crawl.run.Stop(); });
    crawl.Go(site.Root() + "1.html");
    EXPECT_EQ(crawl.window.log, (Lines{site.Root() + "1.html", site.Root() + "flood.html",
                                       "HTTP Fehler: 3", "Error...", Done(1)}));
    EXPECT_TRUE(testpeer::WaitUntil([&] { return site.FloodCutOff(); })) << site.FloodSent();
    EXPECT_FALSE(crawl.words.FindWord("drei"));
  }
}

TEST(CrawlRun, AktuelleDateiAbbrechenSkipsOnlyThatPage) {
  SiteServer site(
      Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}},
      "/2.html");
  Crawl crawl;
  site.WhenRequested("/2.html", [&] {
    crawl.run.SkipPage();
    site.Release();
  });
  crawl.Go(site.Root() + "1.html");
  EXPECT_EQ(crawl.window.log,
            (Lines{site.Root() + "1.html", site.Root() + "2.html", "HTTP Fehler: 3", "Error...",
                   site.Root() + "3.html", Done(2)}));
  EXPECT_TRUE(crawl.words.FindWord("drei"));
}

// A "../" link on a root page resolves to "http:/x.html", and a start
// address without "//" makes its links name no host either: each such page
// fails like a host that does not exist, and the client fetches the next one
// (it once stayed busy, and every later page failed without a request).
TEST(CrawlRun, AnAddressWithoutHostFailsAndTheRunGoesOn) {
  SiteServer site(Pages{{"/index.html", "<a href=../x.html>x</a><a href=2.html>2</a>"},
                        {"/2.html", "<p>zwei</p>"}});
  Crawl crawl;
  crawl.Go(site.Root() + "index.html");
  EXPECT_EQ(crawl.window.log,
            (Lines{site.Root() + "index.html", "http:/x.html", "HTTP Fehler: 11001", "Error...",
                   site.Root() + "2.html", Done(2)}));
  EXPECT_TRUE(crawl.words.FindWord("zwei"));

  Crawl hostless;
  hostless.window.answers = {true};  // follow "/" (the root link's directory)
  const std::string start = "127.0.0.1:" + site.PortText() + "/index.html";
  hostless.Go(start);
  EXPECT_EQ(hostless.window.log, (Lines{start, "/x.html", "HTTP Fehler: 11001", "Error...",
                                        "2.html", "HTTP Fehler: 11001", "Error...", Done(1)}));
}

}  // namespace

namespace {

TEST(CrawlRunOptions, TimeoutAbortsAStalledDownloadAsAktuelleDateiAbbrechen) {
  SiteServer site(
      Pages{{"/1.html", "<a href=2.html>2</a><a href=3.html>3</a>"}, {"/3.html", "<p>drei</p>"}},
      "/2.html");
  Crawl crawl;
  crawl.start.Http.TimeoutMs = 300;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] { crawl.run.WatchDownload(); });
  watch.start(20);
  crawl.Go(site.Root() + "1.html");
  site.Release();
  EXPECT_EQ(crawl.window.log,
            (Lines{site.Root() + "1.html", site.Root() + "2.html", "HTTP Fehler: 3", "Error...",
                   site.Root() + "3.html", Done(2)}));
  EXPECT_TRUE(crawl.words.FindWord("drei"));
}

TEST(CrawlRunOptions, MaxPagesCountsFetchedPagesOnly) {
  SiteServer site(
      Pages{{"/1.html", "<a href=missing.html>m</a><a href=2.html>2</a><a href=3.html>3</a>"},
            {"/2.html", "<p>zwei</p>"},
            {"/3.html", "<p>drei</p>"}});
  Crawl crawl;
  crawl.start.Options.MaxPages = 2;
  crawl.Go(site.Root() + "1.html");
  EXPECT_EQ(crawl.window.log, (Lines{site.Root() + "1.html", site.Root() + "missing.html",
                                     "Error...", site.Root() + "2.html", Done(2)}));
  // The next run starts afresh.
  crawl.Go(site.Root() + "3.html");
  EXPECT_EQ(crawl.window.log, (Lines{site.Root() + "3.html", Done(1)}));
}

}  // namespace
