// Byte streams: where the HTTP client writes a document and reads a body to
// post. The client never creates, rewinds or frees the streams it is given.
#pragma once

#include <cstdint>
#include <string>

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

// A stream kept in memory.
class TMemoryStream : public TStream {
 public:
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
  std::int64_t Position() const override { return position_; }
  void SetPosition(std::int64_t position) override;

  const std::string& Data() const { return data_; }
  void Clear() {
    data_.clear();
    position_ = 0;
  }

 private:
  std::string data_;
  std::int64_t position_ = 0;
};
