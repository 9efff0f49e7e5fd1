// Large test files that need not be kept in memory: deterministic filler
// bytes and a running hash to check them by.
#pragma once

#include <cstddef>
#include <cstdint>

namespace testsupport {

// FNV-1a over a byte range; Fnv1a(b, n2, Fnv1a(a, n1)) equals the sum of a+b.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t seed = kFnvOffset);

// Deterministic filler bytes: the same (offset, seed) always gives the same
// bytes, so a large file need not be kept in memory to be checked.
void FillPattern(char* out, std::size_t size, std::uint64_t offset, std::uint64_t seed = 1);

}  // namespace testsupport
