// Texts kept for as long as the store lives, each written once into large
// blocks: a view of a kept text stays valid however many more are kept.
// For millions of short texts (the words of a vocabulary) this saves the
// string object and the allocation per text. The blocks grow from 64 KiB
// to kBlockSize, so a small store stays small.
#pragma once

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "LargeMemory.h"

class TTextStore {
 public:
  static constexpr std::size_t kBlockSize = kLargePiece;
  static constexpr std::size_t kFirstBlockSize = std::size_t{64} << 10;

  TTextStore() = default;
  TTextStore(TTextStore&& other) noexcept
      : blocks_(std::move(other.blocks_)), used_(other.used_), capacity_(other.capacity_) {
    other.blocks_.clear();
    other.used_ = other.capacity_ = 0;
  }
  TTextStore& operator=(TTextStore&& other) noexcept {
    std::swap(blocks_, other.blocks_);
    std::swap(used_, other.used_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~TTextStore() {
    for (const Block& block : blocks_) {
      if (block.Size >= kLargePiece) {
        FreeLarge(block.Bytes, block.Size);
      } else {
        delete[] block.Bytes;
      }
    }
  }

  std::string_view Keep(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > capacity_ - used_) {
      const std::size_t next =
          blocks_.empty() ? kFirstBlockSize : std::min(kBlockSize, 2 * capacity_);
      capacity_ = std::max(next, text.size());
      blocks_.reserve(blocks_.size() + 1);
      char* bytes = capacity_ >= kLargePiece ? static_cast<char*>(AllocateLarge(capacity_))
                                             : new char[capacity_];  // left unset
      blocks_.push_back({bytes, capacity_});
      used_ = 0;
    }
    char* at = blocks_.back().Bytes + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
  }

 private:
  struct Block {
    char* Bytes;
    std::size_t Size;
  };
  std::vector<Block> blocks_;
  std::size_t used_ = 0, capacity_ = 0;
};
