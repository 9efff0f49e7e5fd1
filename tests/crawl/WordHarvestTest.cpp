#include "WordHarvest.h"

#include <gtest/gtest.h>

#include "HTMLPars.h"

#include <random>

namespace {

std::vector<std::string> Lines(std::string_view document) {
  TStringList lines;
  SplitLines(document.data(), document.size(), lines);
  return std::vector<std::string>(lines.begin(), lines.end());
}

using Strings = std::vector<std::string>;

TEST(SplitLines, TerminatorsAndNul) {
  EXPECT_EQ(Lines(""), Strings{});
  EXPECT_EQ(Lines("ab\r\ncd\r\n"), (Strings{"ab", "cd"}));
  EXPECT_EQ(Lines("ab\r\ncd"), (Strings{"ab", "cd"}));
  EXPECT_EQ(Lines("ab\n\rcd"), (Strings{"ab", "", "cd"}));
  EXPECT_EQ(Lines("ab\r\r\ncd"), (Strings{"ab", "", "cd"}));
  EXPECT_EQ(Lines("x"), (Strings{"x"}));
  EXPECT_EQ(Lines(std::string_view("a\0b\nc", 5)), (Strings{"a", "c"}));
  EXPECT_EQ(Lines("\n"), (Strings{""}));
  EXPECT_EQ(Lines("\r"), (Strings{""}));
  EXPECT_EQ(Lines("a\n\n"), (Strings{"a", ""}));
}

TEST(DecodeEntities, RowOrderDecidesChains) {
  EXPECT_EQ(DecodeEntities("&auml;&Ouml;&szlig;"), "\xe4\xd6\xdf");
  EXPECT_EQ(DecodeEntities("&amp;lt;"), "<");
  EXPECT_EQ(DecodeEntities("&amp;amp;"), "&");
  EXPECT_EQ(DecodeEntities("&amp;amp;amp;x&amp;"), "&x&");
  EXPECT_EQ(DecodeEntities("&amp;auml;"), "&auml;");
  EXPECT_EQ(DecodeEntities("&amp;quot;&amp;gt;"), "\">");
  EXPECT_EQ(DecodeEntities("&AUML; &auml"), "&AUML; &auml");
  EXPECT_EQ(DecodeEntities("&&amp;&"), "&&&");
}

struct Harvest {
  WordList words;
  std::vector<std::string> labels;
  TWordHarvest harvest{words, [this](const std::string& text) { labels.push_back(text); }};

  Strings Words() const {
    Strings out;
    for (const WordEntry& entry : words.Entries()) out.push_back(entry.Caption);
    return out;
  }
};

TEST(HarvestText, SplitsAtSpacesOnly) {
  Harvest h;
  h.harvest.HarvestText("Hallo Welt");
  h.harvest.HarvestText("Welt");
  h.harvest.HarvestText(" ");
  h.harvest.HarvestText("");
  h.harvest.HarvestText(
      "a\tb c\xa0"
      "d");
  EXPECT_EQ(h.Words(), (Strings{"Hallo", "Welt", "a\tb",
                                "c\xa0"
                                "d"}));
}

TEST(CompleteWord, StripsMarksInOrder) {
  Harvest h;
  for (const char* word : {"Wort,", "Wort.", "Wort.,"}) h.harvest.CompleteWord(word);
  EXPECT_EQ(h.Words(), (Strings{"Wort"}));
  for (const char* word : {"Wort,.", "Wort!", "(Wort)", "...", "\"quoted\"", "\"satz.\"", ",", ".",
                           "\"", "\"\"", "\"\".,"}) {
    h.harvest.CompleteWord(word);
  }
  EXPECT_EQ(h.Words(), (Strings{"Wort", "Wort,", "Wort!", "(Wort)", "..", "quoted", "satz."}));
}

TEST(CompleteWord, DuplicatesIgnoreCaseAndLabelCounts) {
  Harvest h;
  h.harvest.HarvestText("Haus haus HAUS Maus");
  EXPECT_EQ(h.Words(), (Strings{"Haus", "Maus"}));
  EXPECT_EQ(h.labels, (Strings{"W\xf6rtner in der Liste: 1", "W\xf6rtner in der Liste: 2"}));

  // Words added by other means count as well.
  for (int i = 0; i < 9; ++i) h.words.AddWord("w" + std::to_string(i));
  h.harvest.HarvestText("neu");
  EXPECT_EQ(h.labels.back(), "W\xf6rtner in der Liste: 12");
}

TEST(HarvestText, DoublyEscapedUmlautFromAPage) {
  THTMLParser parser;
  parser.Lines = {"<p>K&amp;auml;se</p>"};
  parser.Parse();
  Harvest h;
  for (const THTMLNode& node : parser.Nodes) {
    if (!node.IsTag()) h.harvest.HarvestText(node.Text().Text);
  }
  EXPECT_EQ(h.Words(), (Strings{"K\xe4se"}));
}

}  // namespace

