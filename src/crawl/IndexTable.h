// A small open-addressing hash index that maps keys to positions (uint32)
// in a container the caller owns. The table stores no keys: the caller
// supplies the hash and a predicate that compares a stored position's key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "LargeMemory.h"

// The secret that keys every index hash, drawn once per process: a site
// that chooses its words or addresses cannot know which of them share a
// bucket, so it cannot make the lookups linear.
struct THashKey {
  uint64_t Start;
  uint64_t Step;    // odd
  uint64_t Finish;  // odd
};
THashKey DrawHashKey();
inline const THashKey& HashKey() {
  static const THashKey key = DrawHashKey();
  return key;
}

// The keyed hash, eight bytes at a time: StartHash, then HashChunk for each
// chunk of up to eight bytes (the last one padded with zeros), then
// FinishHash. Callers that fold case feed folded chunks.
inline uint64_t MultiplyFold(uint64_t a, uint64_t b) {
  __uint128_t product = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}
inline uint64_t StartHash(size_t size) { return HashKey().Start ^ size; }
inline uint64_t HashChunk(uint64_t hash, uint64_t chunk) {
  return MultiplyFold(hash ^ chunk, HashKey().Step);
}
inline uint32_t FinishHash(uint64_t hash) {
  uint64_t mixed = MultiplyFold(hash, HashKey().Finish);
  return static_cast<uint32_t>(mixed ^ (mixed >> 32));
}

// The keyed hash of the bytes as they are.
uint32_t HashBytes(std::string_view text);

class TIndexTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The position stored for a key with this hash for which `matches(position)`
  // holds, or kNone.
  template <class Match>
  uint32_t Find(uint32_t hash, Match matches) const {
    if (slots_.empty()) return kNone;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.value == kEmpty) return kNone;
      if (slot.value != kErased && slot.hash == hash && matches(slot.value - 1))
        return slot.value - 1;
    }
  }

  // Replaces the position stored for the matching key (which must be present).
  template <class Match>
  void Replace(uint32_t hash, Match matches, uint32_t position) {
    if (Slot* slot = FindSlot(hash, matches)) slot->value = position + 1;
  }

  // Removes the matching key's entry, if present.
  template <class Match>
  void Erase(uint32_t hash, Match matches) {
    if (Slot* slot = FindSlot(hash, matches)) {
      slot->value = kErased;
      --count_;
    }
  }

  // Asks the processor to fetch the slot where a lookup of this hash
  // starts, so that a batch of lookups waits for memory once, not each.
  void Prefetch(uint32_t hash) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[hash & mask_]);
  }

  // Adds a position under a key that is not present yet.
  void Insert(uint32_t hash, uint32_t position);
  // Room for `count` keys in all without growing.
  void Reserve(size_t count);
  void Clear();
  size_t Count() const { return count_; }

 private:
  static constexpr uint32_t kEmpty = 0;
  static constexpr uint32_t kErased = UINT32_MAX;
  struct Slot {
    uint32_t hash = 0;
    uint32_t value = kEmpty;  // position + 1, or kEmpty / kErased
  };

  template <class Match>
  Slot* FindSlot(uint32_t hash, Match matches) {
    if (slots_.empty()) return nullptr;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      Slot& slot = slots_[i];
      if (slot.value == kEmpty) return nullptr;
      if (slot.value != kErased && slot.hash == hash && matches(slot.value - 1)) return &slot;
    }
  }
  void Grow(size_t atLeast = 0);

  std::vector<Slot, TLargeAllocator<Slot>> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;  // filled or erased slots
};
