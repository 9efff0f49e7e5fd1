#include "ContentDecoding.h"

#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "AsciiCase.h"

// One coding of the chain: takes its input in pieces and hands its output
// on in chunks of at most kDecodedChunkSize bytes. Every stage hands on all
// it can decode from the input it was given before Decode returns, so the
// end of the body only asks whether each stream ended.
class TCodingStage {
 public:
  enum class TStep { Ok, Stopped, Damaged };

  virtual ~TCodingStage() = default;
  // Stopped: `out` returned false. Damaged: Problem() says how.
  virtual TStep Decode(std::string_view input, const TDecodedSink& out) = 0;
  // Whether the input so far ends where a stream may end (or is empty).
  virtual bool Ended() const = 0;
  virtual const char* Name() const = 0;
  const std::string& Problem() const { return problem_; }

 protected:
  TStep Damaged(const char* what) {
    problem_ = std::string("Damaged ") + Name() + " data: " + (what ? what : "bad data");
    return TStep::Damaged;
  }

  std::array<char, kDecodedChunkSize> chunk_;

 private:
  std::string problem_;
};

namespace {

using TStep = TCodingStage::TStep;

// zlib's counts are 32 bits wide.
constexpr std::size_t kMaxZlibStep = std::size_t{1} << 30;
// How much of a coding's name an error text repeats.
constexpr std::size_t kMaxNameInError = 40;

// Whether the first two bytes are a zlib header (deflate, window of at most
// 32 KiB, check bits right): raw deflate data rarely passes.
bool IsZlibHeader(unsigned char cmf, unsigned char flg) {
  return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0;
}

// gzip (one or more members) and deflate (zlib or raw data).
class TZlibStage final : public TCodingStage {
 public:
  explicit TZlibStage(bool gzip) : gzip_(gzip) {
    // A deflate body starts undecided: raw until its first two bytes say zlib.
    if (inflateInit2(&z_, gzip ? 15 + 16 : -15) != Z_OK) throw std::bad_alloc();
    phase_ = gzip ? TPhase::Stream : TPhase::Undecided;
  }
  ~TZlibStage() override { inflateEnd(&z_); }

  TStep Decode(std::string_view input, const TDecodedSink& out) override {
    if (phase_ == TPhase::Undecided) {
      std::size_t take = std::min(2 - held_.size(), input.size());
      held_.append(input.substr(0, take));
      input.remove_prefix(take);
      if (held_.size() < 2) return TStep::Ok;
      bool zlib = IsZlibHeader(held_[0], held_[1]);
      inflateReset2(&z_, zlib ? 15 : -15);
      phase_ = TPhase::Stream;
      TStep step = DecodeStreams(held_, out);
      if (step != TStep::Ok) return step;
    }
    return DecodeStreams(input, out);
  }

  bool Ended() const override {
    switch (phase_) {
      case TPhase::Undecided: return held_.empty();
      case TPhase::Stream: return !begun_;
      case TPhase::BetweenMembers:
      case TPhase::Done: return true;
    }
    return false;
  }

  const char* Name() const override { return gzip_ ? "gzip" : "deflate"; }

 private:
  // Undecided: the first bytes of a deflate body; Stream: inside a gzip
  // member or deflate data; BetweenMembers: after a gzip member, looking
  // for the next one's magic bytes; Done: the rest is ignored.
  enum class TPhase { Undecided, Stream, BetweenMembers, Done };

  TStep DecodeStreams(std::string_view input, const TDecodedSink& out) {
    while (!input.empty()) {
      if (phase_ == TPhase::Done) return TStep::Ok;
      if (phase_ == TPhase::BetweenMembers && !StartsNextMember(input)) {
        phase_ = TPhase::Done;  // trailing bytes that are no gzip member
        return TStep::Ok;
      }
      begun_ = true;
      z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
      z_.avail_in = static_cast<uInt>(std::min(input.size(), kMaxZlibStep));
      uInt given = z_.avail_in;
      TStep step = InflateGiven(out);
      input.remove_prefix(given - z_.avail_in);
      if (step != TStep::Ok) return step;
    }
    return TStep::Ok;
  }

