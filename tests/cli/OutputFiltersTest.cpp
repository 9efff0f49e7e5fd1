#include "OutputFilters.h"

#include <gtest/gtest.h>

#include <random>

namespace {

WordList ListOf(std::initializer_list<const char*> captions) {
  WordList words;
  for (const char* caption : captions) words.AddWord(caption);
  return words;
}

TEST(OutputFilters, LengthCountsReferencesAsOneCharacter) {
  EXPECT_EQ(CharacterLength(""), 0u);
  EXPECT_EQ(CharacterLength("Haus"), 4u);
  EXPECT_EQ(CharacterLength("\xC4rger"), 5u);      // Windows-1252: one byte, one character
  EXPECT_EQ(CharacterLength("Stra&#8364;e"), 6u);  // 12 bytes
  EXPECT_EQ(CharacterLength("&#8364;&#8364;"), 2u);
  // Not references: no digits, no semicolon, cut short.
  EXPECT_EQ(CharacterLength("&#;"), 3u);
  EXPECT_EQ(CharacterLength("&#12"), 4u);
  EXPECT_EQ(CharacterLength("&amp;"), 5u);
  EXPECT_EQ(CharacterLength("&#x41;"), 6u);
}

TEST(OutputFilters, LowerCaseCoversTheWindows1252Letters) {
  EXPECT_EQ(LowerCp1252("HAUS Stra\xDF"
                        "e"),
            "haus stra\xDF"
            "e");
  EXPECT_EQ(LowerCp1252("\xC4\xD6\xDC\xC0\xDE\x8A\x8C\x8E\x9F"),
            "\xE4\xF6\xFC\xE0\xFE\x9A\x9C\x9E\xFF");
  // The multiplication sign has no lower-case form; references stay as written.
  EXPECT_EQ(LowerCp1252("\xD7&#8364;X"), "\xD7&#8364;x");
}

TEST(OutputFilters, DigitsAndPunctuation) {
  EXPECT_TRUE(ContainsDigit("R2D2"));
  EXPECT_TRUE(ContainsDigit("2024"));
  EXPECT_FALSE(ContainsDigit("caf&#8364;"));  // the digits of a reference are no digits of the word
  EXPECT_TRUE(ContainsDigit("&#8364;5"));

  EXPECT_EQ(StripPunctuation("(Wort)"), "Wort");
  EXPECT_EQ(StripPunctuation("[Frage?]!"), "Frage");
  EXPECT_EQ(StripPunctuation("\x84Zitat\x93"), "Zitat");
  EXPECT_EQ(StripPunctuation("\xBFQu\xE9?"), "Qu\xE9");
  EXPECT_EQ(StripPunctuation("don't"), "don't");  // only the ends are cut
  EXPECT_EQ(StripPunctuation("?!.;"), "");
  // A reference at either end is a character, not an ampersand and a semicolon.
  EXPECT_EQ(StripPunctuation("(Stra&#8364;)"), "Stra&#8364;");
  EXPECT_EQ(StripPunctuation("&#8364;5;"), "&#8364;5");
}

TEST(OutputFilters, WithoutRulesTheListIsWrittenAsItStands) {
  WordList words = ListOf({"Haus", "haus", "(x)"});
  EXPECT_EQ(FormatWordList(words, {}, {}), "Haus\r\nhaus\r\n(x)\r\n");
}

TEST(OutputFilters, TheListIsWrittenInTheChosenEncodingAsTheWindowSavesIt) {
  // A last caption ending in byte 26 gets the end-of-file mark behind it, as
  // in a saved file: read back, the byte stays part of the caption.
  EXPECT_EQ(FormatWordList(ListOf({"a", "x\x1A"}), {}, {}), "a\r\nx\x1A\r\n\x1A");
  TOutputRules count;
  count.Count = true;
  EXPECT_EQ(FormatWordList(ListOf({"\xC4rger", "&#1084;&#1080;&#1088;"}), {1, 2}, count,
                           TListEncoding::Utf8),
            "\xD0\xBC\xD0\xB8\xD1\x80, 2\n\xC3\x84rger, 1\n");
  EXPECT_EQ(FormatWordList(ListOf({"a", "x\x1A"}), {}, {}, TListEncoding::Utf8), "a\nx\x1A\n");
}

TEST(OutputFilters, RulesCleanFoldFilterAndMerge) {
  WordList words = ListOf(
      {"Haus", "(Klammer)", "Frage?", "2024", "R2D2", "\xC4RGER", "Stra&#8364;e", "HAUS", "Zug"});
  auto format = [&](TOutputRules rules) { return FormatWordList(words, {}, rules); };
  TOutputRules lower;
  lower.Lowercase = true;
  EXPECT_EQ(format(lower),
            "haus\r\n(klammer)\r\nfrage?\r\n2024\r\nr2d2\r\n\xE4rger\r\nstra&#8364;e\r\nzug\r\n");
  TOutputRules crossword;
  crossword.StripPunctuation = true;
  crossword.NoNumbers = true;
  EXPECT_EQ(format(crossword), "Haus\r\nKlammer\r\nFrage\r\n\xC4RGER\r\nStra&#8364;e\r\nZug\r\n");
  TOutputRules lengths;
  lengths.MinLength = 5;
  lengths.MaxLength = 6;
  EXPECT_EQ(format(lengths), "Frage?\r\n\xC4RGER\r\nStra&#8364;e\r\n");
  // Duplicates of the list stay unless a rule merges words.
  TOutputRules numbers;
  numbers.NoNumbers = true;
  EXPECT_EQ(format(numbers),
            "Haus\r\n(Klammer)\r\nFrage?\r\n\xC4RGER\r\nStra&#8364;e\r\nHAUS\r\nZug\r\n");
  // Stripping merges "(Zug)" into "Zug" although their case differs: the first spelling stays.
  WordList stripped = ListOf({"zug", "(Zug)", "Zug!"});
  TOutputRules strip;
  strip.StripPunctuation = true;
  EXPECT_EQ(FormatWordList(stripped, {}, strip), "zug\r\n");
}

TEST(OutputFilters, CountsSortDescendingWithTiesInListOrderAndAddUpWhenMerged) {
  WordList words = ListOf({"Haus", "Baum", "(Klammer)", "\xC4RGER", "Zug", "Zwei", "HAUS"});
  std::vector<std::uint32_t> counts = {3, 3, 1, 2, 2};  // the last two entries never occurred
  TOutputRules count;
  count.Count = true;
  EXPECT_EQ(FormatWordList(words, counts, count),
            "Haus, 3\r\nBaum, 3\r\n\xC4RGER, 2\r\nZug, 2\r\n(Klammer), 1\r\nZwei, 0\r\n");
  count.StripPunctuation = true;
  count.Lowercase = true;
  std::vector<std::uint32_t> more = {1, 1, 1, 1, 1, 1, 4};
  EXPECT_EQ(FormatWordList(words, more, count),
            "haus, 5\r\nbaum, 1\r\nklammer, 1\r\n\xE4rger, 1\r\nzug, 1\r\nzwei, 1\r\n");
}

// The slow, obvious way: sort by count with a selection of the largest,
// earliest first.
TEST(OutputFilters, CountOrderMatchesRepeatedSelectionOfTheLargest) {
  std::mt19937 random(7);
  WordList words;
  std::vector<std::uint32_t> counts;
  for (int i = 0; i < 300; ++i) {
    words.AddWord("w" + std::to_string(i));
    counts.push_back(random() % 6);
  }
  std::vector<bool> taken(counts.size(), false);
  std::string expected;
  for (size_t round = 0; round < counts.size(); ++round) {
    size_t best = counts.size();
    for (size_t i = 0; i < counts.size(); ++i) {
      if (!taken[i] && (best == counts.size() || counts[i] > counts[best])) best = i;
    }
    taken[best] = true;
    expected += "w" + std::to_string(best) + ", " + std::to_string(counts[best]) + "\r\n";
  }
  TOutputRules count;
  count.Count = true;
  EXPECT_EQ(FormatWordList(words, counts, count), expected);
}

}  // namespace
