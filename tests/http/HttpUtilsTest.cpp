#include <gtest/gtest.h>

#include <limits>

#include "HttpUtils.h"

namespace {

std::string Parts(const std::string& url) {
  TUrlParts p = SplitUrl(url);
  return p.Proto + "|" + p.User + "|" + p.Pass + "|" + p.Host + "|" + p.Port + "|" + p.Path;
}

}  // namespace

TEST(SplitUrl, FullAddressAndAuthorityForms) {
  EXPECT_EQ(Parts("http://u:p@h:81/a/b?c=d"), "http|u|p|h|81|/a/b?c=d");
  EXPECT_EQ(Parts("h"), "|||h||");
  EXPECT_EQ(Parts("h:81"), "|||h|81|");
  EXPECT_EQ(Parts("u@h"), "|u||h||");
  EXPECT_EQ(Parts("u:p@h"), "|u|p|h||");
  EXPECT_EQ(Parts("HTTPS://Host.Example/x"), "HTTPS|||Host.Example||/x");
  EXPECT_EQ(Parts(""), "|||||");
}

TEST(SplitUrl, PathsSchemesAndOddities) {
  EXPECT_EQ(Parts("/a/b"), "http|||||/a/b");
  EXPECT_EQ(Parts("/"), "http|||||");
  EXPECT_EQ(Parts("//h/x"), "http|||||/h/x");
  EXPECT_EQ(Parts("http:/x"), "http|||||/x");
  EXPECT_EQ(Parts("Http:"), "http|||||");
  EXPECT_EQ(Parts("mailto:u@h"), "mailto|u||h||");
  EXPECT_EQ(Parts("x/y?u=http://z"), "x/y?u=http|||z||");
  EXPECT_EQ(Parts("h/p:q@r"), "|||h||/p:q@r");  // only the authority is split
}

TEST(LastPos, FindsTheLastOccurrence) {
  EXPECT_EQ(LastPos("/", "/a/b"), 3u);
  EXPECT_EQ(LastPos("ab", "abxab"), 4u);
  EXPECT_EQ(LastPos("z", "abc"), 0u);
  EXPECT_EQ(LastPos("a", ""), 0u);
}

TEST(EncodeBase64, PaddingAndBinaryBytes) {
  EXPECT_EQ(EncodeBase64(""), "");
  EXPECT_EQ(EncodeBase64("a"), "YQ==");
  EXPECT_EQ(EncodeBase64("ab"), "YWI=");
  EXPECT_EQ(EncodeBase64("abc"), "YWJj");
  EXPECT_EQ(EncodeBase64("user:pass"), "dXNlcjpwYXNz");
  EXPECT_EQ(EncodeBase64(std::string("\xff\xfe\x00\xe4", 4)), "//4A5A==");
  EXPECT_EQ(EncodeBase64(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(FormatHttpDate, WeekdayPaddingAndTime) {
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2026, 12, 6, 17, 27, 53)), "Sun, 06 Dec 2026 17:27:53");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2027, 3, 1, 5, 4, 3)), "Mon, 01 Mar 2027 05:04:03");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2000, 2, 29, 0, 0, 0)), "Tue, 29 Feb 2000 00:00:00");
  EXPECT_EQ(FormatHttpDate(1.0), "Sun, 31 Dec 1899 00:00:00");
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 12, 0, 0), 0.5);
}

TEST(FormatHttpDate, ValuesOutsideTheCalendarClampToItsEnds) {
  const std::string first = "Mon, 01 Jan 0001 00:00:00";
  const std::string last = "Fri, 31 Dec 9999 23:59:59";
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(1, 1, 1, 0, 0, 0)), first);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(9999, 12, 31, 23, 59, 59)), last);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(1, 1, 1, 0, 0, 0) - 1), first);
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(9999, 12, 31, 23, 59, 59) + 0.5), last);
  EXPECT_EQ(FormatHttpDate(1e18), last);
  EXPECT_EQ(FormatHttpDate(1e300), last);
  EXPECT_EQ(FormatHttpDate(-1e300), first);
  EXPECT_EQ(FormatHttpDate(std::numeric_limits<double>::infinity()), last);
  EXPECT_EQ(FormatHttpDate(-std::numeric_limits<double>::infinity()), first);
  // NaN has no place in the calendar: it takes the earliest date.
  EXPECT_EQ(FormatHttpDate(std::numeric_limits<double>::quiet_NaN()), first);
}