  // Matches the next bytes against gzip's magic bytes 1F 8B (the first may
  // have come with the last piece). The bytes stay in `input` for zlib.
  bool StartsNextMember(std::string_view input) {
    static constexpr unsigned char kMagic[2] = {0x1f, 0x8b};
    for (std::size_t i = 0; magicSeen_ < 2 && i < input.size(); ++i, ++magicSeen_) {
      if (static_cast<unsigned char>(input[i]) != kMagic[magicSeen_]) return false;
    }
    if (magicSeen_ == 2) phase_ = TPhase::Stream;
    return true;
  }

  // Inflates z_'s input until it is used up or a stream ends.
  TStep InflateGiven(const TDecodedSink& out) {
    for (;;) {
      uInt inputBefore = z_.avail_in;
      z_.next_out = reinterpret_cast<Bytef*>(chunk_.data());
      z_.avail_out = static_cast<uInt>(chunk_.size());
      int result = inflate(&z_, Z_NO_FLUSH);
      std::size_t produced = chunk_.size() - z_.avail_out;
      if (produced > 0 && !out(chunk_.data(), produced)) return TStep::Stopped;
      if (result == Z_STREAM_END) {
        EndStream();
        return TStep::Ok;
      }
      if (result != Z_OK && result != Z_BUF_ERROR) return Damaged(z_.msg);
      if (z_.avail_out != 0 && z_.avail_in == 0) return TStep::Ok;
      if (produced == 0 && z_.avail_in == inputBefore) return Damaged("no progress");
    }
  }

  void EndStream() {
    if (!gzip_) {
      phase_ = TPhase::Done;
      return;
    }
    inflateReset(&z_);
    phase_ = TPhase::BetweenMembers;
    magicSeen_ = 0;
  }

  const bool gzip_;
  TPhase phase_;
  z_stream z_{};
  std::string held_;      // the first bytes of a deflate body, until there are two
  bool begun_ = false;    // zlib has seen input
  int magicSeen_ = 0;     // magic bytes of the next gzip member seen so far
};

class TBrotliStage final : public TCodingStage {
 public:
  TBrotliStage() : state_(BrotliDecoderCreateInstance(nullptr, nullptr, nullptr)) {
    if (!state_) throw std::bad_alloc();
  }
  ~TBrotliStage() override { BrotliDecoderDestroyInstance(state_); }

  TStep Decode(std::string_view input, const TDecodedSink& out) override {
    if (done_ || input.empty()) return TStep::Ok;  // bytes after the stream are ignored
    begun_ = true;
    std::size_t availIn = input.size();
    auto nextIn = reinterpret_cast<const std::uint8_t*>(input.data());
    for (;;) {
      std::size_t inputBefore = availIn;
      std::size_t availOut = chunk_.size();
      auto nextOut = reinterpret_cast<std::uint8_t*>(chunk_.data());
      BrotliDecoderResult result =
          BrotliDecoderDecompressStream(state_, &availIn, &nextIn, &availOut, &nextOut, nullptr);
      std::size_t produced = chunk_.size() - availOut;
      // What came before damage is handed on as with zlib, whose output does
      // not depend on how the body was cut.
      if (produced > 0 && !out(chunk_.data(), produced)) return TStep::Stopped;
      if (result == BROTLI_DECODER_RESULT_ERROR) {
        return Damaged(BrotliDecoderErrorString(BrotliDecoderGetErrorCode(state_)));
      }
      if (result == BROTLI_DECODER_RESULT_SUCCESS) {
        done_ = true;
        return TStep::Ok;
      }
      if (result == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) return TStep::Ok;
      if (produced == 0 && availIn == inputBefore) return Damaged("no progress");
    }
  }

