#include <gtest/gtest.h>

#include "LinkValue.h"

namespace {

std::string Seen(std::string_view value) {
  std::optional<std::string_view> followable = FollowableLinkValue(value);
  return followable ? "[" + std::string(*followable) + "]" : "ignored";
}

}  // namespace

TEST(FollowableLinkValue, FragmentsAreCutAndAPageItselfIsIgnored) {
  EXPECT_EQ(Seen("page.html#top"), "[page.html]");
  EXPECT_EQ(Seen("page.html#a#b"), "[page.html]");
  EXPECT_EQ(Seen("dir/#x"), "[dir/]");
  EXPECT_EQ(Seen("http://h.de/a.html?x=1#y"), "[http://h.de/a.html?x=1]");
  EXPECT_EQ(Seen("#"), "ignored");
  EXPECT_EQ(Seen("#top"), "ignored");
  EXPECT_EQ(Seen("page.html"), "[page.html]");
  // An empty value had no fragment: it keeps its meaning (a frame's own directory).
  EXPECT_EQ(Seen(""), "[]");
  // The "#" of a numeric character reference is text, not a fragment: link
  // values keep the references as the page wrote them.
  EXPECT_EQ(Seen("&#1084;&#1080;.html#x"), "[&#1084;&#1080;.html]");
  EXPECT_EQ(Seen("k&#228;se.html"), "[k&#228;se.html]");
  EXPECT_EQ(Seen("list.php?a=1&#38;b=2#x"), "[list.php?a=1&#38;b=2]");
  EXPECT_EQ(Seen("&#x438;.html"), "[&#x438;.html]");
}

TEST(FollowableLinkValue, OnlyHttpAndHttpsSchemes) {
  for (const char* value :
       {"mailto:a@h.de", "javascript:void(0)", "JavaScript:go()", "ftp://h.de/x.html",
        "tel:+49301234", "data:text/html,x", "news:x", "git+ssh://h/x"}) {
    EXPECT_EQ(Seen(value), "ignored") << value;
  }
  for (const char* value :
       {"http://h.de/", "HTTPS://h.de/x.html", "www.h.de:8080/x.html", "WWW.h.de",
        "page.html?u=mailto:x", "dir/a:b.html", "./x:y.html", "1x:y.html", "/a:b"}) {
    EXPECT_NE(Seen(value), "ignored") << value;
  }
  EXPECT_EQ(Seen("javascript:x#y"), "ignored");
}
