// TBuffer: one fixed-capacity block of a socket's send queue. Bytes are
// appended behind WritePos and consumed from ReadPos; a block that has been
// drained completely starts again from its beginning. Appending never wraps.
#pragma once

#include <cstdint>
#include <memory>

constexpr std::int32_t DefaultBlockSize = 1514;

class TBuffer {
 public:
  explicit TBuffer(std::int32_t capacity);
  TBuffer(const TBuffer&) = delete;
  TBuffer& operator=(const TBuffer&) = delete;

  // A size of 0 or less means DefaultBlockSize. The unread bytes are kept;
  // the size never drops below WritePos while bytes are unread.
  void SetCapacity(std::int32_t size);
  // Copies as much of data as fits behind WritePos; returns the bytes taken.
  std::int32_t Append(const void* data, std::int32_t len);
  // The first unread byte and the count of unread bytes (nullptr, 0: none).
  const std::uint8_t* Peek(std::int32_t& count) const;
  // Marks up to len unread bytes as consumed; returns how many.
  std::int32_t Consume(std::int32_t len);

  std::int32_t Capacity() const { return capacity_; }
  std::int32_t WritePos() const { return writePos_; }
  std::int32_t ReadPos() const { return readPos_; }

 private:
  std::unique_ptr<std::uint8_t[]> storage_;
  std::int32_t capacity_ = 0;
  std::int32_t writePos_ = 0;
  std::int32_t readPos_ = 0;
};
