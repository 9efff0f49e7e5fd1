#include "NodeArena.h"

namespace {
constexpr size_t kFirstChunk = 64 * 1024;
constexpr size_t kKeptBytes = 64 * 1024 * 1024;
}  // namespace

void* TNodeArena::do_allocate(size_t bytes, size_t alignment) {
  while (current_ < chunks_.size()) {
    Chunk& chunk = chunks_[current_];
    size_t at = (used_ + alignment - 1) & ~(alignment - 1);
    if (at + bytes <= chunk.size) {
      used_ = at + bytes;
      return chunk.data.get() + at;
    }
    ++current_;
    used_ = 0;
  }
  // Chunks double in size, and a huge request gets a chunk of its own size.
  size_t size = chunks_.empty() ? kFirstChunk : chunks_.back().size * 2;
  if (size < bytes + alignment) size = bytes + alignment;
  chunks_.push_back(Chunk{std::make_unique<char[]>(size), size});
  current_ = chunks_.size() - 1;
  used_ = 0;
  return do_allocate(bytes, alignment);
}

void TNodeArena::Rewind() {
  size_t kept = 0;
  size_t keep = 0;
  while (keep < chunks_.size() && kept + chunks_[keep].size <= kKeptBytes)
    kept += chunks_[keep++].size;
  chunks_.resize(keep);
  current_ = 0;
  used_ = 0;
}
