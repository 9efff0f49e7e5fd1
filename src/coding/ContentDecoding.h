// Undoes the content codings of a response body as it arrives: gzip
// (x-gzip), deflate, br and zstd, chained in the reverse order of the
// Content-Encoding list. The decoded bytes go to a sink in chunks of at most
// kDecodedChunkSize bytes, never as one buffer, so that a caller who stops
// at its size limit never holds more than that: a small body that inflates
// to gigabytes (a compression bomb) costs one chunk and the codings' windows.
//
// Tolerated as browsers tolerate them: "deflate" sent as raw deflate data
// instead of zlib data (told by its first two bytes), several gzip members
// one after the other (one body), bytes after the last gzip member, after
// the end of deflate data or of a brotli stream (ignored), and an empty body
// (nothing to decode). zstd frames may follow one another; anything else
// after a zstd frame is damage.
//
// Memory per decoder: zlib's 32 KiB window, brotli's window (at most 16 MiB;
// large windows are not enabled), a zstd window of at most
// 2^kMaxZstdWindowLog bytes (a frame asking for more is damaged data, as in
// browsers), and one chunk buffer per coding.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Takes a piece of the decoded body; returns false to stop the decoding
// (the body is long enough, or not wanted).
using TDecodedSink = std::function<bool(const char* data, std::size_t size)>;

// The most the sink is handed at once.
constexpr std::size_t kDecodedChunkSize = 16 * 1024;
// More codings than this in one Content-Encoding value are refused.
constexpr std::size_t kMaxContentCodings = 4;
// zstd frames whose window is larger are refused (8 MiB, the size HTTP's
// zstd coding allows a sender).
constexpr int kMaxZstdWindowLog = 23;

class TCodingStage;

class TContentDecoder {
 public:
  // The decoder for the value of a Content-Encoding field: codings
  // separated by commas, applied in that order, names in any case, with
  // optional spaces and tabs; "identity" and empty items are skipped.
  // nullptr with `error` empty when nothing needs decoding; nullptr with
  // the reason in `error` for a coding not supported (e.g. "Unsupported
  // content coding: compress") or more than kMaxContentCodings of them.
  static std::unique_ptr<TContentDecoder> For(std::string_view contentEncoding,
                                              std::string& error);
  ~TContentDecoder();
  TContentDecoder(const TContentDecoder&) = delete;
  TContentDecoder& operator=(const TContentDecoder&) = delete;

  // Decodes the next piece of the body and hands what it gives to `sink`,
  // chunk by chunk, before returning. False when the data is damaged
  // (Error() says how) or the sink returned false (Stopped()); every call
  // after that returns false at once.
  bool Feed(const char* data, std::size_t size, const TDecodedSink& sink);

  // At the end of the body: hands the sink what the codings still hold.
  // False when the body ended inside a stream (Truncated(), and Error() says
  // which coding), or as Feed. Whether a truncated body is a failure is the
  // caller's choice: the bytes handed on so far are correct.
  bool Finish(const TDecodedSink& sink);

  // Empty while nothing went wrong and after a stop by the sink.
  const std::string& Error() const { return error_; }
  bool Truncated() const { return state_ == TState::Truncated; }
  bool Stopped() const { return state_ == TState::Stopped; }
  // Damaged data, or a stream or frame the decoder refuses.
  bool Corrupt() const { return state_ == TState::Corrupt; }

 private:
  enum class TState { Decoding, Finished, Stopped, Corrupt, Truncated };

  TContentDecoder() = default;
  bool FeedStage(std::size_t index, const char* data, std::size_t size, const TDecodedSink& sink);
  bool FinishStage(std::size_t index, const TDecodedSink& sink);
  bool EndWith(TState state, std::string error);

  // In decoding order: the last coding of the field first.
  std::vector<std::unique_ptr<TCodingStage>> stages_;
  TState state_ = TState::Decoding;
  std::string error_;
};
