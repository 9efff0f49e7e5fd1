#include "PatternBytes.h"

namespace testsupport {

std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t seed) {
  auto p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) seed = (seed ^ p[i]) * 1099511628211ull;
  return seed;
}

void FillPattern(char* out, std::size_t size, std::uint64_t offset, std::uint64_t seed) {
  // Each 8-byte word is a hash of its index: cheap, and no run repeats.
  for (std::size_t i = 0; i < size; ++i) {
    std::uint64_t word = (offset + i) / 8;
    std::uint64_t x = (word + seed) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    out[i] = static_cast<char>(x >> (8 * ((offset + i) % 8)));
  }
}

}  // namespace testsupport
