#include "WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(std::int32_t capacity) { SetCapacity(capacity); }

void TBuffer::SetCapacity(std::int32_t size) {
  if (size <= 0) size = DefaultBlockSize;
  if (size == capacity_) return;
  if (writePos_ - readPos_ <= 0) {
    storage_ = std::make_unique<std::uint8_t[]>(static_cast<size_t>(size));
    // Counters stay, but may not point past the new end.
    writePos_ = std::min(writePos_, size);
    readPos_ = std::min(readPos_, writePos_);
  } else {
    // Never shrink below the bytes written while some are unread: they would
    // be lost.
    size = std::max(size, writePos_);
    if (size == capacity_) return;
    auto fresh = std::make_unique<std::uint8_t[]>(static_cast<size_t>(size));
    std::memcpy(fresh.get(), storage_.get(), static_cast<size_t>(writePos_));
    storage_ = std::move(fresh);
  }
  capacity_ = size;
}

std::int32_t TBuffer::Append(const void* data, std::int32_t len) {
  std::int32_t room = capacity_ - writePos_;
  if (room <= 0 || len <= 0) return 0;
  std::int32_t n = std::min(room, len);
  std::memcpy(storage_.get() + writePos_, data, static_cast<size_t>(n));
  writePos_ += n;
  return n;
}

const std::uint8_t* TBuffer::Peek(std::int32_t& count) const {
  count = writePos_ - readPos_;
  if (count > 0) return storage_.get() + readPos_;
  count = 0;
  return nullptr;
}

std::int32_t TBuffer::Consume(std::int32_t len) {
  std::int32_t avail = writePos_ - readPos_;
  if (avail <= 0 || len <= 0) return 0;
  std::int32_t n = std::min(len, avail);
  readPos_ += n;
  if (readPos_ == writePos_) readPos_ = writePos_ = 0;
  return n;
}
