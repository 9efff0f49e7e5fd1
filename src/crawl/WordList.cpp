#include "WordList.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

// The comparison behind FindWord, inlined into its hot path.
[[gnu::always_inline]] inline bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) { return SameKey(a, b); }

std::string WordCountLabel(size_t count) {
  return "W\xF6rtner in der Liste: " + std::to_string(count);
}

// ---------------------------------------------------------------------------
// Index upkeep. Entries live in slots; a deleted entry leaves a dead slot
// until the slots are compacted, so deleting moves nothing. While dead slots
// exist, a tree of counts turns positions into slots and back. Each distinct
// key has a group: its first slot and its number of entries. The index maps
// keys to groups; the slots of groups with more than one entry are also kept
// in order in shared_, so the next equal entry is found without a search.

namespace {

// Eight bytes with the ASCII letters a-z upper-cased, all in one go; only
// valid when no byte is 128 or above.
uint64_t UpperAsciiWord(uint64_t bytes) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  uint64_t aboveA = bytes + kOnes * (0x80 - 'a');      // high bit set where byte >= 'a'
  uint64_t aboveZ = bytes + kOnes * (0x80 - 'z' - 1);  // high bit set where byte > 'z'
  uint64_t lower = aboveA & ~aboveZ & kOnes * 0x80;
  return bytes - (lower >> 2);  // 0x80 >> 2 == 0x20 per lower-case letter
}

// Eight bytes, case-folded, as one number.
uint64_t FoldedChunk8(const unsigned char* p) {
  uint64_t chunk;
  std::memcpy(&chunk, p, 8);
  if ((chunk & 0x8080808080808080ull) == 0) return UpperAsciiWord(chunk);
  chunk = 0;
  for (size_t i = 0; i < 8; ++i) chunk |= static_cast<uint64_t>(kUpperCp1252[p[i]]) << (8 * i);
  return chunk;
}

// Hashes the case-folded bytes eight at a time.
[[gnu::always_inline]] inline uint32_t FoldedKeyHash(std::string_view text) {
  uint64_t hash = StartHash(text.size());
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  for (; left >= 8; left -= 8, p += 8) hash = HashChunk(hash, FoldedChunk8(p));
  if (left > 0) {
    uint64_t tail = 0;
    for (size_t i = 0; i < left; ++i) tail |= static_cast<uint64_t>(kUpperCp1252[p[i]]) << (8 * i);
    hash = HashChunk(hash, tail);
  }
  return FinishHash(hash);
}

}  // namespace

uint32_t WordKeyHash(std::string_view text) { return FoldedKeyHash(text); }

[[gnu::always_inline]] inline uint32_t WordList::KeyHash(std::string_view text) const {
  return FoldedKeyHash(text);
}

[[gnu::always_inline]] inline uint32_t WordList::FindGroup(std::string_view text,
                                                           uint32_t hash) const {
  return index_.Find(
      hash, [&](uint32_t group) { return SameKey(entries_[groups_[group].First].Caption, text); });
}

namespace {
uint64_t SharedKey(uint32_t group, uint32_t slot) {
  return static_cast<uint64_t>(group) << 32 | slot;
}
}  // namespace

void WordList::JoinGroup(uint32_t slot) {
  std::string_view caption = entries_[slot].Caption;
  uint32_t hash = KeyHash(caption);
  uint32_t group = FindGroup(caption, hash);
  if (group == TIndexTable::kNone) {
    if (freeGroups_.empty()) {
      group = static_cast<uint32_t>(groups_.size());
      groups_.push_back({slot, 1});
    } else {
      group = freeGroups_.back();
      freeGroups_.pop_back();
      groups_[group] = {slot, 1};
    }
    index_.Insert(hash, group);
  } else {
    TKeyGroup& joined = groups_[group];
    if (joined.Count == 1) shared_.insert(SharedKey(group, joined.First));
    shared_.insert(SharedKey(group, slot));
    ++joined.Count;
    if (slot < joined.First) joined.First = slot;
  }
  groupOf_[slot] = group;
}

// Takes the slot out of its group, handing the key to the next equal entry.
void WordList::LeaveGroup(uint32_t slot) {
  uint32_t group = groupOf_[slot];
  groupOf_[slot] = kDeadSlot;
  TKeyGroup& left = groups_[group];
  if (left.Count == 1) {
    index_.Erase(KeyHash(entries_[slot].Caption),
                 [group](uint32_t stored) { return stored == group; });
    freeGroups_.push_back(group);
    return;
  }
  shared_.erase(SharedKey(group, slot));
  --left.Count;
  auto first = shared_.lower_bound(SharedKey(group, 0));
  left.First = static_cast<uint32_t>(*first);
  if (left.Count == 1) shared_.erase(first);
}

