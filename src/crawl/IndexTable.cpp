#include "IndexTable.h"

#include <cstring>
#include <random>

THashKey DrawHashKey() {
  std::random_device source;
  auto draw = [&] { return (static_cast<uint64_t>(source()) << 32) ^ source(); };
  return THashKey{draw(), draw() | 1, draw() | 1};
}

uint32_t HashBytes(std::string_view text) {
  uint64_t hash = StartHash(text.size());
  const char* p = text.data();
  size_t left = text.size();
  for (; left >= 8; left -= 8, p += 8) {
    uint64_t chunk;
    std::memcpy(&chunk, p, 8);
    hash = HashChunk(hash, chunk);
  }
  if (left > 0) {
    uint64_t tail = 0;
    std::memcpy(&tail, p, left);
    hash = HashChunk(hash, tail);
  }
  return FinishHash(hash);
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

void TIndexTable::Reserve(size_t count) {
  if (count * 2 > slots_.size()) Grow(count);
}

void TIndexTable::Grow(size_t atLeast) {
  size_t size = 16;
  while (size < (count_ + 1) * 4 || size < atLeast * 2 + 2) size *= 2;
  std::vector<Slot, TLargeAllocator<Slot>> old;
  old.swap(slots_);
  slots_.assign(size, Slot{});
  mask_ = size - 1;
  count_ = 0;
  used_ = 0;
  for (const Slot& slot : old) {
    if (slot.value != kEmpty && slot.value != kErased) Insert(slot.hash, slot.value - 1);
  }
}
