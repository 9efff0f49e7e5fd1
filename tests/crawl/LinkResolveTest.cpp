#include "LinkResolve.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kBase = "http://www.h.de/a/b/";

std::string Resolved(std::string_view link, std::string_view base = kBase) {
  TLinkParts parts = ResolveAgainstBase(link, base);
  return parts.LinkDir + "|" + parts.LinkFile;
}

TEST(ResolveLink, RelativeLinksAgainstTheBase) {
  TLinkParts plain = ResolveLink("page.html", kBase);
  EXPECT_EQ(plain.LinkDir, "");
  EXPECT_EQ(plain.LinkFile, "page.html");

  EXPECT_EQ(Resolved("page.html"), "http://www.h.de/a/b/|page.html");
  EXPECT_EQ(Resolved("./page.html"), "http://www.h.de/a/b/|page.html");
  EXPECT_EQ(Resolved("sub/page.html"), "http://www.h.de/a/b/|sub/page.html");
  EXPECT_EQ(Resolved("#top"), "http://www.h.de/a/b/|#top");
  EXPECT_EQ(Resolved(""), "http://www.h.de/a/b/|");
  // Only a leading "./" is removed, and only once.
  EXPECT_EQ(Resolved("././x.html"), "http://www.h.de/a/b/|./x.html");
  EXPECT_EQ(Resolved("sub/../x.html"), "http://www.h.de/a/b/|sub/../x.html");
}

TEST(ResolveLink, ParentRule) {
  EXPECT_EQ(Resolved("../page.html"), "http://www.h.de/a/|page.html");
  EXPECT_EQ(Resolved("../../page.html"), "http://www.h.de/|page.html");
  EXPECT_EQ(Resolved("../../../page.html"), "http:/|page.html");
  EXPECT_EQ(Resolved("./../page.html"), "http://www.h.de/a/|page.html");
  // More steps than there are levels cut into the scheme and then stop changing.
  EXPECT_EQ(Resolved("../../../../../../../../x"), "http:/|x");
  EXPECT_EQ(Resolved("../x", ""), "/|x");
  EXPECT_EQ(Resolved("../../x", "abc"), "abc/|x");
}

TEST(ResolveLink, ParentRuleWithHugeInputStaysLinear) {
  std::string link;
  for (int i = 0; i < 200000; ++i) link += "../";
  link += "x";
  std::string base(100000, 'a');
  base += "/";
  EXPECT_EQ(Resolved(link, base), base + "|x");
}

TEST(ResolveLink, RootRule) {
  EXPECT_EQ(Resolved("/x/page.html"), "http://www.h.de/|x/page.html");
  EXPECT_EQ(Resolved("/x/page.html", "http://k/a/"), "http://k/a/|x/page.html");
  EXPECT_EQ(Resolved("/x.html", ""), "/|x.html");
  // Two leading slashes take the root rule too.
  EXPECT_EQ(Resolved("//www.g.de/x.html"), "http://www.h.de/|/www.g.de/x.html");
}

TEST(ResolveLink, AddressRule) {
  EXPECT_EQ(Resolved("www.g.de/page.html"), "http://www.g.de/|page.html");
  EXPECT_EQ(Resolved("WwW.g.de/page.html"), "http://WwW.g.de/|page.html");
  EXPECT_EQ(Resolved("http://www.g.de"), "http://www.g.de/|");
  EXPECT_EQ(Resolved("http://www.g.de/dir"), "http://www.g.de/dir/|");
  EXPECT_EQ(Resolved("http://www.g.de/dir/"), "http://www.g.de/dir/|");
  EXPECT_EQ(Resolved("http://www.g.de/dir/index.html"), "http://www.g.de/dir/|index.html");
  EXPECT_EQ(Resolved("http://www.g.de/r4.2"), "http://www.g.de/|r4.2");
  EXPECT_EQ(Resolved("http://www.g.de/page.php?x=a/b"), "http://www.g.de/page.php?x=a/b/|");
  // "www." completion gives a directory when there is no path at all.
  EXPECT_EQ(Resolved("www.g.de"), "http://www.g.de/|");
  // Three slashes in a row count as two double slashes.
  EXPECT_EQ(Resolved("http:///x.html"), "http:///|x.html");
}

TEST(IsUnderBase, PrefixWithoutAsciiCase) {
  const std::string entry = "http://www.h.de/a/";
  EXPECT_TRUE(IsUnderBase("HTTP://WWW.H.DE/A/B/", entry));
  EXPECT_TRUE(IsUnderBase(entry, entry));
  EXPECT_FALSE(IsUnderBase("http://www.h.de/", entry));
  EXPECT_FALSE(IsUnderBase("http://www.g.de/a/", entry));
  EXPECT_TRUE(IsUnderBase("", ""));
  EXPECT_FALSE(IsUnderBase("x/", ""));
  // Only ASCII letters are folded.
  EXPECT_FALSE(IsUnderBase("http://\xc4/", "http://\xe4/"));
  // A host that merely begins with the same characters counts as under it.
  EXPECT_TRUE(IsUnderBase("http://www.h.de.evil/", "http://www.h.de"));
}

TEST(FileExtension, LastFullStopUnlessBackslashOrColonFollows) {
  EXPECT_EQ(FileExtension("index.html"), ".html");
  EXPECT_EQ(FileExtension("page.asp?id=3"), ".asp?id=3");
  EXPECT_EQ(FileExtension("dir"), "");
  EXPECT_EQ(FileExtension("http://www.g.de/dir/"), ".de/dir/");
  EXPECT_EQ(FileExtension("javascript:void(0)"), "");
  EXPECT_EQ(FileExtension("a.b\\c"), "");
  EXPECT_EQ(FileExtension(""), "");
}

TEST(EnsureSlash, AppendsOnlyWhenMissing) {
  std::string text;
  EnsureSlash(text);
  EXPECT_EQ(text, "/");
  EnsureSlash(text);
  EXPECT_EQ(text, "/");
  text = "a";
  EnsureSlash(text);
  EXPECT_EQ(text, "a/");
}

}  // namespace