void WordList::RebuildIndex() {
  index_.Clear();
  groups_.clear();
  freeGroups_.clear();
  shared_.clear();
  groupOf_.assign(entries_.size(), kDeadSlot);
  alive_.reset();
  dead_ = 0;
  for (size_t slot = 0; slot < entries_.size(); ++slot) JoinGroup(static_cast<uint32_t>(slot));
}

uint32_t WordList::SlotAt(size_t index) const {
  if (index >= WordCount()) throw std::out_of_range("word list index out of range");
  return static_cast<uint32_t>(dead_ == 0 ? index : alive_->FindKth(index));
}

size_t WordList::PositionOf(uint32_t slot) const {
  return dead_ == 0 ? slot : alive_->CountBefore(slot);
}

// Drops dead slots at the end at once; any other slot stays, dead, until
// half of the slots are dead, so a run of deletions costs linear time in all.
void WordList::KillSlot(uint32_t slot) {
  LeaveGroup(slot);
  std::string().swap(entries_[slot].Caption);
  if (!alive_) alive_ = std::make_unique<TFenwick>(entries_.size(), 1);
  alive_->Add(slot, -1);
  ++dead_;
  while (!entries_.empty() && groupOf_.back() == kDeadSlot) {
    entries_.pop_back();
    groupOf_.pop_back();
    alive_->PopBack();
    --dead_;
  }
  if (dead_ == 0) {
    alive_.reset();
  } else if (dead_ * 2 > entries_.size()) {
    Compact();
  }
}

void WordList::Compact() {
  if (dead_ == 0) return;
  size_t kept = 0;
  for (size_t slot = 0; slot < entries_.size(); ++slot) {
    if (groupOf_[slot] == kDeadSlot) continue;
    if (kept != slot)
      entries_[kept] = std::move(entries_[slot]);  // a string moved onto itself may empty
    ++kept;
  }
  entries_.resize(kept);
  RebuildIndex();
}

// Closing the gaps changes no position, caption or mark: to the caller the
// list stays the same, so a const list may do it.
const std::vector<WordEntry>& WordList::Entries() const {
  const_cast<WordList*>(this)->Compact();
  return entries_;
}

// ---------------------------------------------------------------------------
// Operations

void WordList::AddWord(std::string caption) {
  size_t slot = entries_.size();
  if (slot >= TIndexTable::kNone - 1) throw std::length_error("word list is full");
  size_t index = WordCount();
  if (observer_) observer_->BeginAppend(index, index);
  entries_.push_back(WordEntry{std::move(caption), false});
  groupOf_.push_back(kDeadSlot);
  if (alive_) alive_->Append(1);
  JoinGroup(static_cast<uint32_t>(slot));
  if (observer_) observer_->EndAppend();
}

std::optional<size_t> WordList::FindWord(std::string_view text) const {
  uint32_t group = FindGroup(text, KeyHash(text));
  if (group == TIndexTable::kNone) return std::nullopt;
  return PositionOf(groups_[group].First);
}

void WordList::SetWordAt(size_t index, std::string caption) {
  uint32_t slot = SlotAt(index);
  LeaveGroup(slot);
  entries_[slot].Caption = std::move(caption);
  JoinGroup(slot);
  if (observer_) observer_->RowChanged(index);
}

void WordList::DeleteWordAt(size_t index) {
  uint32_t slot = SlotAt(index);
  if (observer_) observer_->BeginRemove(index, index);
  KillSlot(slot);
  if (observer_) observer_->EndRemove();
}

void WordList::ClearWords() { ReplaceEntries({}); }

void WordList::BeginBatch() {
  if (batchDepth_++ == 0 && observer_) observer_->BatchBegun();
}

void WordList::EndBatch() {
  if (batchDepth_ == 0) return;
  if (--batchDepth_ == 0 && observer_) observer_->BatchEnded();
}

void WordList::DeleteMarked() {
  Compact();
  std::vector<WordEntry> kept;
  kept.reserve(entries_.size());
  for (WordEntry& entry : entries_) {
    if (!entry.Marked) kept.push_back(std::move(entry));
  }
  ReplaceEntries(std::move(kept));
}

void WordList::Reorder(const std::vector<size_t>& order) {
  Compact();
  if (order.size() != entries_.size())
    throw std::invalid_argument("reorder needs a permutation of the list");
  std::vector<bool> seen(order.size());
  for (size_t from : order) {
    if (from >= entries_.size() || seen[from])
      throw std::invalid_argument("reorder needs a permutation of the list");
    seen[from] = true;
  }
  std::vector<WordEntry> sorted;
  sorted.reserve(order.size());
  for (size_t from : order) sorted.push_back(std::move(entries_[from]));
  ReplaceEntries(std::move(sorted));
}

void WordList::ReplaceEntries(std::vector<WordEntry> entries) {
  if (observer_) observer_->BeginReset();
  entries_ = std::move(entries);
  RebuildIndex();
  if (observer_) observer_->EndReset();
}