  bool Ended() const override { return done_ || !begun_; }
  const char* Name() const override { return "brotli"; }

 private:
  BrotliDecoderState* state_;
  bool begun_ = false;
  bool done_ = false;
};

// Frames of the zstd format (RFC 8878) only: the library would also read the
// formats of its early versions, whose decoders are not fit for hostile bytes
// (their output can depend on memory they never wrote), so each frame's
// magic number is checked before the library sees the frame.
class TZstdStage final : public TCodingStage {
 public:
  TZstdStage() : context_(ZSTD_createDCtx()) {
    if (!context_) throw std::bad_alloc();
    ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, kMaxZstdWindowLog);
  }
  ~TZstdStage() override { ZSTD_freeDCtx(context_); }

  TStep Decode(std::string_view input, const TDecodedSink& out) override {
    while (!input.empty()) {
      if (!frameOpen_) {
        const std::size_t take = std::min(kMagicSize - magic_.size(), input.size());
        magic_.append(input.substr(0, take));
        input.remove_prefix(take);
        if (magic_.size() < kMagicSize) return TStep::Ok;
        if (!IsFrameMagic(magic_)) return Damaged("no zstd frame");
        frameOpen_ = true;
        const std::string magic = std::exchange(magic_, {});
        std::size_t used = 0;
        if (const TStep step = FeedFrame(magic, used, out); step != TStep::Ok) return step;
        continue;
      }
      std::size_t used = 0;
      if (const TStep step = FeedFrame(input, used, out); step != TStep::Ok) return step;
      input.remove_prefix(used);
    }
    return TStep::Ok;
  }

  bool Ended() const override { return !frameOpen_ && magic_.empty(); }
  const char* Name() const override { return "zstd"; }

 private:
  static constexpr std::size_t kMagicSize = 4;

  // A zstd frame, or a skippable frame (0x184D2A50 to 0x184D2A5F), little endian.
  static bool IsFrameMagic(std::string_view magic) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(magic[i]); };
    if (byte(0) == 0x28 && byte(1) == 0xB5 && byte(2) == 0x2F && byte(3) == 0xFD) return true;
    return (byte(0) & 0xF0) == 0x50 && byte(1) == 0x2A && byte(2) == 0x4D && byte(3) == 0x18;
  }

  // Bytes of the open frame; `used` tells how many the frame took (fewer
  // than given when it ended among them: the rest opens the next frame).
  TStep FeedFrame(std::string_view input, std::size_t& used, const TDecodedSink& out) {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    for (;;) {
      const std::size_t inputBefore = in.pos;
      ZSTD_outBuffer outBuffer{chunk_.data(), chunk_.size(), 0};
      const std::size_t result = ZSTD_decompressStream(context_, &outBuffer, &in);
      used = in.pos;
      if (outBuffer.pos > 0 && !out(chunk_.data(), outBuffer.pos)) return TStep::Stopped;
      if (ZSTD_isError(result)) return Damaged(ZSTD_getErrorName(result));
      // 0: the frame is decoded and flushed whole.
      if (result == 0) {
        frameOpen_ = false;
        return TStep::Ok;
      }
      // Room left in the chunk: zstd handed on all it could.
      if (in.pos == in.size && outBuffer.pos < outBuffer.size) return TStep::Ok;
      if (outBuffer.pos == 0 && in.pos == inputBefore) return Damaged("no progress");
    }
  }

  ZSTD_DCtx* context_;
  bool frameOpen_ = false;
  std::string magic_;  // the next frame's first bytes, until there are four
};

// A coding's name as an error text may repeat it: short, without controls.
std::string PrintableName(std::string_view name) {
  std::string shown(name.substr(0, kMaxNameInError));
  for (char& c : shown) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  }
  return shown;
}