TEST(DocumentNames, ExtensionsAndPaths) {
  std::string name = "run.exe";
  ReplaceExtension(name, "htm");
  EXPECT_EQ(name, "run.htm");
  name = "run";
  ReplaceExtension(name, "htm");
  EXPECT_EQ(name, "run.htm");
  name = "a.b.c";
  ReplaceExtension(name, "d");
  EXPECT_EQ(name, "a.b.d");

  EXPECT_EQ(DocumentNameOf(""), "document.htm");
  EXPECT_EQ(DocumentNameOf("/"), "document.htm");
  EXPECT_EQ(DocumentNameOf("/dir/"), "dir");
  EXPECT_EQ(DocumentNameOf("/dir/page.html?x=1"), "page.html");
  EXPECT_EQ(DocumentNameOf("/?x"), "");
  EXPECT_EQ(DocumentNameOf("/a?u=/b/c.htm"), "c.htm");  // a "/" in the query counts
  EXPECT_EQ(DocumentNameOf("/" + std::string(300, 'n')), std::string(255, 'n'));
}

TEST(Copy, ClampsLikeAPieceOfText) {
  EXPECT_EQ(Copy("abc", 0, 2), "ab");
  EXPECT_EQ(Copy("abc", 2, 10), "bc");
  EXPECT_EQ(Copy("abc", 2, -1), "");
  EXPECT_EQ(Copy("abc", 4, 1), "");
}

TEST(RequestTargetOf, CutsTheFragmentAndPercentEncodesWhatHttpDoesNotAllow) {
  EXPECT_EQ(RequestTargetOf("/a/b.html?x=1&y=2"), "/a/b.html?x=1&y=2");
  EXPECT_EQ(RequestTargetOf("/a b.html"), "/a%20b.html");
  EXPECT_EQ(RequestTargetOf("/page.html#top"), "/page.html");
  EXPECT_EQ(RequestTargetOf("http://h.de:81/x.html#a#b"), "http://h.de:81/x.html");
  EXPECT_EQ(RequestTargetOf("/q?\"<x>\"\t\x7F"), "/q?%22%3Cx%3E%22%09%7F");
  // Bytes 128 to 255 are Windows-1252 characters, sent in UTF-8 as browsers do.
  EXPECT_EQ(RequestTargetOf("/m\xFCll.html"), "/m%C3%BCll.html");
  EXPECT_EQ(RequestTargetOf("/\x80"), "/%E2%82%AC");
  // A character written "&#N;" is one character, and its "#" no fragment.
  EXPECT_EQ(RequestTargetOf("/&#1084;&#1080;.html#x"), "/%D0%BC%D0%B8.html");
  // So is one the page wrote for a character with a Windows-1252 byte: it
  // once cut the address at its "#".
  EXPECT_EQ(RequestTargetOf("/a&#228;b"), "/a%C3%A4b");
  EXPECT_EQ(RequestTargetOf("/list.php?a=1&#38;b=2&#x26;c=3"), "/list.php?a=1&b=2&c=3");
  EXPECT_EQ(RequestTargetOf("/k&#X0E4;se.html#x"), "/k%C3%A4se.html");
  // A "#" named by a reference is no fragment on the wire either; a number
  // that names no character is U+FFFD.
  EXPECT_EQ(RequestTargetOf("/a&#35;b&#0;&#xD800;&#99999999999;"),
            "/a%23b%EF%BF%BD%EF%BF%BD%EF%BF%BD");
  // Percent signs, encoded or not, stay as written.
  EXPECT_EQ(RequestTargetOf("/a%20b%zz%"), "/a%20b%zz%");
  EXPECT_EQ(RequestTargetOf(""), "");
}

TEST(FragmentStart, FirstHashOutsideACharacterReference) {
  EXPECT_EQ(FragmentStart("a#b"), 1u);
  EXPECT_EQ(FragmentStart("#"), 0u);
  EXPECT_EQ(FragmentStart("abc"), std::string_view::npos);
  EXPECT_EQ(FragmentStart("&#1084;#x"), 7u);
  EXPECT_EQ(FragmentStart("&#1084"), 1u);  // unfinished: a plain "#"
  EXPECT_EQ(FragmentStart("list.php?a=1&#38;b=2"), std::string_view::npos);
  EXPECT_EQ(FragmentStart("k&#228;se.html#teil"), 14u);
  EXPECT_EQ(FragmentStart("&#x1F600;#a"), 9u);
  EXPECT_EQ(FragmentStart("&#x;#a"), 1u);  // no digits: a plain "#"
}
