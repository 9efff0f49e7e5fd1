// Whole crawls of the fixture site served by nginx, directly and through
// tinyproxy, as the program meets real servers.
#include <gtest/gtest.h>

#include "CrawlRun.h"
#include "FixtureSite.h"
#include "LoopbackPeer.h"
#include "RecordingWindow.h"
#include "NginxServer.h"
#include "TempDirectory.h"
#include "TinyProxy.h"

namespace {

using Lines = std::vector<std::string>;

class CrawlRealServers : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [path, body] : testsite::FixtureSite()) web.AddFile(path, body);
    web.Start();
    root = web.Url("/");
  }

  // Runs a crawl from /a/index.html; returns the fetched addresses in order.
  Lines Crawl(RecordingWindow& window, WordList& words) {
    TCrawlRun run(words);
    TCrawlStart start;
    start.Address = root + "a/index.html";
    start.Http.Proxy = window.proxy;
    run.Run(start, window);
    testpeer::PumpFor(20);
    Lines fetched;
    for (const std::string& line : window.log) {
      if (line.starts_with("http://")) fetched.push_back(line);
    }
    return fetched;
  }
  Lines AutomaticOrder() const {
    Lines order;
    for (const char* path : testsite::kAutomaticOrder) order.push_back(root + path);
    return order;
  }

  testsupport::NginxServer web;
  std::string root;
};

TEST_F(CrawlRealServers, AutomaticModeWithNginx) {
  RecordingWindow window;
  window.automatic = true;
  WordList words;
  EXPECT_EQ(Crawl(window, words), AutomaticOrder());
  EXPECT_TRUE(window.questions.empty());
  EXPECT_EQ(window.log.back(), "Done! (7 html files found...)...");
  EXPECT_TRUE(words.FindWord("Rahmen"));
  EXPECT_TRUE(words.FindWord("Anders"));
  EXPECT_FALSE(words.FindWord("Ausland"));
  // nginx's own 404 page is never harvested: the failed page stops at Get.
  EXPECT_FALSE(words.FindWord("nginx"));
}

TEST_F(CrawlRealServers, QuestionsAnsweredYesAndNoWithNginx) {
  RecordingWindow yes;
  yes.answers = {true};
  WordList yesWords;
  Crawl(yes, yesWords);
  EXPECT_EQ(yes.questions, Lines{"Soll der Link zu \"" + root + "\" weiterverfolgt werden?"});
  EXPECT_TRUE(yesWords.FindWord("Ausland"));
  EXPECT_EQ(yes.log.back(), "Done! (8 html files found...)...");

  RecordingWindow no;
  WordList noWords;
  Crawl(no, noWords);
  EXPECT_EQ(no.questions.size(), 1u);
  EXPECT_FALSE(noWords.FindWord("Ausland"));
}

TEST_F(CrawlRealServers, ThroughTinyproxy) {
  testsupport::TinyProxy proxy;
  proxy.Start();
  RecordingWindow window;
  window.automatic = true;
  window.proxy = proxy.HostPort();
  WordList words;
  EXPECT_EQ(Crawl(window, words), AutomaticOrder());
  EXPECT_EQ(window.log.back(), "Done! (7 html files found...)...");
  EXPECT_TRUE(words.FindWord("Unterseite"));
  // Every page went through the proxy.
  EXPECT_NE(testsupport::ReadFile(proxy.Log()).find("a/sub/page.htm"), std::string::npos);
}

}  // namespace
