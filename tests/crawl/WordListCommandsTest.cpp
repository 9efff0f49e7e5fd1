#include "WordListCommands.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

// The exchange sort exactly as the button was first written: quadratic.
std::vector<std::string> LiteralExchangeSort(std::vector<std::string> captions) {
  auto greater = [](const std::string& a, const std::string& b) {
    std::string x = Upper(a), y = Upper(b);
    return std::lexicographical_compare(y.begin(), y.end(), x.begin(), x.end(), [](char p, char q) {
      return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
    });
  };
  for (size_t i = 0; i < captions.size(); ++i) {
    for (size_t j = i + 1; j < captions.size(); ++j) {
      if (greater(captions[i], captions[j])) std::swap(captions[i], captions[j]);
    }
  }
  return captions;
}

WordList ListOf(const std::vector<std::string>& captions) {
  WordList words;
  for (const std::string& caption : captions) words.AddWord(caption);
  return words;
}

std::vector<std::string> Captions(const WordList& words) {
  std::vector<std::string> captions;
  for (const WordEntry& entry : words.Entries()) captions.push_back(entry.Caption);
  return captions;
}

std::vector<std::string> Sorted(const std::vector<std::string>& captions) {
  WordList words = ListOf(captions);
  SortWords(words);
  return Captions(words);
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(SortKeys, UpperCaseAsciiUnsignedBytesPrefixFirst) {
  EXPECT_EQ(CompareSortKeys("abc", "ABC"), 0);
  EXPECT_LT(CompareSortKeys("ab", "abc"), 0);
  EXPECT_LT(CompareSortKeys("Z", "\xC4"), 0);     // Ä after every ASCII letter
  EXPECT_LT(CompareSortKeys("\xC4", "\xE4"), 0);  // ä is not upper-cased: after Ä
  EXPECT_GT(CompareSortKeys("_", "a"), 0);        // 'a' counts as 'A' (65), before '_' (95)
  EXPECT_LT(CompareSortKeys("", "\x01"), 0);
}

TEST(SortWords, SmallCases) {
  EXPECT_EQ(Sorted({"b", "A", "a", "c"}), (Lines{"A", "a", "b", "c"}));
  EXPECT_EQ(Sorted({"\xE4rger", "Zoo", "\xC4pfel", "apfel"}),
            (Lines{"apfel", "Zoo", "\xC4pfel", "\xE4rger"}));
  EXPECT_EQ(Sorted({}), Lines{});
  EXPECT_EQ(Sorted({"x"}), Lines{"x"});
}

// Equal keys are not kept in list order by the exchange sort: passing over
// smaller keys turns their run round. The fast sort must do the same.
TEST(SortWords, MatchesTheLiteralExchangeSortWithRepeatedKeys) {
  std::mt19937 random(20261207);
  const std::vector<std::string> pieces = {"a", "A",  "b",  "B",  "\xE4", "\xC4",
                                           "",  "ab", "aB", "Ab", "c",    "\x80"};
  for (int round = 0; round < 3000; ++round) {
    size_t n = random() % 40;
    std::vector<std::string> captions;
    for (size_t i = 0; i < n; ++i) {
      std::string caption = pieces[random() % pieces.size()];
      if (random() % 3 == 0) caption += pieces[random() % pieces.size()];
      captions.push_back(caption);
    }
    // Distinct captions with equal keys: the run order becomes visible.
    for (size_t i = 0; i < n; ++i) {
      if (random() % 2) {
        for (char& c : captions[i]) {
          if (c >= 'a' && c <= 'z' && random() % 2) c = static_cast<char>(c - 32);
        }
      }
    }
    ASSERT_EQ(Sorted(captions), LiteralExchangeSort(captions)) << "round " << round;
  }
}

TEST(SortWords, LongerListsWithFewKeys) {
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    std::vector<std::string> captions;
    size_t n = 200 + random() % 300;
    for (size_t i = 0; i < n; ++i) {
      std::string caption(1 + random() % 2, 'a');
      for (char& c : caption) c = static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 3);
      captions.push_back(caption);
    }
    ASSERT_EQ(Sorted(captions), LiteralExchangeSort(captions)) << "round " << round;
  }
}

TEST(SortWords, MarkedStatesStayAtTheirPositions) {
  WordList words = ListOf({"c", "b", "a"});
  words.SetMarked(0, true);
  SortWords(words);
  EXPECT_EQ(Captions(words), (Lines{"a", "b", "c"}));
  EXPECT_TRUE(words.IsMarked(0));
  EXPECT_FALSE(words.IsMarked(2));
  EXPECT_FALSE(words.InBatch());
  EXPECT_EQ(words.FindWord("C"), 2u);  // the index follows the new order
}

TEST(DeleteMarkedWords, SameResultAsTheBackwardWalk) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    size_t n = random() % 30;
    WordList fast, walked;
    for (size_t i = 0; i < n; ++i) {
      std::string caption = std::to_string(random() % 5);
      bool marked = random() % 2;
      for (WordList* words : {&fast, &walked}) {
        words->AddWord(caption);
        words->SetMarked(i, marked);
      }
    }
    DeleteMarkedWords(fast);
    for (size_t i = walked.WordCount(); i-- > 0;) {
      if (walked.IsMarked(i)) walked.DeleteWordAt(i);
    }
    ASSERT_EQ(Captions(fast), Captions(walked));
    for (size_t i = 0; i < fast.WordCount(); ++i) EXPECT_FALSE(fast.IsMarked(i));
  }
}
