#include "UrlResolve.h"

#include <gtest/gtest.h>

namespace {

std::string Resolved(const std::string& ref) {
  return ResolveRelativeUrl("http://h.de/a/b?q=1#f", ref);
}

TEST(RemoveDotSegments, DropsDotsAndClimbsNoHigherThanTheRoot) {
  EXPECT_EQ(RemoveDotSegments("/a/./b/../c"), "/a/c");
  EXPECT_EQ(RemoveDotSegments("/a/b/c"), "/a/b/c");
  EXPECT_EQ(RemoveDotSegments("/../../x"), "/x");
  EXPECT_EQ(RemoveDotSegments("/"), "/");
  // A path that ends in a dot segment names a directory.
  EXPECT_EQ(RemoveDotSegments("/a/b/.."), "/a/");
  EXPECT_EQ(RemoveDotSegments("/a/."), "/a/");
  EXPECT_EQ(RemoveDotSegments("/.."), "/");
  // Only whole segments of one or two dots are steps; empty segments stay.
  EXPECT_EQ(RemoveDotSegments("/a/.../.b/c../"), "/a/.../.b/c../");
  EXPECT_EQ(RemoveDotSegments("/a//b/../c"), "/a//c");
}

TEST(ResolveRelativeUrl, AQueryOrAFragmentAloneKeepsThePath) {
  EXPECT_EQ(Resolved("#top"), "http://h.de/a/b?q=1#top");
  EXPECT_EQ(Resolved("?q=2"), "http://h.de/a/b?q=2");
  EXPECT_EQ(Resolved("?q=2#top"), "http://h.de/a/b?q=2#top");
  EXPECT_EQ(Resolved(""), "http://h.de/a/b?q=1#f");
}

TEST(ResolveRelativeUrl, ASlashReplacesThePathAndTwoReplaceTheHost) {
  EXPECT_EQ(Resolved("/x/../y?z#w"), "http://h.de/y?z#w");
  EXPECT_EQ(Resolved("//other.de/x"), "http://other.de/x");
  EXPECT_EQ(ResolveRelativeUrl("https://u@h.de:8443/a/b", "/c"), "https://u@h.de:8443/c");
}

TEST(ResolveRelativeUrl, ARelativePathReplacesTheLastSegment) {
  EXPECT_EQ(Resolved("c.html"), "http://h.de/a/c.html");
  EXPECT_EQ(Resolved("../c.html"), "http://h.de/c.html");
  EXPECT_EQ(Resolved("./c/./d"), "http://h.de/a/c/d");
  EXPECT_EQ(Resolved(".."), "http://h.de/");
  EXPECT_EQ(ResolveRelativeUrl("http://h.de", "c"), "http://h.de/c");
  EXPECT_EQ(ResolveRelativeUrl("http://h.de/a/", "c"), "http://h.de/a/c");
  // A slash in the base's query is no directory.
  EXPECT_EQ(ResolveRelativeUrl("http://h.de/a/b?u=/x/y", "c"), "http://h.de/a/c");
}

TEST(ResolveRelativeUrl, WithoutAnAbsoluteBaseTheReferenceStays) {
  EXPECT_EQ(ResolveRelativeUrl("/a/b", "c"), "c");
  EXPECT_EQ(ResolveRelativeUrl("", "../c"), "../c");
}

}  // namespace
