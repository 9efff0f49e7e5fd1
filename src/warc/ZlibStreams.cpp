#include "ZlibStreams.h"

#include <algorithm>

#include "WarcError.h"

TInflater::TInflater(int windowBits) {
  if (inflateInit2(&stream_, windowBits) != Z_OK) throw EWarcError("zlib: no memory to inflate");
}

TInflater::~TInflater() { inflateEnd(&stream_); }

TGzipMemberWriter::TGzipMemberWriter(int level) {
  if (deflateInit2(&stream_, level, Z_DEFLATED, kGzipWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw EWarcError("zlib: no memory to deflate");
  }
}

TGzipMemberWriter::~TGzipMemberWriter() { deflateEnd(&stream_); }

void TGzipMemberWriter::AppendMember(std::initializer_list<std::string_view> pieces,
                                     std::string& out) {
  deflateReset(&stream_);
  std::size_t left = pieces.size();
  for (std::string_view piece : pieces) Deflate(piece, --left == 0, out);
}

void TGzipMemberWriter::Deflate(std::string_view piece, bool last, std::string& out) {
  constexpr std::size_t kMaxStep = std::size_t{1} << 30;  // avail_in is 32 bits wide
  do {
    std::size_t step = std::min(piece.size(), kMaxStep);
    stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(piece.data()));
    stream_.avail_in = static_cast<uInt>(step);
    piece.remove_prefix(step);
    DeflateInput(last && piece.empty() ? Z_FINISH : Z_NO_FLUSH, out);
  } while (!piece.empty());
}

void TGzipMemberWriter::DeflateInput(int flush, std::string& out) {
  // deflateBound is for a whole input; for a piece it is room enough to
  // finish most members in one call, and the loop takes what is left.
  for (;;) {
    std::size_t used = out.size();
    std::size_t room = std::max<std::size_t>(deflateBound(&stream_, stream_.avail_in), 4096);
    out.resize(used + room);
    stream_.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream_.avail_out = static_cast<uInt>(room);
    int result = deflate(&stream_, flush);
    out.resize(used + room - stream_.avail_out);
    if (result == Z_STREAM_ERROR) throw EWarcError("zlib: deflate stream in a wrong state");
    if (flush == Z_FINISH ? result == Z_STREAM_END : stream_.avail_in == 0) return;
  }
}
