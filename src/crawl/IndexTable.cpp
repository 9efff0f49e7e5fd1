#include "IndexTable.h"

uint32_t HashBytes(std::string_view text) {
  // FNV-1a, folded to 32 bits.
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

void TIndexTable::Insert(uint32_t hash, uint32_t position) {
  if ((used_ + 1) * 2 > slots_.size()) Grow();
  for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
    Slot& slot = slots_[i];
    if (slot.value == kEmpty || slot.value == kErased) {
      if (slot.value == kEmpty) ++used_;
      slot = Slot{hash, position + 1};
      ++count_;
      return;
    }
  }
}

void TIndexTable::Clear() {
  slots_.clear();
  mask_ = 0;
  count_ = 0;
  used_ = 0;
}

void TIndexTable::Grow() {
  size_t size = 16;
  while (size < (count_ + 1) * 4) size *= 2;
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.assign(size, Slot{});
  mask_ = size - 1;
  count_ = 0;
  used_ = 0;
  for (const Slot& slot : old) {
    if (slot.value != kEmpty && slot.value != kErased) Insert(slot.hash, slot.value - 1);
  }
}
