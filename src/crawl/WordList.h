// WordList: the ordered list of harvested words behind the main window's
// list view. A model without GUI types: views attach through WordListObserver.
//
// FindWord compares captions without regard to case (ASCII and the
// Windows-1252 letters that have both forms). A hash index beside the list
// answers it in constant time and always names the first equal entry.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "IndexTable.h"

struct WordEntry {
  std::string Caption;
  bool Marked = false;  // selected in the list view; only the user changes it
};

// Notifications for a view. Begin/End pairs bracket each structural change,
// so a view can keep its own bookkeeping in step.
class WordListObserver {
 public:
  virtual ~WordListObserver() = default;
  virtual void BeginAppend(size_t /*first*/, size_t /*last*/) {}
  virtual void EndAppend() {}
  virtual void BeginRemove(size_t /*first*/, size_t /*last*/) {}
  virtual void EndRemove() {}
  virtual void BeginReset() {}
  virtual void EndReset() {}
  virtual void RowChanged(size_t /*index*/) {}
  virtual void BatchBegun() {}
  virtual void BatchEnded() {}
};

class WordList {
 public:
  void AddWord(std::string caption);
  std::optional<size_t> FindWord(std::string_view text) const;
  size_t WordCount() const { return entries_.size(); }
  const std::string& WordAt(size_t index) const { return entries_.at(index).Caption; }
  void SetWordAt(size_t index, std::string caption);
  void DeleteWordAt(size_t index);
  void ClearWords();
  bool IsMarked(size_t index) const { return entries_.at(index).Marked; }
  void SetMarked(size_t index, bool marked) { entries_.at(index).Marked = marked; }

  // The view is not redrawn between the two; calls may nest.
  void BeginBatch();
  void EndBatch();
  bool InBatch() const { return batchDepth_ > 0; }

  // Removes every marked entry, keeping the order of the rest; linear time.
  void DeleteMarked();
  // Puts the entries into the order given by `order` (a permutation of the
  // indexes: order[k] is the old index of the new entry k).
  void Reorder(const std::vector<size_t>& order);

  const std::vector<WordEntry>& Entries() const { return entries_; }

  void SetObserver(WordListObserver* observer) { observer_ = observer; }

 private:
  uint32_t KeyHash(std::string_view text) const;
  uint32_t FindIndexed(std::string_view text, uint32_t hash) const;
  void IndexAfterAppend(size_t index);
  void UnindexEntry(size_t index);
  void IndexEntry(size_t index);
  void RebuildIndex();
  void ReplaceEntries(std::vector<WordEntry> entries);

  std::vector<WordEntry> entries_;
  TIndexTable index_;  // one slot per key: the first entry with that key
  WordListObserver* observer_ = nullptr;
  int batchDepth_ = 0;
};

// Windows-1252 case folding for FindWord: the upper-case form of a letter
// that has both forms, every other byte unchanged.
unsigned char FoldCase(unsigned char c);
bool EqualIgnoringCase(std::string_view a, std::string_view b);

// The count label's text, "Wörtner in der Liste: " + count, in Windows-1252.
std::string WordCountLabel(size_t count);
