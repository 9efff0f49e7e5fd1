// The body of an answer sent with "Transfer-Encoding: chunked": a size line
// (hexadecimal, extensions after ";" ignored), that many bytes and a line
// end, again and again up to a size of 0, then trailer lines up to an empty
// line. Bytes are taken as they come, in pieces of any size; the chunks'
// data goes to the caller as it is found.
//
// Bounded: a size line or a trailer line longer than kChunkLineLimit, more
// trailer bytes than kChunkTrailerLimit or a size past 2^60 make the body
// unreadable, so a hostile server cannot make the reader hold or wait for
// more than that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

constexpr std::size_t kChunkLineLimit = 1024;
constexpr std::size_t kChunkTrailerLimit = 8192;

class TChunkedBody {
 public:
  enum class TStep {
    More,  // the body goes on
    End,   // the last chunk and the trailer are through
    Bad,   // the framing is unreadable
    Held   // `data` returned false: the caller stopped
  };
  // Returns false to stop taking bytes.
  using TData = std::function<bool(std::string_view)>;

  // Takes the next bytes of the body; `used` tells how many of them belong
  // to it (the rest, after End, belongs to whatever follows the answer).
  TStep Take(std::string_view bytes, std::size_t& used, const TData& data);

 private:
  enum class TPhase { Size, Data, DataEnd, Trailer, Done };

  bool TakeSizeLine();
  bool TakeTrailerLine();
  // Appends to line_ up to a line feed; true once the line is whole.
  bool CollectLine(std::string_view bytes, std::size_t& at, bool& tooLong);

  TPhase phase_ = TPhase::Size;
  std::string line_;
  std::uint64_t left_ = 0;  // data bytes still to come in this chunk
  std::size_t trailerBytes_ = 0;
};
