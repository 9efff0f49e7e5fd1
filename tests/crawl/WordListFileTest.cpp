#include "WordListFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <random>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileIO.h"
#include "FileSizeLimit.h"
#include "TempDir.h"
#include "Utf8Text.h"

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

TEST(WordListFile, CtrlZEndsTheContentsOnlyWhenNothingButLineEndsFollow) {
  EXPECT_EQ(ReadContents("\x1A"), Lines{});
  EXPECT_EQ(ReadContents("\x1A\r\n"), Lines{});
  EXPECT_EQ(ReadContents("ab\r\n\x1A"), Lines{"ab"});
  EXPECT_EQ(ReadContents("ab\r\x1A\n"), Lines{"ab"});
  EXPECT_EQ(ReadContents("ab\x1A\r\n\r"), Lines{"ab"});  // the mark ends the line before it
  // Anywhere else the byte belongs to its line.
  EXPECT_EQ(ReadContents("\x1A"
                         "ab\r\n"),
            Lines{"\x1A"
                  "ab"});
  EXPECT_EQ(ReadContents("ab\r\ncd\x1A"
                         "ef\r\ngh"),
            (Lines{"ab",
                   "cd\x1A"
                   "ef",
                   "gh"}));
  EXPECT_EQ(ReadContents("ab\x1A\r\ncd"), (Lines{"ab\x1A", "cd"}));
  EXPECT_EQ(ReadContents("\x1A\x1A"), Lines{"\x1A"});
  // Only CR and LF count as line ends after the mark.
  EXPECT_EQ(ReadContents("ab\x1A \r\n"), Lines{"ab\x1A "});
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
  // A byte 26 inside a line, one whose line ends are followed by more, and
  // the mark at the end.
  const std::string contents =
      "a\r\nb\r\r\n\nc\rd\x1A"
      "e\r\x1A\r\n\rf\r\x1A\r\n";
  auto linesOf = [](const std::vector<std::string_view>& pieces) {
    TWordLineReader reader;
    Lines lines;
    auto add = [&](std::string line) { lines.push_back(std::move(line)); };
    for (std::string_view piece : pieces) reader.Feed(piece, add);
    reader.Finish(add);
    return lines;
  };
  Lines whole = linesOf({contents});
  EXPECT_EQ(whole, (Lines{"a", "b", "", "\nc",
                          "d\x1A"
                          "e",
                          "\x1A", "", "f"}));
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
  EXPECT_FALSE(AppendWordListFile(dir.Path(), words));   // a directory is no list file
  EXPECT_FALSE(AppendWordListFile("/dev/zero", words));  // nor a device that never ends
  EXPECT_EQ(Captions(words), Lines{"bleibt"});
}

TEST(WordListFile, SaveWritesCaptionsWithCrLfBytesUnchanged) {
  TTempDir dir;
  WordList words;
  for (std::string caption : {"W\xF6rter", "", "a\nb", "\x81\x8D\x8F\x90\x9D"})
    words.AddWord(caption);
  WriteWordListFile(dir.Path("out.txt"), words);
  EXPECT_EQ(dir.Read("out.txt"), "W\xF6rter\r\n\r\na\nb\r\n\x81\x8D\x8F\x90\x9D\r\n");
}

// Every byte the format can carry inside a caption (all but CR) comes back
// unchanged, in order, empty captions included.
TEST(WordListFile, SaveThenNewAndOpenRestoresTheCaptions) {
  TTempDir dir;
  auto roundTrip = [&](const Lines& captions) {
    WordList words;
    for (const std::string& caption : captions) words.AddWord(caption);
    WriteWordListFile(dir.Path("list.txt"), words);
    words.ClearWords();
    EXPECT_TRUE(AppendWordListFile(dir.Path("list.txt"), words));
    return Captions(words);
  };
  std::mt19937 random(7);
  Lines many;
  for (int i = 0; i < 500; ++i) {
    std::string caption;
    size_t length = random() % 12;
    while (caption.size() < length) {
      char byte = static_cast<char>(random() % 256);
      if (byte != '\r') caption += byte;
    }
    many.push_back(caption);
  }
  std::string every;
  for (int byte = 0; byte < 256; ++byte) {
    if (byte != 13) every += static_cast<char>(byte);
  }
  many.push_back(every);
  EXPECT_EQ(roundTrip(many), many);

  // Lists whose bytes end in what looks like the end-of-file mark.
  for (const Lines& list :
       {Lines{"\x1A"}, Lines{"a", "\x1A"}, Lines{"ab\x1A"}, Lines{"\x1A", "", ""},
        Lines{"a\x1A\n", "\n"}, Lines{"\x1A\x1A"}, Lines{"\x1A", "b"}}) {
    EXPECT_EQ(roundTrip(list), list);
  }
  // Short lists of the bytes that matter here, at random.
  const char alphabet[] = {'\x1A', '\x1A', '\n', 'a'};
  for (int round = 0; round < 200; ++round) {
    Lines list(random() % 5);
    for (std::string& caption : list) {
      size_t length = random() % 4;
      while (caption.size() < length) caption += alphabet[random() % 4];
    }
    EXPECT_EQ(roundTrip(list), list);
  }
}

