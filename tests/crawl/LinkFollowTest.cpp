#include "LinkFollow.h"

#include <gtest/gtest.h>

#include "RecordingWindow.h"

namespace {

struct Follow : ::testing::Test {
  TCrawlLists lists;
  RecordingWindow host;
  TLinkFollower follower{lists, host};

  void SetUp() override { lists.SiteBases = {"http://www.h.de/a/", "http://www.h.de/a/"}; }

  // Tokenizes one tag and hands it to HandleTag.
  void Tag(const std::string& raw) {
    THTMLTag tag;
    tag.Parse(raw);
    follower.HandleTag(tag);
  }
  std::vector<std::string> Queue() const {
    std::vector<std::string> out;
    for (size_t i = 0; i < lists.PageQueue.Count(); ++i) out.emplace_back(lists.PageQueue.At(i));
    return out;
  }
};

using Strings = std::vector<std::string>;

TEST(PageExtensions, FilterByUpperCasedPrefix) {
  for (const char* value : {"page.php?id=3", "index.htm#top", "dir/", "x.HTML", "x.aspx", "x.php4",
                            "x.plx", "noext", "javascript:void(0)"}) {
    EXPECT_TRUE(PassesExtensionFilter(value)) << value;
  }
  for (const char* value : {"logo.gif", "style.css", "file.pdf", "http://www.g.de/", "x.ht"}) {
    EXPECT_FALSE(PassesExtensionFilter(value)) << value;
  }
}

TEST_F(Follow, AnchorsInTheSiteAreQueuedAfterProcessingEvents) {
  Tag("a href=x.html");
  Tag("A HREF=\"sub/y.htm\" href=z.php");
  Tag("area href=");
  Tag("link rel=x href=logo.gif");
  Tag("img src=p.html");
  Tag("/a href=q.html");
  Tag("iframe src=r.html");
  EXPECT_EQ(Queue(), (Strings{"http://www.h.de/a/x.html", "http://www.h.de/a/sub/y.htm",
                              "http://www.h.de/a/z.php"}));
  EXPECT_EQ(host.eventsProcessed, 4);
  EXPECT_TRUE(host.questions.empty());
}

TEST_F(Follow, FramesFollowSrcAndDestEvenWhenEmpty) {
  Tag("frame src= dest=b.html name=n.html");
  EXPECT_EQ(Queue(), (Strings{"http://www.h.de/a/", "http://www.h.de/a/b.html"}));
  EXPECT_EQ(host.eventsProcessed, 1);
}

TEST_F(Follow, ForeignDirectoryIsAskedOnceAndRemembered) {
  host.answers = {false};
  Tag("a href=http://www.g.de/x/1.html");
  Tag("a href=http://www.g.de/x/2.html");
  ASSERT_EQ(host.questions,
            (Strings{"Soll der Link zu \"http://www.g.de/x/\" weiterverfolgt werden?"}));
  EXPECT_TRUE(Queue().empty());
  EXPECT_TRUE(lists.DeclinedSites.Contains("http://www.g.de/x/"));
  EXPECT_EQ(lists.DeclinedSites.Count(), 1u);
}

TEST_F(Follow, AcceptedDirectoryCoversItsSubdirectories) {
  host.answers = {true};
  Tag("a href=http://www.g.de/x/1.html");
  Tag("a href=http://www.g.de/x/2.html");
  Tag("a href=http://WWW.G.DE/x/sub/3.html");
  EXPECT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(lists.SiteBases.back(), "http://www.g.de/x/");
  EXPECT_EQ(Queue().size(), 3u);
}

TEST_F(Follow, AutomaticModeDeclinesSilentlyButParentLinksPass) {
  host.automatic = true;
  Tag("a href=http://www.g.de/x/1.html");
  Tag("a href=../../up.html");
  Tag("a href=http://www.h.de/up2.html");
  EXPECT_TRUE(host.questions.empty());
  EXPECT_EQ(Queue(), (Strings{"http:/up.html"}));
  EXPECT_TRUE(lists.DeclinedSites.Contains("http://www.h.de/"));
}

TEST_F(Follow, CaseDifferentLinkIsStillOnTheSite) {
  Tag("a href=HTTP://WWW.H.DE/A/Page.html");
  EXPECT_EQ(Queue(), (Strings{"HTTP://WWW.H.DE/A/Page.html"}));
}

TEST_F(Follow, RefreshStaysInTheCurrentDirectory) {
  lists.SiteBases[0] = "http://www.h.de/a/b/";
  Tag("meta http-equiv=refresh content=\"0; url=next.html\"");
  Tag("meta http-equiv=Refresh content=\"0; URL=http://www.g.de/x.html\"");
  Tag("meta http-equiv=refresh content=\"0; URL=../up.html\"");
  Tag("meta content=\"0; URL=a.html\" http-equiv=REFRESH");
  Tag("meta http-equiv=refresh content=\"0; url=n.html\" http-equiv=expires");
  Tag("meta http-equiv=refresh content=\"0; url=pic.gif\"");
  EXPECT_EQ(Queue(), (Strings{"http://www.h.de/a/b/next.html", "http://www.h.de/a/b/a.html",
                              "http://www.h.de/a/b/pic.gif"}));
  EXPECT_TRUE(host.questions.empty());
  EXPECT_EQ(host.eventsProcessed, 0);
}

TEST_F(Follow, FragmentsAreCutBeforeTheLinkRules) {
  Tag("a href=page.html#top");
  Tag("a href=\"#\"");
  Tag("a href=#abschnitt");
  Tag("a href=dir/#x");
  Tag("a href=sub/index.html#a/b");
  // The extension filter sees the value without its fragment.
  Tag("a href=logo.gif#x");
  Tag("frame src=#x");
  Tag("meta http-equiv=refresh content=\"0; url=#\"");
  Tag("meta http-equiv=refresh content=\"0; url=next.html#x\"");
  EXPECT_EQ(Queue(), (Strings{"http://www.h.de/a/page.html", "http://www.h.de/a/dir/",
                              "http://www.h.de/a/sub/index.html", "http://www.h.de/a/next.html"}));
  // "#x" named no directory, so nothing was asked or declined.
  EXPECT_TRUE(host.questions.empty());
  EXPECT_EQ(lists.DeclinedSites.Count(), 0u);
}

TEST_F(Follow, OtherSchemesThanHttpAreIgnored) {
  Tag("a href=\"javascript:void(0)\"");
  Tag("a href=mailto:info@h.de");
  Tag("a href=ftp://ftp.h.de/pub/");
  Tag("area href=TEL:+4930123");
  Tag("meta http-equiv=refresh content=\"0; url=javascript:go()\"");
  Tag("a href=https://www.h.de/a/s.html");
  EXPECT_EQ(Queue(), (Strings{}));
  EXPECT_EQ(host.questions,
            (Strings{"Soll der Link zu \"https://www.h.de/a/\" weiterverfolgt werden?"}));
}

TEST_F(Follow, QuestionsReadAutomaticModeAnew) {
  struct TickingHost : RecordingWindow {
    bool AskYesNo(const std::string& caption, const std::string& text) override {
      automatic = true;  // the user ticks the box while the question is open
      return RecordingWindow::AskYesNo(caption, text);
    }
  } ticking;
  TLinkFollower local(lists, ticking);
  THTMLTag first, second;
  first.Parse("a href=http://www.g.de/1.html");
  second.Parse("a href=http://www.k.de/2.html");
  local.HandleTag(first);
  local.HandleTag(second);
  EXPECT_EQ(ticking.questions.size(), 1u);
  EXPECT_EQ(lists.DeclinedSites.Count(), 2u);
}

}  // namespace
