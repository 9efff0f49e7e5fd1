// Texts kept for as long as the store lives, each written once into large
// blocks: a view of a kept text stays valid however many more are kept.
// For millions of short texts (the words of a vocabulary) this saves the
// string object and the allocation per text.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

class TTextStore {
 public:
  static constexpr std::size_t kBlockSize = 1 << 20;

  std::string_view Keep(std::string_view text) {
    if (text.empty()) return {};
    if (text.size() > capacity_ - used_) {
      capacity_ = std::max(kBlockSize, text.size());
      blocks_.push_back(std::unique_ptr<char[]>(new char[capacity_]));  // left unset
      used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, text.data(), text.size());
    used_ += text.size();
    return {at, text.size()};
  }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0, capacity_ = 0;
};
