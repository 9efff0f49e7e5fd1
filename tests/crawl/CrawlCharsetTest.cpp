// Crawls of today's pages served by nginx: character sets, fragment links,
// odd schemes and addresses with spaces and umlauts, and sites that move.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "CharsetSite.h"
#include "CrawlRun.h"
#include "LoopbackPeer.h"
#include "RecordedCrawl.h"
#include "NginxServer.h"
#include "TinyProxy.h"

namespace {

using Lines = std::vector<std::string>;

struct Crawl : RecordedCrawl {
  Crawl() { window.automatic = true; }
};

// The request targets in nginx's access log, once it holds `count` requests.
Lines RequestTargets(const testsupport::NginxServer& web, size_t count) {
  Lines targets;
  auto read = [&] {
    targets.clear();
    std::ifstream log(web.AccessLog());
    static const std::regex request("\"[A-Z]+ ([^ ]*) HTTP/1\\.[01]\"");
    std::smatch match;
    for (std::string line; std::getline(log, line);) {
      if (std::regex_search(line, match, request)) targets.push_back(match[1]);
    }
    return targets.size() >= count;
  };
  EXPECT_TRUE(testpeer::WaitUntil(read, 10000)) << targets.size() << " requests logged";
  return targets;
}

TEST(CrawlCharsets, GermanWordsAreTheSameInEveryCharset) {
  testsupport::NginxServer web;
  testsite::ServeCharsetPages(web);
  web.Start();
  Crawl twin;
  twin.Go(web.Url("/ohne.html"));
  const Lines expected = {"Seite",
                          "Wir",
                          "k\xF6nnen",
                          "die",
                          "Stra\xDF"
                          "e",
                          "nicht",
                          "\xFC"
                          "berm\xE4\xDFig",
                          "sperren",
                          "sagen",
                          "B\xE4ren",
                          "\x84heute\x93",
                          "f\xFCr",
                          "5",
                          "\x80"};
  ASSERT_EQ(twin.Words(), expected);
  for (const testsite::TCharsetPage& page : testsite::CharsetPages()) {
    Crawl crawl;
    crawl.Go(web.Url(page.Path));
    Lines words = crawl.Words();
    if (page.Path == "/fremd.html") {
      EXPECT_EQ(words.back(), "&#26085;&#26412;");
      EXPECT_EQ(words.at(words.size() - 2), "&#1084;&#1080;&#1088;");
      words.resize(words.size() - 2);
    }
    EXPECT_EQ(words, expected) << page.Path;
  }
}

TEST(CrawlCharsets, FragmentLinksFetchEachDocumentOnceAndNoRequestCarriesOne) {
  testsupport::NginxServer web;
  for (const auto& [path, body] : testsite::FragmentManual()) web.AddFile(path, body);
  web.Start();
  Crawl crawl;
  crawl.Go(web.Url("/handbuch/index.html"));
  const std::string root = web.Url("/handbuch/");
  // The queue and the log keep the addresses as the pages wrote them.
  EXPECT_EQ(crawl.Fetched(), (Lines{root + "index.html", root + "kapitel.html", root + "teil/",
                                    root + "mit leerzeichen.html", root + "m\xFCll.html"}));
  EXPECT_EQ(crawl.window.log.back(), "Done! (5 html files found...)...");
  // One request per document, percent-encoded, none with a fragment, none
  // for "javascript:" or "mailto:".
  EXPECT_EQ(RequestTargets(web, 5),
            (Lines{"/handbuch/index.html", "/handbuch/kapitel.html", "/handbuch/teil/",
                   "/handbuch/mit%20leerzeichen.html", "/handbuch/m%C3%BCll.html"}));
  EXPECT_TRUE(crawl.words.FindWord("Leerzeichen"));
  EXPECT_TRUE(crawl.words.FindWord("M\xFCll"));
  EXPECT_TRUE(crawl.words.FindWord("Teil"));
  EXPECT_TRUE(crawl.window.questions.empty());
}

// A site whose start address moved to another host name and directory:
// "127.0.0.1" to "localhost", "/alt/" to "/neu/". Through tinyproxy, whose
// relocations keep the server's port in the final address.
TEST(CrawlCharsets, ARelocatedStartPageMakesItsFinalDirectoryPartOfTheSite) {
  testsupport::NginxServer web;
  web.AddRedirect("/alt/", 301, "http://localhost:$server_port/neu/");
  web.Start();
  const std::string moved = "http://localhost:" + std::to_string(web.Port()) + "/neu/";
  // The absolute link lies in the final directory only, not under the start address.
  web.AddFile("/neu/index.html", "<p>Umgezogen</p><a href=\"seite.html\">relativ</a> <a href=\"" +
                                     moved + "unter/tief.html\">absolut</a>");
  web.AddFile("/neu/seite.html", "<p>Seite</p><a href=\"unter/\">unter</a>");
  web.AddFile("/neu/unter/index.html", "<p>Unten</p>");
  web.AddFile("/neu/unter/tief.html", "<p>Tief</p>");
  testsupport::TinyProxy proxy;
  proxy.Start();
  Crawl crawl;
  crawl.window.proxy = proxy.HostPort();
  crawl.Go(web.Url("/alt/"));
  EXPECT_EQ(crawl.Fetched(), (Lines{web.Url("/alt/"), moved + "seite.html",
                                    moved + "unter/tief.html", moved + "unter/"}));
  EXPECT_EQ(crawl.Words(),
            (Lines{"Umgezogen", "relativ", "absolut", "Seite", "unter", "Tief", "Unten"}));
  EXPECT_TRUE(crawl.window.questions.empty());
}

// A page moved to another directory: its relative links lead to its
// neighbours there, not beside the address it was queued under.
TEST(CrawlCharsets, ARelocatedPageResolvesItsLinksAgainstItsFinalDirectory) {
  testsupport::NginxServer web;
  web.AddRedirect("/a/alt.html", 302, "/a/neu/seite.html");
  web.AddFile("/a/index.html", "<a href=\"alt.html\">alt</a>");
  web.AddFile("/a/neu/seite.html", "<p>Neu</p><a href=\"nachbar.html\">Nachbar</a>");
  web.AddFile("/a/neu/nachbar.html", "<p>Nebenan</p>");
  web.Start();
  testsupport::TinyProxy proxy;
  proxy.Start();
  Crawl crawl;
  crawl.window.proxy = proxy.HostPort();
  crawl.Go(web.Url("/a/index.html"));
  EXPECT_EQ(crawl.Fetched(), (Lines{web.Url("/a/index.html"), web.Url("/a/alt.html"),
                                    web.Url("/a/neu/nachbar.html")}));
  EXPECT_TRUE(crawl.words.FindWord("Nebenan"));
  EXPECT_EQ(crawl.window.log.back(), "Done! (3 html files found...)...");
}

}  // namespace
