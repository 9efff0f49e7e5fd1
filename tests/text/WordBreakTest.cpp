#include "WordBreak.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "GermanWords.h"
#include "Windows1252.h"

namespace {

using TWords = std::vector<std::string>;

// The byte positions strictly inside a reference "&#N;" that stands for one
// character: no word may start or end there.
std::set<std::size_t> InsideReferences(std::string_view text) {
  std::set<std::size_t> inside;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::size_t length = 0;
    if (!DecimalCharReference(text, at, length)) continue;
    for (std::size_t i = at + 1; i < at + length; ++i) inside.insert(i);
    at += length - 1;
  }
  return inside;
}

// What every result must be, whatever the text: words in order, none empty,
// none overlapping, none past the end, none cutting a reference.
void ExpectWellFormed(std::string_view text, const std::vector<TWordSpan>& spans) {
  std::set<std::size_t> inside = InsideReferences(text);
  std::size_t previousEnd = 0;
  for (const TWordSpan& span : spans) {
    ASSERT_GT(span.Length, 0u);
    ASSERT_GE(span.Offset, previousEnd);
    ASSERT_LE(span.Offset + span.Length, text.size());
    EXPECT_FALSE(inside.count(span.Offset)) << span.Offset;
    EXPECT_FALSE(inside.count(span.Offset + span.Length)) << span.Offset + span.Length;
    previousEnd = span.Offset + span.Length;
  }
}

TWords Texts(std::string_view text, const std::vector<TWordSpan>& spans) {
  TWords words;
  for (const TWordSpan& span : spans) words.emplace_back(text.substr(span.Offset, span.Length));
  return words;
}

TWords Words(std::string_view text) {
  std::vector<TWordSpan> spans = UnicodeWords(text);
  ExpectWellFormed(text, spans);
  return Texts(text, spans);
}

}  // namespace

TEST(UnicodeWords, GermanTextLosesSpacesAndPunctuationButKeepsNumbersWhole) {
  EXPECT_EQ(Words("Abschnitt\xA0\x31.4"), (TWords{"Abschnitt", "1.4"}));
  EXPECT_EQ(Words("\tthe"), (TWords{"the"}));
  EXPECT_EQ(Words("(Haus),"), (TWords{"Haus"}));
  EXPECT_EQ(Words(kCp1252Words), (TWords{"k\xF6nnen", kCp1252Words.substr(7)}));
  // Windows-1252 quotation marks (0x84, 0x93) and the euro sign (0x80).
  EXPECT_EQ(Words("\x84\xC4pfel\x93 kosten 1.234,56\x80, Schmidt's Fu\xDF!"),
            (TWords{"\xC4pfel", "kosten", "1.234,56", "Schmidt's", "Fu\xDF"}));
  EXPECT_EQ(Words(" \t\r\n\xA0 ...!?"), TWords{});
}

TEST(UnicodeWords, OneHyphenBetweenTwoWordsJoinsThem) {
  EXPECT_EQ(Words("E-Mail-Adresse"), (TWords{"E-Mail-Adresse"}));
  EXPECT_EQ(Words("A4-Papier, 2020-2021"), (TWords{"A4-Papier", "2020-2021"}));
  EXPECT_EQ(Words("E&#8208;Mail E&#8209;Mail"), (TWords{"E&#8208;Mail", "E&#8209;Mail"}));
  EXPECT_EQ(Words("c'est-\xE0-dire"), (TWords{"c'est-\xE0-dire"}));
  // Two hyphens, spaced hyphens, a dash and hyphens at the edges join nothing.
  EXPECT_EQ(Words("a--b c - d e\x96g -g h-"), (TWords{"a", "b", "c", "d", "e", "g", "g", "h"}));
  EXPECT_EQ(Words("x-&#8364;-y"), (TWords{"x", "y"}));
}

TEST(UnicodeWords, SoftHyphensStayInsideAWordButNotAtItsEdges) {
  EXPECT_EQ(Words("Ab\xADschnitt"), (TWords{"Ab\xADschnitt"}));
  EXPECT_EQ(Words("\xADHaus\xAD\xAD T\xFCr\xAD-Rahmen"), (TWords{"Haus", "T\xFCr\xAD-Rahmen"}));
}

