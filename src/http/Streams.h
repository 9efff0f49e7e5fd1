// Byte streams: where the HTTP client writes a document and reads a body to
// post. The client never creates, rewinds or frees the streams it is given.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Component.h"

class TStream : public TObject {
 public:
  // Writes up to count bytes at the position; returns how many were taken.
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // Reads up to count bytes from the position; returns how many were read.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Size() const = 0;
  virtual std::int64_t Position() const = 0;
  virtual void SetPosition(std::int64_t position) = 0;

  // Writes all bytes or raises Exception("Stream write error").
  void WriteBuffer(const void* buffer, std::int64_t count);
};

// A stream kept in memory. It grows with realloc, which moves large blocks
// without copying them, and Clear() keeps the memory for the next use.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  ~TMemoryStream() override;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(size_); }
  std::int64_t Position() const override { return position_; }
  void SetPosition(std::int64_t position) override;

  std::string_view Data() const { return {data_, size_}; }
  // Makes room for at least `bytes` without changing the contents.
  void Reserve(size_t bytes);
  // Empties the stream; the memory stays for the next contents.
  void Clear() {
    size_ = 0;
    position_ = 0;
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  std::int64_t position_ = 0;
};
