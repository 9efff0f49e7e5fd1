#include "LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace {

std::size_t Rounded(std::size_t bytes) {
  return (bytes + kLargePiece - 1) / kLargePiece * kLargePiece;
}

}  // namespace

// A huge page must lie on a 2 MiB boundary: the mapping is made a piece
// longer and trimmed to one that starts on the boundary.
void* AllocateLarge(std::size_t bytes) {
  if (bytes > SIZE_MAX - 2 * kLargePiece) throw std::bad_alloc();
  const std::size_t size = Rounded(bytes);
  const std::size_t mapped = size + kLargePiece;
  void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(memory);
  const std::uintptr_t aligned = (start + kLargePiece - 1) / kLargePiece * kLargePiece;
  if (aligned > start) munmap(memory, aligned - start);
  const std::size_t tail = start + mapped - (aligned + size);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  auto* piece = reinterpret_cast<void*>(aligned);
  madvise(piece, size, MADV_HUGEPAGE);  // a hint: without it the pages are small
  return piece;
}

void FreeLarge(void* memory, std::size_t bytes) noexcept {
  if (memory) munmap(memory, Rounded(bytes));
}
