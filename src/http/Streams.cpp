#include "Streams.h"

#include <algorithm>
#include <cstring>

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count > 0 && Write(buffer, count) != count) throw Exception("Stream write error");
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  size_t at = static_cast<size_t>(position_);
  size_t n = static_cast<size_t>(count);
  if (at > data_.size()) data_.resize(at);  // writing past the end fills with zeros
  if (at == data_.size()) {
    data_.append(static_cast<const char*>(buffer), n);
  } else {
    if (at + n > data_.size()) data_.resize(at + n);
    std::memcpy(data_.data() + at, buffer, n);
  }
  position_ += count;
  return count;
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  if (count <= 0 || position_ < 0 || position_ >= Size()) return 0;
  std::int64_t n = std::min(count, Size() - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

void TMemoryStream::SetPosition(std::int64_t position) { position_ = std::max<std::int64_t>(position, 0); }
