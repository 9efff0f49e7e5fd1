// TNodeArena: the bump allocator behind a node list's strings. It keeps its
// chunks when it is rewound, so parsing page after page reuses the same
// memory instead of mapping it afresh each time.
#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <vector>

class TNodeArena : public std::pmr::memory_resource {
 public:
  TNodeArena() = default;
  TNodeArena(const TNodeArena&) = delete;
  TNodeArena& operator=(const TNodeArena&) = delete;

  // Forgets every allocation; keeps chunks up to a modest total for reuse.
  void Rewind();

 private:
  void* do_allocate(size_t bytes, size_t alignment) override;
  void do_deallocate(void*, size_t, size_t) override {}
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }

  struct Chunk {
    std::unique_ptr<char[]> data;
    size_t size;
  };
  std::vector<Chunk> chunks_;
  size_t current_ = 0;  // chunk being filled
  size_t used_ = 0;     // bytes used in it
};
