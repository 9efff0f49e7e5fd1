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
#include <cstdint>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

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

// A growing array of millions of elements in pieces of kLargePiece bytes:
// growing never moves an element (references stay valid) and never needs
// the old and the new array at once, as a vector's doubling does.
template <class T>
class TChunkedArray {
 public:
  static constexpr std::size_t kPerChunk = kLargePiece / sizeof(T);

  TChunkedArray() = default;
  TChunkedArray(const TChunkedArray&) = delete;
  TChunkedArray& operator=(const TChunkedArray&) = delete;
  ~TChunkedArray() {
    for (std::size_t i = 0; i < size_; ++i) (*this)[i].~T();
    for (T* chunk : chunks_) FreeLarge(chunk, kLargePiece);
  }

  template <class... Args>
  T& emplace_back(Args&&... args) {
    if (size_ == chunks_.size() * kPerChunk) {
      chunks_.reserve(chunks_.size() + 1);
      chunks_.push_back(static_cast<T*>(AllocateLarge(kLargePiece)));
    }
    T* at = chunks_[size_ / kPerChunk] + size_ % kPerChunk;
    ::new (static_cast<void*>(at)) T(std::forward<Args>(args)...);
    ++size_;
    return *at;
  }

  T& operator[](std::size_t i) { return chunks_[i / kPerChunk][i % kPerChunk]; }
  const T& operator[](std::size_t i) const { return chunks_[i / kPerChunk][i % kPerChunk]; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    const_iterator(const TChunkedArray* array, std::size_t at) : array_(array), at_(at) {}
    const T& operator*() const { return (*array_)[at_]; }
    const T* operator->() const { return &(*array_)[at_]; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }

   private:
    const TChunkedArray* array_;
    std::size_t at_;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }

 private:
  std::vector<T*> chunks_;
  std::size_t size_ = 0;
};
