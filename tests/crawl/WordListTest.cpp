#include "WordList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// The list's own promise, checked the slow way: the first equal caption.
std::optional<size_t> FindLinearly(const WordList& list, std::string_view text) {
  for (size_t i = 0; i < list.WordCount(); ++i) {
    if (EqualIgnoringCase(list.WordAt(i), text)) return i;
  }
  return std::nullopt;
}

TEST(WordList, FindWordIgnoresCaseAcrossWindows1252Letters) {
  WordList list;
  list.AddWord("Haus");
  list.AddWord("\xc4pfel");          // Äpfel
  list.AddWord("\x8a\x8c\x8e\x9f");  // Š Œ Ž Ÿ
  list.AddWord("\xd7");              // ×
  EXPECT_EQ(list.FindWord("haus"), 0u);
  EXPECT_EQ(list.FindWord("HAUS"), 0u);
  EXPECT_EQ(list.FindWord("\xe4PFEL"), 1u);
  EXPECT_EQ(list.FindWord("\x9a\x9c\x9e\xff"), 2u);
  EXPECT_FALSE(list.FindWord("\xf7"));  // ÷ is not the lower-case ×
  EXPECT_FALSE(list.FindWord("Hau"));
  EXPECT_FALSE(list.FindWord("Hausboot"));
  // ß has no upper-case form of its own.
  list.AddWord("\xdf");
  EXPECT_EQ(list.FindWord("\xdf"), 4u);
  EXPECT_FALSE(list.FindWord("SS"));
}

TEST(WordList, FoldPairsExactlyTheLettersWithBothForms) {
  int pairs = 0;
  for (int c = 0; c < 256; ++c) {
    if (FoldCase(static_cast<unsigned char>(c)) != c) ++pairs;
  }
  EXPECT_EQ(pairs, 26 + 30 + 4);
}

TEST(WordList, IndexStaysExactThroughEveryOperation) {
  // Random edits on a list with many case-different duplicates; after each,
  // FindWord must agree with the linear search for every key.
  std::mt19937 random(7);
  const std::vector<std::string> keys = {"a", "A", "b", "B", "\xe4", "\xc4", "c", "ab", "AB", ""};
  WordList list;
  for (int step = 0; step < 3000; ++step) {
    const std::string& key = keys[random() % keys.size()];
    switch (random() % 6) {
      case 0:
      case 1:
        list.AddWord(key);
        break;
      case 2:
        if (list.WordCount()) list.SetWordAt(random() % list.WordCount(), key);
        break;
      case 3:
        if (list.WordCount()) list.DeleteWordAt(random() % list.WordCount());
        break;
      case 4:
        if (list.WordCount()) list.SetMarked(random() % list.WordCount(), true);
        if (random() % 8 == 0) list.DeleteMarked();
        break;
      case 5:
        if (random() % 50 == 0) list.ClearWords();
        break;
    }
    for (const std::string& probe : keys) {
      ASSERT_EQ(list.FindWord(probe), FindLinearly(list, probe)) << "step " << step;
    }
  }
}

TEST(WordList, SetWordAtKeepsMarkAndDeleteMarkedKeepsOrder) {
  WordList list;
  for (const char* word : {"eins", "zwei", "drei", "vier"}) list.AddWord(word);
  list.SetMarked(1, true);
  list.SetWordAt(1, "ZWEI");
  EXPECT_TRUE(list.IsMarked(1));
  EXPECT_EQ(list.WordAt(1), "ZWEI");
  list.SetMarked(3, true);
  list.DeleteMarked();
  ASSERT_EQ(list.WordCount(), 2u);
  EXPECT_EQ(list.WordAt(0), "eins");
  EXPECT_EQ(list.WordAt(1), "drei");
  EXPECT_FALSE(list.IsMarked(0));
}

TEST(WordList, ReorderChecksThePermutation) {
  WordList list;
  for (const char* word : {"c", "a", "b"}) list.AddWord(word);
  list.Reorder({1, 2, 0});
  EXPECT_EQ(list.WordAt(0), "a");
  EXPECT_EQ(list.WordAt(2), "c");
  EXPECT_EQ(list.FindWord("C"), 2u);
  EXPECT_THROW(list.Reorder({0, 0, 1}), std::invalid_argument);
  EXPECT_THROW(list.Reorder({0, 1}), std::invalid_argument);
  EXPECT_EQ(list.WordAt(0), "a");
}

// The list as a plain vector: erase and assign in place, find by a linear
// search for the first equal caption.
struct LiteralList {
  std::vector<WordEntry> entries;
  std::optional<size_t> Find(std::string_view text) const {
    for (size_t i = 0; i < entries.size(); ++i) {
      if (EqualIgnoringCase(entries[i].Caption, text)) return i;
    }
    return std::nullopt;
  }
};

