#include "AsciiCase.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(AsciiCase, MapsOnlyTheAsciiLettersWhateverTheOtherBytes) {
  // The neighbours of the letter ranges stay: @ [ ` { and the bytes 128 to
  // 255, among them the Windows-1252 letters ä Ä š Š.
  EXPECT_EQ(UpperAscii("az@[`{AZ \xE4\xC4\x9A\x8A"), "AZ@[`{AZ \xE4\xC4\x9A\x8A");
  EXPECT_EQ(LowerAscii("AZ@[`{az \xE4\xC4\x9A\x8A"), "az@[`{az \xE4\xC4\x9A\x8A");
  EXPECT_EQ(UpperAscii(std::string("a\0b", 3)), std::string("A\0B", 3));
  EXPECT_EQ(LowerAscii(""), "");
}

TEST(AsciiCase, ComparesWithoutRegardToAsciiCaseOnly) {
  EXPECT_TRUE(EqualIgnoringAsciiCase("Content-Type", "content-TYPE"));
  EXPECT_TRUE(EqualIgnoringAsciiCase("", ""));
  EXPECT_FALSE(EqualIgnoringAsciiCase("tcp", "tcp "));
  EXPECT_FALSE(EqualIgnoringAsciiCase("\xE4", "\xC4"));  // ä and Ä are no ASCII letters
  // Bytes that differ by 0x20 without being letters stay different.
  EXPECT_FALSE(EqualIgnoringAsciiCase("mailto\x1A", "mailto:"));
  EXPECT_FALSE(EqualIgnoringAsciiCase("@", "`"));

  EXPECT_TRUE(StartsWithIgnoringAsciiCase("HTTP://h/", "http:"));
  EXPECT_TRUE(StartsWithIgnoringAsciiCase("x", ""));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("htt", "http:"));
  EXPECT_FALSE(StartsWithIgnoringAsciiCase("<met", "<meta"));
}

}  // namespace