TEST(UnicodeWords, FrenchKeepsElisionsAndAccentsAndDropsGuillemets) {
  // ICU's root rules keep the elided article with its word, with the
  // typewriter apostrophe and with U+2019 (byte 0x92) alike.
  EXPECT_EQ(Words("l'homme qu\x92il aujourd'hui j'ai"),
            (TWords{"l'homme", "qu\x92il", "aujourd'hui", "j'ai"}));
  EXPECT_EQ(Words("\xAB\xA0Salut\xA0\xBB, dit-il \xE0 l'\xE9t\xE9 \x9Cuvre No\xEBl"),
            (TWords{"Salut", "dit-il", "\xE0", "l'\xE9t\xE9", "\x9Cuvre", "No\xEBl"}));
  // Quotes around a word are not part of it.
  EXPECT_EQ(Words("'oui' \x91non\x92"), (TWords{"oui", "non"}));
}

TEST(UnicodeWords, ReferencesAreWholeCharactersOfTheirWords) {
  std::vector<TWordSpan> spans = UnicodeWords("5 &#8364; &#1052;&#1080;&#1088;!");
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[0].Offset, 0u);
  EXPECT_EQ(spans[0].Length, 1u);
  EXPECT_EQ(spans[1].Offset, 10u);  // "&#1052;&#1080;&#1088;"
  EXPECT_EQ(spans[1].Length, 21u);
  // Chinese by ICU's dictionary, katakana as one run, characters above
  // U+FFFF (two UTF-16 units) as whole references; emoji are no words.
  EXPECT_EQ(Words("&#26481;&#20140; &#12459;&#12479;&#12459;&#12490;"),
            (TWords{"&#26481;&#20140;", "&#12459;&#12479;&#12459;&#12490;"}));
  EXPECT_EQ(Words("&#131072;&#131073; &#128512;x"), (TWords{"&#131072;", "&#131073;", "x"}));
  // References of characters that have a byte, as pages write them.
  EXPECT_EQ(Words("don&#8217;t Gr&#246;&#223;e 5&#8364; &#8222;Zitat&#8220;"),
            (TWords{"don&#8217;t", "Gr&#246;&#223;e", "5", "Zitat"}));
  // A zero-width space separates like a space.
  EXPECT_EQ(Words("Fu\xDF&#8203;ball"), (TWords{"Fu\xDF", "ball"}));
}

TEST(UnicodeWords, MalformedReferencesAreTheirBytesAndAnyBytesGiveWellFormedWords) {
  EXPECT_EQ(Words("a&#"), TWords{"a"});
  EXPECT_EQ(Words("&#99999999999; &#55296; &#1084 &#x43C;"),
            (TWords{"99999999999", "55296", "1084", "x43C"}));
  EXPECT_EQ(Words(std::string("a\0b", 3)), (TWords{"a", "b"}));
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) everyByte.push_back(static_cast<char>(byte));
  for (const std::string& text : {everyByte, everyByte + "&#", "&#1084;" + everyByte,
                                  std::string(1000, '-'), std::string()}) {
    ExpectWellFormed(text, UnicodeWords(text));
  }
}

TEST(UnicodeWords, LongTextsAreSplitWhole) {
  std::string sentence = "Fu\xDF &#1084;&#1080;&#1088; E-Mail, 1.4 &#26481;&#20140; ";
  std::string text;
  while (text.size() < (1u << 20)) text += sentence;
  std::vector<TWordSpan> spans = UnicodeWords(text);
  ExpectWellFormed(text, spans);
  ASSERT_EQ(spans.size(), text.size() / sentence.size() * 5);
  EXPECT_EQ(Texts(text, spans).back(), "&#26481;&#20140;");

  std::string oneWord = "a";
  while (oneWord.size() < (1u << 20)) oneWord += "-\xE4\xADz";
  EXPECT_EQ(Words(oneWord), TWords{oneWord});
  std::string cyrillic;
  while (cyrillic.size() < (1u << 20)) cyrillic += "&#1084;";
  EXPECT_EQ(Words(cyrillic), TWords{cyrillic});
}

TEST(SpaceSeparatedWords, SplitsAtSpaceBytesOnly) {
  std::string text = "  a\tb\xA0(c),\r\nE-Mail\v\f&#8364;";
  std::vector<TWordSpan> spans = SpaceSeparatedWords(text);
  EXPECT_EQ(Texts(text, spans), (TWords{"a", "b", "(c),", "E-Mail", "&#8364;"}));
  EXPECT_TRUE(SpaceSeparatedWords("").empty());
  EXPECT_TRUE(SpaceSeparatedWords(" \xA0 ").empty());
}
