// Memory for the large tables of a vocabulary: its entries, its index and
// the blocks its texts are kept in, which reach hundreds of megabytes on a
// big site or a merge of big files. Pieces of 2 MiB and more are mapped on
// their own and offered to the system's transparent huge pages, so filling
// them costs a page fault per 2 MiB instead of one per 4 KiB (on a virtual
// machine each fault is dear: filling a merge's 250 MB took a third of its
// time). Where the system gives no huge pages the memory is ordinary.
// Smaller pieces come from the heap as usual.
#pragma once

#include <cstddef>
#include <memory>
#include <new>

inline constexpr std::size_t kLargePiece = std::size_t{2} << 20;

// `bytes` (at least kLargePiece) on pages of their own; throws
// std::bad_alloc when the system has none.
void* AllocateLarge(std::size_t bytes);
// Gives back what AllocateLarge(bytes) returned.
void FreeLarge(void* memory, std::size_t bytes) noexcept;

// A container's allocator that maps large pieces with AllocateLarge.
template <class T>
struct TLargeAllocator {
  using value_type = T;

  TLargeAllocator() = default;
  template <class U>
  TLargeAllocator(const TLargeAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kLargePiece) return std::allocator<T>().allocate(count);
    return static_cast<T*>(AllocateLarge(bytes));
  }
  void deallocate(T* memory, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < kLargePiece) {
      std::allocator<T>().deallocate(memory, count);
    } else {
      FreeLarge(memory, bytes);
    }
  }
  template <class U>
  bool operator==(const TLargeAllocator<U>&) const noexcept {
    return true;
  }
};
