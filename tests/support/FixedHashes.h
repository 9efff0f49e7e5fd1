// Keys that all fall into one bucket under the fixed, unkeyed hashes the
// indexes once used (FNV-1a for addresses, a multiply-fold over case-folded
// chunks for words), for tests and benchmarks of the keyed hashes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fixedhash {

inline uint32_t Bytes(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// `fold` maps a byte to its case-folded form.
template <class Fold>
uint32_t Word(std::string_view text, Fold fold) {
  auto mix = [](uint64_t hash, uint64_t chunk) {
    __uint128_t product = static_cast<__uint128_t>(hash ^ chunk) * 0xD6E8FEB86659FD93ull;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
  };
  auto chunkAt = [&](size_t at) {
    uint64_t chunk = 0;
    for (size_t i = 0; i < 8 && at + i < text.size(); ++i) {
      chunk |= static_cast<uint64_t>(fold(static_cast<unsigned char>(text[at + i]))) << (8 * i);
    }
    return chunk;
  };
  uint64_t hash = 0x9E3779B97F4A7C15ull ^ text.size();
  for (size_t at = 0; at < text.size(); at += 8) hash = mix(hash, chunkAt(at));
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// `count` keys "prefix<number>" whose hashes agree in the bits of `mask`.
template <class Hash>
std::vector<std::string> CollidingKeys(const std::string& prefix, size_t count, uint32_t mask,
                                       Hash hash) {
  std::vector<std::string> keys;
  for (uint64_t i = 0; keys.size() < count; ++i) {
    std::string key = prefix + std::to_string(i);
    if ((hash(key) & mask) == 0) keys.push_back(std::move(key));
  }
  return keys;
}

}  // namespace fixedhash
