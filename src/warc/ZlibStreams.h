// zlib's inflate and deflate streams as objects that own their state, for
// the archive's gzip members and for HTTP bodies in gzip or deflate.
#pragma once

#include <zlib.h>

#include <initializer_list>
#include <string>
#include <string_view>

// zlib's window bits for the three wrappings of deflate data.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kZlibWindowBits = 15;
constexpr int kRawDeflateWindowBits = -15;

class TInflater {
 public:
  // Throws EWarcError when zlib has no memory for the stream.
  explicit TInflater(int windowBits);
  ~TInflater();
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;

  // The stream, for inflate(): set next_in/avail_in and next_out/avail_out.
  z_stream& Stream() { return stream_; }
  // Ready for the next member or message, with the same wrapping.
  void Reset() { inflateReset(&stream_); }

 private:
  z_stream stream_{};
};

// Appends each text compressed as one whole gzip member, so that a reader
// can start at any member.
class TGzipMemberWriter {
 public:
  // Throws EWarcError when zlib has no memory for the stream.
  explicit TGzipMemberWriter(int level);
  ~TGzipMemberWriter();
  TGzipMemberWriter(const TGzipMemberWriter&) = delete;
  TGzipMemberWriter& operator=(const TGzipMemberWriter&) = delete;

  // The pieces, one after the other, as the data of one member.
  void AppendMember(std::initializer_list<std::string_view> pieces, std::string& out);

 private:
  void Deflate(std::string_view piece, bool last, std::string& out);
  void DeflateInput(int flush, std::string& out);

  z_stream stream_{};
};
