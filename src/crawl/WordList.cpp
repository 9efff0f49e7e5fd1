#include "WordList.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::array<unsigned char, 256> MakeFoldTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<unsigned char>(c - 32);
  // à-þ pair with À-Þ, except ÷ (× has no lower-case form either).
  for (int c = 0xE0; c <= 0xFE; ++c) {
    if (c != 0xF7) table[c] = static_cast<unsigned char>(c - 32);
  }
  table[0x9A] = 0x8A;  // š Š
  table[0x9C] = 0x8C;  // œ Œ
  table[0x9E] = 0x8E;  // ž Ž
  table[0xFF] = 0x9F;  // ÿ Ÿ
  return table;
}

constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

}  // namespace

unsigned char FoldCase(unsigned char c) { return kFold[c]; }

namespace {

// The comparison behind FindWord, inlined into its hot path.
[[gnu::always_inline]] inline bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && kFold[static_cast<unsigned char>(a[i])] != kFold[static_cast<unsigned char>(b[i])]) return false;
  }
  return true;
}

}  // namespace

bool EqualIgnoringCase(std::string_view a, std::string_view b) { return SameKey(a, b); }

std::string WordCountLabel(size_t count) { return "W\xF6rtner in der Liste: " + std::to_string(count); }

// ---------------------------------------------------------------------------
// Index upkeep. The index holds, for each distinct key, the position of the
// first entry with that key.

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
  for (size_t i = 0; i < 8; ++i) chunk |= static_cast<uint64_t>(kFold[p[i]]) << (8 * i);
  return chunk;
}

uint64_t Mix(uint64_t hash, uint64_t chunk) {
  __uint128_t product = static_cast<__uint128_t>(hash ^ chunk) * 0xD6E8FEB86659FD93ull;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

}  // namespace

// Hashes the case-folded bytes eight at a time.
[[gnu::always_inline]] inline uint32_t WordList::KeyHash(std::string_view text) const {
  uint64_t hash = 0x9E3779B97F4A7C15ull ^ text.size();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
  size_t left = text.size();
  for (; left >= 8; left -= 8, p += 8) hash = Mix(hash, FoldedChunk8(p));
  if (left > 0) {
    uint64_t tail = 0;
    for (size_t i = 0; i < left; ++i) tail |= static_cast<uint64_t>(kFold[p[i]]) << (8 * i);
    hash = Mix(hash, tail);
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

[[gnu::always_inline]] inline uint32_t WordList::FindIndexed(std::string_view text, uint32_t hash) const {
  return index_.Find(hash, [&](uint32_t at) { return SameKey(entries_[at].Caption, text); });
}

void WordList::IndexAfterAppend(size_t index) {
  std::string_view caption = entries_[index].Caption;
  uint32_t hash = KeyHash(caption);
  if (FindIndexed(caption, hash) == TIndexTable::kNone) index_.Insert(hash, static_cast<uint32_t>(index));
}

// Takes the entry out of the index, handing its key to the next equal entry.
void WordList::UnindexEntry(size_t index) {
  std::string_view caption = entries_[index].Caption;
  uint32_t hash = KeyHash(caption);
  auto sameKey = [&](uint32_t at) { return EqualIgnoringCase(entries_[at].Caption, caption); };
  if (index_.Find(hash, sameKey) != index) return;
  for (size_t next = index + 1; next < entries_.size(); ++next) {
    if (EqualIgnoringCase(entries_[next].Caption, caption)) {
      index_.Replace(hash, sameKey, static_cast<uint32_t>(next));
      return;
    }
  }
  index_.Erase(hash, sameKey);
}

// Puts the entry into the index unless an earlier entry holds its key.
void WordList::IndexEntry(size_t index) {
  std::string_view caption = entries_[index].Caption;
  uint32_t hash = KeyHash(caption);
  auto sameKey = [&](uint32_t at) { return EqualIgnoringCase(entries_[at].Caption, caption); };
  uint32_t first = index_.Find(hash, sameKey);
  if (first == TIndexTable::kNone) {
    index_.Insert(hash, static_cast<uint32_t>(index));
  } else if (first > index) {
    index_.Replace(hash, sameKey, static_cast<uint32_t>(index));
  }
}

void WordList::RebuildIndex() {
  index_.Clear();
  for (size_t i = 0; i < entries_.size(); ++i) IndexAfterAppend(i);
}

// ---------------------------------------------------------------------------
// Operations

void WordList::AddWord(std::string caption) {
  size_t index = entries_.size();
  if (index >= TIndexTable::kNone - 1) throw std::length_error("word list is full");
  if (observer_) observer_->BeginAppend(index, index);
  entries_.push_back(WordEntry{std::move(caption), false});
  IndexAfterAppend(index);
  if (observer_) observer_->EndAppend();
}

std::optional<size_t> WordList::FindWord(std::string_view text) const {
  uint32_t found = FindIndexed(text, KeyHash(text));
  if (found == TIndexTable::kNone) return std::nullopt;
  return found;
}

void WordList::SetWordAt(size_t index, std::string caption) {
  WordEntry& entry = entries_.at(index);
  UnindexEntry(index);
  entry.Caption = std::move(caption);
  IndexEntry(index);
  if (observer_) observer_->RowChanged(index);
}

void WordList::DeleteWordAt(size_t index) {
  if (index >= entries_.size()) throw std::out_of_range("word list index out of range");
  if (observer_) observer_->BeginRemove(index, index);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
  RebuildIndex();
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
  std::vector<WordEntry> kept;
  kept.reserve(entries_.size());
  for (WordEntry& entry : entries_) {
    if (!entry.Marked) kept.push_back(std::move(entry));
  }
  ReplaceEntries(std::move(kept));
}

void WordList::Reorder(const std::vector<size_t>& order) {
  if (order.size() != entries_.size()) throw std::invalid_argument("reorder needs a permutation of the list");
  std::vector<bool> seen(order.size());
  for (size_t from : order) {
    if (from >= entries_.size() || seen[from]) throw std::invalid_argument("reorder needs a permutation of the list");
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
