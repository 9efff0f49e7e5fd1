#include "Streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw Exception("Stream write error");
}

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Reserve(size_t bytes) {
  if (bytes <= capacity_) return;
  char* grown = static_cast<char*>(std::realloc(data_, bytes));
  if (!grown) throw std::bad_alloc();
  data_ = grown;
  capacity_ = bytes;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  size_t at = static_cast<size_t>(position_);
  size_t n = static_cast<size_t>(count);
  size_t end = at + n;
  if (end > capacity_) Reserve(std::max(end, capacity_ * 2));
  if (at > size_)
    std::memset(data_ + size_, 0, at - size_);  // writing past the end fills with zeros
  std::memcpy(data_ + at, buffer, n);
  size_ = std::max(size_, end);
  position_ += count;
  return count;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0 || position_ >= Size()) return 0;
  std::int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

void TMemoryStream::SetPosition(std::int64_t position) {
  position_ = std::max<std::int64_t>(position, 0);
}
