// Texts kept for as long as the store lives, each written once into large
// blocks: a view of a kept text stays valid however many more are kept.
// For millions of short texts (the words of a vocabulary) this saves the
// string object and the allocation per text.
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
    for (const Block& block : blocks_) FreeLarge(block.Bytes, block.Size);
  }

  std::string_view Keep(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > capacity_ - used_) {
      capacity_ = std::max(kBlockSize, text.size());
      blocks_.reserve(blocks_.size() + 1);
      blocks_.push_back({static_cast<char*>(AllocateLarge(capacity_)), capacity_});
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