std::unique_ptr<TCodingStage> StageFor(std::string_view coding) {
  if (EqualIgnoringAsciiCase(coding, "gzip") || EqualIgnoringAsciiCase(coding, "x-gzip")) {
    return std::make_unique<TZlibStage>(true);
  }
  if (EqualIgnoringAsciiCase(coding, "deflate")) return std::make_unique<TZlibStage>(false);
  if (EqualIgnoringAsciiCase(coding, "br")) return std::make_unique<TBrotliStage>();
  if (EqualIgnoringAsciiCase(coding, "zstd")) return std::make_unique<TZstdStage>();
  return nullptr;
}

std::string_view TrimmedItem(std::string_view item) {
  while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
  while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
  return item;
}

// The codings of the field in the order they were applied, without
// "identity" and empty items.
std::vector<std::string_view> CodingsOf(std::string_view field) {
  std::vector<std::string_view> codings;
  for (;;) {
    std::size_t comma = field.find(',');
    std::string_view item = TrimmedItem(field.substr(0, comma));
    if (!item.empty() && !EqualIgnoringAsciiCase(item, "identity")) {
      codings.push_back(item);
      // One past the bound is enough to refuse the field.
      if (codings.size() > kMaxContentCodings) break;
    }
    if (comma == std::string_view::npos) break;
    field.remove_prefix(comma + 1);
  }
  return codings;
}

}  // namespace

std::unique_ptr<TContentDecoder> TContentDecoder::For(std::string_view contentEncoding,
                                                      std::string& error) {
  error.clear();
  std::vector<std::string_view> codings = CodingsOf(contentEncoding);
  if (codings.empty()) return nullptr;
  if (codings.size() > kMaxContentCodings) {
    error = "More than " + std::to_string(kMaxContentCodings) + " content codings";
    return nullptr;
  }
  std::unique_ptr<TContentDecoder> decoder(new TContentDecoder);
  for (auto coding = codings.rbegin(); coding != codings.rend(); ++coding) {
    std::unique_ptr<TCodingStage> stage = StageFor(*coding);
    if (!stage) {
      error = "Unsupported content coding: " + PrintableName(*coding);
      return nullptr;
    }
    decoder->stages_.push_back(std::move(stage));
  }
  return decoder;
}

TContentDecoder::~TContentDecoder() = default;

bool TContentDecoder::Feed(const char* data, std::size_t size, const TDecodedSink& sink) {
  if (state_ != TState::Decoding) return false;
  if (size == 0) return true;
  return FeedStage(0, data, size, sink);
}

// Decodes with stages_[index] and hands its output to the next stage, the
// last one's to the sink.
bool TContentDecoder::FeedStage(std::size_t index, const char* data, std::size_t size,
                                const TDecodedSink& sink) {
  if (index == stages_.size()) return sink(data, size) || EndWith(TState::Stopped, "");
  TCodingStage& stage = *stages_[index];
  auto next = [&](const char* chunk, std::size_t length) {
    return FeedStage(index + 1, chunk, length, sink);
  };
  switch (stage.Decode(std::string_view(data, size), next)) {
    case TCodingStage::TStep::Ok: return true;
    case TCodingStage::TStep::Stopped: return false;  // a later stage or the sink said why
    case TCodingStage::TStep::Damaged: return EndWith(TState::Corrupt, stage.Problem());
  }
  return false;
}

// Every stage hands on all it can as its input comes, so nothing is left
// for the sink here; it stays in the signature for codings that hold output
// back until the end.
bool TContentDecoder::Finish(const TDecodedSink& /*sink*/) {
  if (state_ == TState::Finished) return true;
  if (state_ != TState::Decoding) return false;
  for (const auto& stage : stages_) {
    if (!stage->Ended()) return EndWith(TState::Truncated, std::string(stage->Name()) + " data cut short");
  }
  state_ = TState::Finished;
  return true;
}

bool TContentDecoder::EndWith(TState state, std::string error) {
  state_ = state;
  error_ = std::move(error);
  return false;
}
