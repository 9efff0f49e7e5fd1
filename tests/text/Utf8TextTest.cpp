#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "CharsetDecode.h"
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

// Short texts are read without Qt's decoder: whatever the bytes, the result
// must be the decoder's, malformed sequences and characters without a byte
// included.
TEST(Utf8Text, ShortTextsReadAsTheDecoderReadsThem) {
  std::mt19937 random(20261209);
  const std::vector<std::string> pieces = {
      "a",        "\xC3\xA4",         "\xE2\x82\xAC", "\xD0\xBC",  "\xF0\x9F\x98\x80", "&#228;",
      "\xC2\x81", "\xEF\xBF\xBD",     "\xC3",         "\x80",      "\xED\xA0\x80",     "\xF4\x90\x80\x80",
      "\xE2\x82", "\xC0\xAF",         " ",            "\xEF\xBB\xBF"};
  for (int text = 0; text < 3000; ++text) {
    std::string utf8;
    const int count = static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) utf8 += pieces[random() % pieces.size()];
    if (text % 3 == 0) utf8 += static_cast<char>(random() % 256);
    ASSERT_EQ(Utf8ToCp1252(utf8), DecodeToCp1252(utf8, "utf-8")) << testing::PrintToString(utf8);
  }
  EXPECT_EQ(Utf8ToCp1252("M\xC3\xBCller \xE2\x82\xAC \xD0\xBC \xF0\x9F\x98\x80"),
            "M\xFCller \x80 &#1084; &#128512;");
}
