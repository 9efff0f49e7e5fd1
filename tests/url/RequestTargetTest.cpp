#include "RequestTarget.h"

#include <gtest/gtest.h>

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
