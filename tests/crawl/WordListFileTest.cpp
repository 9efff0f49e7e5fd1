#include "WordListFile.h"

#include <gtest/gtest.h>

#include <random>

#include "FileIO.h"
#include "TempDir.h"

namespace {

std::vector<std::string> Captions(const WordList& words) {
  std::vector<std::string> captions;
  for (const WordEntry& entry : words.Entries()) captions.push_back(entry.Caption);
  return captions;
}

std::vector<std::string> ReadContents(const std::string& contents) {
  TTempDir dir;
  dir.Write("list.txt", contents);
  WordList words;
  EXPECT_TRUE(AppendWordListFile(dir.Path("list.txt"), words));
  return Captions(words);
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(WordListFile, CutsLinesAtCarriageReturns) {
  EXPECT_EQ(ReadContents(""), Lines{});
  EXPECT_EQ(ReadContents("ab\r\ncd\r\n"), (Lines{"ab", "cd"}));
  EXPECT_EQ(ReadContents("ab\r\ncd"), (Lines{"ab", "cd"}));
  EXPECT_EQ(ReadContents("ab\rcd\r"), (Lines{"ab", "cd"}));
  EXPECT_EQ(ReadContents("ab\r\n\r\ncd"), (Lines{"ab", "", "cd"}));
  EXPECT_EQ(ReadContents("\r"), Lines{""});
  EXPECT_EQ(ReadContents(" a b \r"), Lines{" a b "});  // no trimming
}

TEST(WordListFile, LineFeedAloneIsAnOrdinaryByte) {
  EXPECT_EQ(ReadContents("ab\ncd\n"), Lines{"ab\ncd\n"});
  // Only the first LF after a CR belongs to the line end.
  EXPECT_EQ(ReadContents("ab\r\n\ncd\r\n"), (Lines{"ab", "\ncd"}));
  EXPECT_EQ(ReadContents("ab\n\rcd"), (Lines{"ab\n", "cd"}));
}

TEST(WordListFile, CtrlZEndsTheContents) {
  EXPECT_EQ(ReadContents("\x1A" "ab\r\n"), Lines{});
  EXPECT_EQ(ReadContents("ab\r\ncd\x1A" "ef\r\ngh"), (Lines{"ab", "cd"}));
  EXPECT_EQ(ReadContents("ab\r\x1A\n"), Lines{"ab"});
}

TEST(WordListFile, AppendsBehindExistingEntriesWithoutDuplicateTest) {
  TTempDir dir;
  dir.Write("list.txt", "Haus\r\nhaus\r\n");
  WordList words;
  words.AddWord("Baum");
  ASSERT_TRUE(AppendWordListFile(dir.Path("list.txt"), words));
  ASSERT_TRUE(AppendWordListFile(dir.Path("list.txt"), words));
  EXPECT_EQ(Captions(words), (Lines{"Baum", "Haus", "haus", "Haus", "haus"}));
  EXPECT_FALSE(words.IsMarked(1));
}

TEST(WordListFile, PiecesSplitAnywhereGiveTheSameLines) {
  const std::string contents = "a\r\nb\r\r\n\nc\rd\x1A" "e";
  auto linesOf = [](const std::vector<std::string_view>& pieces) {
    TWordLineReader reader;
    Lines lines;
    auto add = [&](std::string line) { lines.push_back(std::move(line)); };
    for (std::string_view piece : pieces) reader.Feed(piece, add);
    reader.Finish(add);
    return lines;
  };
  Lines whole = linesOf({contents});
  EXPECT_EQ(whole, (Lines{"a", "b", "", "\nc", "d"}));
  std::string_view all(contents);
  for (size_t cut = 0; cut <= all.size(); ++cut) {
    for (size_t cut2 = cut; cut2 <= all.size(); ++cut2) {
      EXPECT_EQ(linesOf({all.substr(0, cut), all.substr(cut, cut2 - cut), all.substr(cut2)}), whole)
          << cut << " " << cut2;
    }
  }
}

TEST(WordListFile, HugeLineAndLinesAcrossReadChunks) {
  std::string huge(3'000'000, 'x');
  huge[1'048'575] = '\r';  // CR at the end of the first chunk, LF starting the next
  huge[1'048'576] = '\n';
  Lines lines = ReadContents(huge);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].size(), 1'048'575u);
  EXPECT_EQ(lines[1].size(), 3'000'000u - 1'048'577u);
}

TEST(WordListFile, FileThatCannotBeOpenedAddsNothing) {
  TTempDir dir;
  WordList words;
  words.AddWord("bleibt");
  EXPECT_FALSE(AppendWordListFile(dir.Path("missing.txt"), words));
  EXPECT_FALSE(AppendWordListFile(dir.Path(), words));  // a directory is no list file
  EXPECT_EQ(Captions(words), Lines{"bleibt"});
}

TEST(WordListFile, SaveWritesCaptionsWithCrLfBytesUnchanged) {
  TTempDir dir;
  WordList words;
  for (std::string caption : {"W\xF6rter", "", "a\nb", "\x81\x8D\x8F\x90\x9D"}) words.AddWord(caption);
  WriteWordListFile(dir.Path("out.txt"), words);
  EXPECT_EQ(dir.Read("out.txt"), "W\xF6rter\r\n\r\na\nb\r\n\x81\x8D\x8F\x90\x9D\r\n");
}

// Every byte the format can carry inside a caption (all but CR and Ctrl+Z)
// comes back unchanged, in order, empty captions included.
TEST(WordListFile, SaveThenNewAndOpenRestoresTheCaptions) {
  TTempDir dir;
  std::mt19937 random(7);
  WordList words;
  for (int i = 0; i < 500; ++i) {
    std::string caption;
    size_t length = random() % 12;
    while (caption.size() < length) {
      char byte = static_cast<char>(random() % 256);
      if (byte != '\r' && byte != '\x1A') caption += byte;
    }
    words.AddWord(caption);
  }
  std::string every;
  for (int byte = 0; byte < 256; ++byte) {
    if (byte != 13 && byte != 26) every += static_cast<char>(byte);
  }
  words.AddWord(every);
  Lines before = Captions(words);
  WriteWordListFile(dir.Path("list.txt"), words);
  words.ClearWords();
  ASSERT_TRUE(AppendWordListFile(dir.Path("list.txt"), words));
  EXPECT_EQ(Captions(words), before);
}

TEST(WordListFile, SaveFailuresAreReported) {
  TTempDir dir;
  WordList words;
  words.AddWord("Wort");
  EXPECT_THROW(WriteWordListFile(dir.Path("no/such/dir.txt"), words), EInOutError);
  EXPECT_THROW(WriteWordListFile("/dev/full", words), EInOutError);  // disk full
}