namespace {

// DecodeEntities the literal way: row by row, always the first occurrence,
// searching again from the start after every replacement.
std::string LiteralDecodeEntities(std::string text) {
  for (const TCrawlEntity& row : CrawlEntities) {
    for (size_t at; (at = text.find(row.Reference)) != std::string::npos;) {
      text.replace(at, row.Reference.size(), 1, static_cast<char>(row.Replacement));
    }
  }
  return text;
}

// SplitLines the literal way, byte by byte.
std::vector<std::string> LiteralLines(const std::string& document) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < document.size()) {
    size_t end = pos;
    while (end < document.size() && document[end] != '\r' && document[end] != '\n') ++end;
    std::string line = document.substr(pos, end - pos);
    size_t nul = line.find('\0');
    if (nul != std::string::npos) line.resize(nul);
    lines.push_back(line);
    if (end == document.size()) break;
    pos =
        end +
        ((document[end] == '\r' && end + 1 < document.size() && document[end + 1] == '\n') ? 2 : 1);
  }
  return lines;
}

TEST(DecodeEntities, AgreesWithTheLiteralLoopOnRandomText) {
  const std::vector<std::string> pieces = {"&",     "amp;", "auml;", "Auml;", "szlig;",
                                           "quot;", "lt;",  "gt;",   "a",     ";",
                                           "&amp;", "x",    "uml;",  "&l",    "t;"};
  std::mt19937 random(3);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    size_t count = random() % 12;
    for (size_t i = 0; i < count; ++i) text += pieces[random() % pieces.size()];
    ASSERT_EQ(DecodeEntities(text), LiteralDecodeEntities(text)) << text;
  }
}

TEST(SplitLines, AgreesWithTheLiteralSplitOnRandomBytes) {
  const std::string alphabet = std::string("\r\n\0abc", 6);
  std::mt19937 random(9);
  for (int round = 0; round < 5000; ++round) {
    std::string document;
    size_t length = random() % 80;
    for (size_t i = 0; i < length; ++i) document += alphabet[random() % alphabet.size()];
    ASSERT_EQ(Lines(document), LiteralLines(document));
  }
}

}  // namespace

namespace {

TEST(WordHarvest, CountsEveryOccurrenceAtTheEntryFindWordNames) {
  WordList words;
  words.AddWord("Alt");
  words.AddWord("alt");  // a duplicate opened from a file: FindWord names the first
  std::vector<std::uint32_t> counts;
  TWordHarvest harvest(words, nullptr);
  harvest.HarvestText("Haus haus, \"HAUS\" alt Baum. ALT");
  EXPECT_EQ(words.WordCount(), 4u);
  harvest.CountOccurrencesInto(&counts);
  harvest.HarvestText("Haus haus, \"HAUS\" alt Baum. ALT Neu , \"\"");
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{2, 0, 3, 1, 1}));  // Alt alt Haus Baum Neu
  harvest.CountOccurrencesInto(nullptr);
  harvest.HarvestText("Haus");
  EXPECT_EQ(counts[2], 3u);
}

}  // namespace
