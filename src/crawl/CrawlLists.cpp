#include "CrawlLists.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {
constexpr size_t kChunkSize = 64 * 1024;
}

std::string_view TStringPool::Store(std::string_view text) {
  if (text.empty()) return {};
  char* at;
  if (text.size() > kChunkSize / 4) {
    // Long texts get a block of their own; the current chunk stays in use.
    chunks_.push_back(std::make_unique<char[]>(text.size()));
    at = chunks_.back().get();
  } else {
    if (kChunkSize - chunkUsed_ < text.size() || !current_) {
      chunks_.push_back(std::make_unique<char[]>(kChunkSize));
      current_ = chunks_.back().get();
      chunkUsed_ = 0;
    }
    at = current_ + chunkUsed_;
    chunkUsed_ += text.size();
  }
  std::memcpy(at, text.data(), text.size());
  return {at, text.size()};
}

std::optional<uint32_t> TStringPool::Find(std::string_view text) const {
  uint32_t found = index_.Find(HashBytes(text), [&](uint32_t id) { return views_[id] == text; });
  if (found == TIndexTable::kNone) return std::nullopt;
  return found;
}

uint32_t TStringPool::Intern(std::string_view text) {
  uint32_t hash = HashBytes(text);
  uint32_t found = index_.Find(hash, [&](uint32_t id) { return views_[id] == text; });
  if (found != TIndexTable::kNone) return found;
  if (views_.size() >= TIndexTable::kNone - 1) throw std::length_error("string pool is full");
  uint32_t id = static_cast<uint32_t>(views_.size());
  views_.push_back(Store(text));
  index_.Insert(hash, id);
  return id;
}

void TFetchedPages::Add(std::string_view address) {
  pool_.Intern(address);
  ++count_;
}

void TFailedPages::Add(std::string_view address, bool final) {
  const uint32_t id = pool_.Intern(address);
  if (id >= tries_.size()) tries_.resize(id + 1, 0);
  std::uint8_t& tries = tries_[id];
  tries = final ? kMaxTries : static_cast<std::uint8_t>(std::min<int>(tries + 1, kMaxTries));
}

bool TFailedPages::GivenUp(std::string_view address) const {
  const std::optional<uint32_t> id = pool_.Find(address);
  return id && tries_[*id] >= kMaxTries;
}