TEST(WordListFile, TheWriterMakesTheSavedFilesBytesOrTheirUtf8Form) {
  TTempDir dir;
  for (const Lines& captions : {Lines{"W\xF6rter", "", "a\nb"}, Lines{"a", "x\x1A"}, Lines{}}) {
    WordList words;
    TWordListWriter writer(TListEncoding::Windows1252);
    for (const std::string& caption : captions) {
      words.AddWord(caption);
      writer.AddLine(caption);
    }
    writer.Finish();
    WriteWordListFile(dir.Path("list.txt"), words);
    EXPECT_EQ(writer.Bytes(), dir.Read("list.txt"));
  }
  TWordListWriter utf8(TListEncoding::Utf8);
  for (const char* line : {"k\xF6nnen", "&#1084;&#1080;&#1088;", "&#228;", "", "x\x1A"})
    utf8.AddLine(line);
  utf8.Finish();
  // A reference to a character with a byte is text, as in the list.
  EXPECT_EQ(utf8.TakeBytes(), "k\xC3\xB6nnen\n\xD0\xBC\xD0\xB8\xD1\x80\n&#228;\n\nx\x1A\n");
  EXPECT_EQ(utf8.Bytes(), "");
}

TEST(WordListFile, SaveFailuresAreReported) {
  TTempDir dir;
  WordList words;
  words.AddWord("Wort");
  EXPECT_THROW(WriteWordListFile(dir.Path("no/such/dir.txt"), words), EInOutError);
  EXPECT_THROW(WriteWordListFile("/dev/full", words), EInOutError);  // disk full
}

TEST(WordListFile, Utf8FilesAreReadIntoWindows1252Captions) {
  // Valid UTF-8 with a multi-byte sequence; lone LFs end lines there.
  EXPECT_EQ(ReadContents("k\xC3\xB6nnen\nStra\xC3\x9F"
                         "e\r\n\xD0\xBC\xD0\xB8\xD1\x80\n"),
            (Lines{"k\xF6nnen",
                   "Stra\xDF"
                   "e",
                   "&#1084;&#1080;&#1088;"}));
  // A byte-order mark alone makes a file UTF-8.
  EXPECT_EQ(ReadContents("\xEF\xBB\xBF"
                         "ab\ncd"),
            (Lines{"ab", "cd"}));
  // Not UTF-8: Windows-1252 bytes, and a lone LF stays a byte of the line.
  EXPECT_EQ(ReadContents("k\xF6nnen\nx\r\n"), (Lines{"k\xF6nnen\nx"}));
  EXPECT_EQ(ReadContents("k\xC3\xB6nnen \xF6\r\n"), (Lines{"k\xC3\xB6nnen \xF6"}));
  EXPECT_EQ(ReadContents("ascii\nonly\n"), (Lines{"ascii\nonly\n"}));
  // The end-of-file mark keeps its meaning; elsewhere byte 26 is a byte.
  EXPECT_EQ(ReadContents("\xC3\xA4\n\x1A\n"), (Lines{"\xE4"}));
  EXPECT_EQ(ReadContents("\xC3\xA4\n\x1A"
                         "b\n"),
            (Lines{"\xE4",
                   "\x1A"
                   "b"}));
}

TEST(WordListFile, TheCommandLineAlsoReadsLineFeedListsWithoutCarriageReturns) {
  TTempDir dir;
  auto read = [&](const std::string& contents) {
    dir.Write("list.txt", contents);
    WordList words;
    EXPECT_TRUE(AppendWordListFile(dir.Path("list.txt"), words, TLineFeedRule::AlsoWithoutCr));
    return Captions(words);
  };
  EXPECT_EQ(read("ascii\nonly\n"), (Lines{"ascii", "only"}));
  EXPECT_EQ(read("ab\r\ncd\ne"), (Lines{"ab", "cd\ne"}));  // a CR: the window's format
  EXPECT_EQ(read("k\xF6nnen\r\n"), (Lines{"k\xF6nnen"}));
}

TEST(WordListFile, Utf8ListsWrittenByTheCommandLineComeBackUnchanged) {
  const Lines captions = {"k\xF6nnen", "&#1084;&#1080;&#1088;", "\x80", "&#128512;", ""};
  std::string utf8;
  for (const std::string& caption : captions) utf8 += Cp1252ToUtf8(caption) + "\n";
  EXPECT_EQ(ReadContents(utf8), captions);
}

TEST(WordListFile, AFailedSaveLeavesTheOldListWhole) {
  TTempDir dir;
  WordList words;
  for (int i = 0; i < 50'000; ++i) words.AddWord("Wort" + std::to_string(i));
  WriteWordListFile(dir.Path("list.txt"), words);
  const std::string old = dir.Read("list.txt");
  words.AddWord("neu");
  {
    TFileSizeLimit limit(64 * 1024);  // the disk is full long before the end
    EXPECT_THROW(WriteWordListFile(dir.Path("list.txt"), words), EInOutError);
  }
  EXPECT_EQ(dir.Read("list.txt"), old);
}

// Reading a line longer than the memory allowed: the lines before it stay,
// and the failure is reported instead of ending the program. The limit on
// the address space needs a process of its own, and a build without the
// address sanitizer, which reserves far more address space than any limit.
TEST(WordListFile, RunningOutOfMemoryWhileReadingIsReported) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer cannot run under an address space limit";
#else
  TTempDir dir;
  const std::string path = dir.Path("huge.txt");
  {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "a\r\nb\r\n", 6), 6);
    ASSERT_EQ(::ftruncate(fd, 1'000'000'000), 0);  // then one line of zero bytes, sparse
    ::close(fd);
  }
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    rlimit limit{256ul << 20, 256ul << 20};
    ::setrlimit(RLIMIT_AS, &limit);
    WordList words;
    int status = 1;
    try {
      AppendWordListFile(path, words);
    } catch (const EInOutError&) {
      status = Captions(words) == Lines{"a", "b"} ? 0 : 2;
    } catch (...) {
      status = 3;
    }
    ::_exit(status);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}
