// WordList: the ordered list of harvested words behind the main window's
// list view. A model without GUI types: views attach through WordListObserver.
//
// FindWord compares captions without regard to case (ASCII and the
// Windows-1252 letters that have both forms). A hash index beside the list
// answers it in constant time (O(log n) after deletions) and always names
// the first equal entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Cp1252Case.h"
#include "Fenwick.h"
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

// Every operation on one entry takes O(log n) time or less (amortised); a
// deletion leaves a gap that later calls close, so reading by position costs
// O(log n) instead of O(1) until the list is next compacted (Entries,
// DeleteMarked, Reorder, or when half the slots are gaps).
class WordList {
 public:
  void AddWord(std::string caption);
  std::optional<size_t> FindWord(std::string_view text) const;
  size_t WordCount() const { return entries_.size() - dead_; }
  // Throw std::out_of_range past the end, like the calls below that take an index.
  const std::string& WordAt(size_t index) const { return entries_[SlotAt(index)].Caption; }
  void SetWordAt(size_t index, std::string caption);
  void DeleteWordAt(size_t index);
  void ClearWords();
  bool IsMarked(size_t index) const { return entries_[SlotAt(index)].Marked; }
  void SetMarked(size_t index, bool marked) { entries_[SlotAt(index)].Marked = marked; }

  // The view is not redrawn between the two; calls may nest.
  void BeginBatch();
  void EndBatch();
  bool InBatch() const { return batchDepth_ > 0; }

  // Removes every marked entry, keeping the order of the rest; linear time.
  void DeleteMarked();
  // Puts the entries into the order given by `order` (a permutation of the
  // indexes: order[k] is the old index of the new entry k).
  void Reorder(const std::vector<size_t>& order);

  // Every entry in order; closes the gaps of deleted entries first (linear
  // time when there are any), which ends references from WordAt.
  const std::vector<WordEntry>& Entries() const;

  void SetObserver(WordListObserver* observer) { observer_ = observer; }

 private:
  static constexpr uint32_t kDeadSlot = UINT32_MAX;
  struct TKeyGroup {
    uint32_t First;  // the slot of the first entry with the key
    uint32_t Count;  // entries with the key
  };

  uint32_t KeyHash(std::string_view text) const;
  uint32_t FindGroup(std::string_view text, uint32_t hash) const;
  void JoinGroup(uint32_t slot);
  void LeaveGroup(uint32_t slot);
  void RebuildIndex();
  uint32_t SlotAt(size_t index) const;
  size_t PositionOf(uint32_t slot) const;
  void KillSlot(uint32_t slot);
  void Compact();
  void ReplaceEntries(std::vector<WordEntry> entries);

  std::vector<WordEntry> entries_;  // by slot; dead slots hold empty captions
  std::vector<uint32_t> groupOf_;   // per slot: its key group, or kDeadSlot
  std::vector<TKeyGroup> groups_;
  std::vector<uint32_t> freeGroups_;
  std::set<uint64_t> shared_;        // group << 32 | slot, for groups of two or more
  std::unique_ptr<TFenwick> alive_;  // one per live slot, while any slot is dead
  size_t dead_ = 0;
  TIndexTable index_;  // key to group
  WordListObserver* observer_ = nullptr;
  int batchDepth_ = 0;
};

// Equal but for the Windows-1252 letter case (FoldCase): how FindWord
// compares.
bool EqualIgnoringCase(std::string_view a, std::string_view b);
// The keyed hash of the case-folded text (see HashKey): equal for texts
// that EqualIgnoringCase calls equal.
uint32_t WordKeyHash(std::string_view text);

// The count label's text, "Wörtner in der Liste: " + count, in Windows-1252.
std::string WordCountLabel(size_t count);