void ExpectSameList(const WordList& list, const LiteralList& literal,
                    const std::vector<std::string>& keys) {
  ASSERT_EQ(list.WordCount(), literal.entries.size());
  for (size_t i = 0; i < literal.entries.size(); ++i) {
    ASSERT_EQ(list.WordAt(i), literal.entries[i].Caption) << i;
    ASSERT_EQ(list.IsMarked(i), literal.entries[i].Marked) << i;
  }
  for (const std::string& key : keys) ASSERT_EQ(list.FindWord(key), literal.Find(key)) << key;
}

TEST(WordList, EditsByPositionMatchTheLiteralVectorOnRandomSequences) {
  // Few keys, so groups of equal entries form, split and move; deletions at
  // the front, the end and anywhere, with every kind of read between them.
  std::mt19937 random(29);
  const std::vector<std::string> keys = {
      "a", "A", "b", "\xe4", "\xc4", "cc", "CC", "lang und l\xe4nger", ""};
  WordList list;
  LiteralList literal;
  auto key = [&] { return keys[random() % keys.size()]; };
  for (int step = 0; step < 20000; ++step) {
    const size_t count = literal.entries.size();
    const size_t at = count ? random() % count : 0;
    switch (random() % 12) {
      case 0:
      case 1:
      case 2: {
        std::string caption = key();
        list.AddWord(caption);
        literal.entries.push_back({caption, false});
        break;
      }
      case 3:
      case 4:
        if (!count) break;
        {
          std::string caption = key();
          list.SetWordAt(at, caption);
          literal.entries[at].Caption = caption;
        }
        break;
      case 5:
      case 6: {
        if (!count) break;
        size_t where = random() % 3 == 0 ? 0 : random() % 3 == 0 ? count - 1 : at;
        list.DeleteWordAt(where);
        literal.entries.erase(literal.entries.begin() + static_cast<std::ptrdiff_t>(where));
        break;
      }
      case 7:
        if (!count) break;
        list.SetMarked(at, !list.IsMarked(at));
        literal.entries[at].Marked = !literal.entries[at].Marked;
        break;
      case 8:
        if (random() % 10 == 0) {
          list.DeleteMarked();
          std::erase_if(literal.entries, [](const WordEntry& entry) { return entry.Marked; });
        }
        break;
      case 9:
        if (random() % 10 == 0) {
          std::vector<size_t> order(count);
          for (size_t i = 0; i < count; ++i) order[i] = i;
          std::shuffle(order.begin(), order.end(), random);
          list.Reorder(order);
          std::vector<WordEntry> reordered;
          for (size_t from : order) reordered.push_back(literal.entries[from]);
          literal.entries = reordered;
        }
        break;
      case 10:
        if (random() % 5 == 0) {
          ASSERT_EQ(list.Entries().size(), count);
          for (size_t i = 0; i < count; ++i)
            ASSERT_EQ(list.Entries()[i].Caption, literal.entries[i].Caption);
        }
        break;
      case 11:
        if (random() % 200 == 0) {
          list.ClearWords();
          literal.entries.clear();
        }
        break;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectSameList(list, literal, keys)) << "step " << step;
  }
}

struct RecordingObserver : WordListObserver {
  std::vector<std::string> events;
  void BeginAppend(size_t first, size_t last) override {
    events.push_back("+" + std::to_string(first) + "-" + std::to_string(last));
  }
  void EndAppend() override { events.push_back("+end"); }
  void BeginRemove(size_t first, size_t) override { events.push_back("-" + std::to_string(first)); }
  void EndRemove() override { events.push_back("-end"); }
  void BeginReset() override { events.push_back("reset"); }
  void EndReset() override { events.push_back("reset-end"); }
  void RowChanged(size_t index) override { events.push_back("~" + std::to_string(index)); }
  void BatchBegun() override { events.push_back("batch"); }
  void BatchEnded() override { events.push_back("batch-end"); }
};

TEST(WordList, ObserverSeesEveryChangeAndOneOuterBatch) {
  WordList list;
  RecordingObserver observer;
  list.SetObserver(&observer);
  list.BeginBatch();
  list.BeginBatch();
  list.AddWord("x");
  list.EndBatch();
  list.EndBatch();
  list.EndBatch();  // unbalanced end is ignored
  list.SetWordAt(0, "y");
  list.DeleteWordAt(0);
  list.ClearWords();
  EXPECT_EQ(observer.events, (std::vector<std::string>{"batch", "+0-0", "+end", "batch-end", "~0",
                                                       "-0", "-end", "reset", "reset-end"}));
}

TEST(WordList, CountLabelIsWindows1252) {
  EXPECT_EQ(WordCountLabel(11), "W\xf6rtner in der Liste: 11");
}

TEST(WordList, OutOfRangeIndexesThrow) {
  WordList list;
  EXPECT_THROW(list.WordAt(0), std::out_of_range);
  EXPECT_THROW(list.SetWordAt(0, "x"), std::out_of_range);
  EXPECT_THROW(list.DeleteWordAt(0), std::out_of_range);
}

}  // namespace
