#include <gtest/gtest.h>

#include "GermanWords.h"
#include "Utf8Text.h"

TEST(Utf8Text, Windows1252AndReferencesRoundTrip) {
  EXPECT_EQ(Cp1252ToUtf8(kCp1252Words), kUtf8Words);
  EXPECT_EQ(Cp1252ToUtf8("&#1084;&#1080;&#1088; &#128512; \x80"),
            "\xD0\xBC\xD0\xB8\xD1\x80 \xF0\x9F\x98\x80 \xE2\x82\xAC");
  // References of characters that have a byte, and malformed ones, stay text.
  EXPECT_EQ(Cp1252ToUtf8("&#228; &#1084 &#; &#x43C; &#55296; &#99999999;"),
            "&#228; &#1084 &#; &#x43C; &#55296; &#99999999;");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");
  for (const std::string& text :
       {kCp1252Words, std::string("&#1084;x&#128;\x81\x9D"), std::string("\x80\x9F\xFF")}) {
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(text)), text);
  }
  EXPECT_EQ(Utf8ToCp1252("\xEF\xBB\xBF"
                         "abc"),
            "abc");
}

TEST(Utf8Text, IsUtf8TextNeedsAMarkOrAValidMultiByteSequence) {
  EXPECT_TRUE(IsUtf8Text(kUtf8Words));
  EXPECT_TRUE(
      IsUtf8Text("\xEF\xBB\xBF"
                 "abc"));
  EXPECT_FALSE(IsUtf8Text("abc"));
  EXPECT_FALSE(IsUtf8Text(""));
  EXPECT_FALSE(IsUtf8Text(kCp1252Words));
  EXPECT_FALSE(IsUtf8Text(kUtf8Words + "\xF6"));
  EXPECT_FALSE(IsUtf8Text("\xC3"));
}
