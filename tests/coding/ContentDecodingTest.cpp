#include "ContentDecoding.h"

#include <brotli/encode.h>
#include <gtest/gtest.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CompressedText.h"
#include "SplitMix.h"

namespace {

using testsupport::Brotli;
using testsupport::GermanText;
using testsupport::Gzip;
using testsupport::RawDeflate;
using testsupport::SplitMix64;
using testsupport::ZlibDeflate;
using testsupport::Zstd;

struct TDecoded {
  std::string Bytes;
  bool Fed = true;      // every Feed returned true
  bool Finished = false;
  bool Truncated = false, Corrupt = false;
  std::string Error;
  std::size_t LargestChunk = 0;
};

// Feeds `body` in pieces whose lengths follow the seed (1 to maxPiece
// bytes), then finishes.
TDecoded Decode(std::string_view encoding, std::string_view body, std::uint64_t seed = 1,
                std::size_t maxPiece = 4096) {
  std::string error;
  auto decoder = TContentDecoder::For(encoding, error);
  EXPECT_TRUE(decoder) << error;
  TDecoded decoded;
  if (!decoder) return decoded;
  TDecodedSink sink = [&](const char* data, std::size_t size) {
    decoded.Bytes.append(data, size);
    decoded.LargestChunk = std::max(decoded.LargestChunk, size);
    return true;
  };
  SplitMix64 random(seed);
  while (!body.empty() && decoded.Fed) {
    std::size_t length = std::min(body.size(), 1 + random.Below(maxPiece));
    decoded.Fed = decoder->Feed(body.data(), length, sink);
    body.remove_prefix(length);
  }
  decoded.Finished = decoded.Fed && decoder->Finish(sink);
  decoded.Truncated = decoder->Truncated();
  decoded.Corrupt = decoder->Corrupt();
  decoded.Error = decoder->Error();
  return decoded;
}

struct TCodingCase {
  const char* Encoding;
  std::function<std::string(const std::string&)> Compress;
  bool Checked = true;  // the data carries a check value or a strict structure
};

const std::vector<TCodingCase>& EachCoding() {
  static const std::vector<TCodingCase> codings = {
      {"gzip", Gzip},   {"x-gzip", Gzip}, {"deflate", ZlibDeflate}, {"deflate", RawDeflate, false},
      {"br", [](const std::string& text) { return Brotli(text); }},
      {"zstd", [](const std::string& text) { return Zstd(text); }},
  };
  return codings;
}

TEST(ContentDecoding, EachCodingGivesTheTextBackWhereverTheBodyIsCut) {
  const std::string text = GermanText(300 * 1024);
  for (const TCodingCase& coding : EachCoding()) {
    std::string body = coding.Compress(text);
    for (std::uint64_t seed = 1; seed <= 4; ++seed) {
      // Seed 1 cuts the body into single bytes.
      TDecoded decoded = Decode(coding.Encoding, body, seed, seed == 1 ? 1 : 2000 * seed);
      EXPECT_TRUE(decoded.Finished) << coding.Encoding << ": " << decoded.Error;
      EXPECT_TRUE(decoded.Bytes == text) << coding.Encoding << " seed " << seed;
      EXPECT_LE(decoded.LargestChunk, kDecodedChunkSize);
    }
  }
}

TEST(ContentDecoding, CodingsAreUndoneLastFirstWhateverTheirSpelling) {
  const std::string text = GermanText(100 * 1024, 3);
  EXPECT_EQ(Decode("gzip, br", Brotli(Gzip(text))).Bytes, text);
  EXPECT_EQ(Decode(" Deflate ,\tZSTD ", Zstd(ZlibDeflate(text))).Bytes, text);
  EXPECT_EQ(Decode("identity, GZIP,,identity", Gzip(text)).Bytes, text);
  EXPECT_EQ(Decode("br,zstd,gzip,deflate", RawDeflate(Gzip(Zstd(Brotli(text))))).Bytes, text);
  // The codings undone in the wrong order find damaged data.
  TDecoded swapped = Decode("br, gzip", Brotli(Gzip(text)));
  EXPECT_TRUE(swapped.Corrupt);
  EXPECT_NE(swapped.Error.find("gzip"), std::string::npos) << swapped.Error;
}

TEST(ContentDecoding, FieldsWithoutCodingsOrWithUnknownOnesGiveNoDecoder) {
  struct {
    const char* Field;
    const char* Error;
  } rows[] = {
      {"", ""},
      {"identity", ""},
      {" , IDENTITY ,\t", ""},
      {"compress", "Unsupported content coding: compress"},
      {"gzip, x-compress", "Unsupported content coding: x-compress"},
      {"gzip;q=1", "Unsupported content coding: gzip;q=1"},
      {"gzip, gzip, gzip, gzip, gzip", "More than 4 content codings"},
      // A control character in the name does not reach the error text.
      {"bad\r\nX: 1", "Unsupported content coding: bad??X: 1"},
  };
  for (const auto& row : rows) {
    std::string error = "left over";
    EXPECT_EQ(TContentDecoder::For(row.Field, error), nullptr) << row.Field;
    EXPECT_EQ(error, row.Error);
  }
  std::string error;
  EXPECT_NE(TContentDecoder::For("gzip, gzip, identity, gzip, gzip", error), nullptr);
  EXPECT_EQ(TContentDecoder::For(std::string(100000, 'x'), error), nullptr);
  EXPECT_LE(error.size(), 80u);
}

TEST(ContentDecoding, GzipMembersMakeOneBodyAndTrailingBytesAreIgnored) {
  const std::string a = GermanText(50000, 1), b = GermanText(70000, 2);
  EXPECT_EQ(Decode("gzip", Gzip(a) + Gzip(b) + Gzip("") + Gzip(a), 5, 1).Bytes, a + b + a);
  // Bytes that do not open a gzip member after one, as browsers ignore them.
  for (std::string trailing : {std::string("\0\0\0\0", 4), std::string("\x1f"),
                               std::string("\x1f\x00junk", 6), std::string("<html>")}) {
    for (std::size_t piece : {1, 1000}) {
      TDecoded decoded = Decode("gzip", Gzip(a) + trailing, 3, piece);
      EXPECT_TRUE(decoded.Finished) << decoded.Error;
      EXPECT_EQ(decoded.Bytes, a);
    }
  }
  // The same after zlib and raw deflate data.
  EXPECT_EQ(Decode("deflate", ZlibDeflate(a) + "garbage").Bytes, a);
  EXPECT_EQ(Decode("deflate", RawDeflate(a) + "garbage").Bytes, a);
  EXPECT_EQ(Decode("br", Brotli(a) + "garbage").Bytes, a);
  // A second member that begins but breaks off is a truncated body.
  std::string second = Gzip(b);
  TDecoded cut = Decode("gzip", Gzip(a) + second.substr(0, 20), 3, 7);
  EXPECT_TRUE(cut.Truncated);
  EXPECT_EQ(cut.Bytes, a);
}

TEST(ContentDecoding, ABodyCutShortIsTruncatedAndWhatCameIsRight) {
  const std::string text = GermanText(200 * 1024, 4);
  for (const TCodingCase& coding : EachCoding()) {
    std::string body = coding.Compress(text);
    for (std::size_t keep : {std::size_t{1}, std::size_t{9}, body.size() / 2, body.size() - 1}) {
      TDecoded decoded = Decode(coding.Encoding, body.substr(0, keep), keep, 333);
      EXPECT_FALSE(decoded.Finished) << coding.Encoding << " " << keep;
      EXPECT_TRUE(decoded.Truncated) << coding.Encoding << " " << keep << ": " << decoded.Error;
      EXPECT_FALSE(decoded.Corrupt);
      EXPECT_NE(decoded.Error.find("cut short"), std::string::npos) << decoded.Error;
      EXPECT_EQ(text.compare(0, decoded.Bytes.size(), decoded.Bytes), 0);
    }
    // An empty body (a HEAD answer, a 304) has nothing to decode.
    TDecoded empty = Decode(coding.Encoding, "");
    EXPECT_TRUE(empty.Finished) << coding.Encoding;
    EXPECT_EQ(empty.Bytes, "");
  }
}

TEST(ContentDecoding, DamagedDataIsCorruptNotTruncated) {
  const std::string text = GermanText(100 * 1024, 5);
  for (const TCodingCase& coding : EachCoding()) {
    std::string body = coding.Compress(text);
    // Flipping bytes in the middle breaks the Huffman codes or the checksums.
    for (std::size_t i = body.size() / 2; i < body.size() / 2 + 64; ++i) body[i] = ~body[i];
    TDecoded decoded = Decode(coding.Encoding, body, 9, 500);
    // Raw deflate data has no check value: damage can pass as other bytes.
    if (!coding.Checked) continue;
    EXPECT_TRUE(decoded.Corrupt) << coding.Encoding;
    EXPECT_FALSE(decoded.Truncated);
    EXPECT_FALSE(decoded.Error.empty());
  }
  struct {
    const char* Encoding;
    std::string Body;
  } rows[] = {
      {"gzip", "<html>not compressed</html>"},
      {"br", "<html>not compressed</html>"},
      {"zstd", "<html>not compressed</html>"},
      // A zlib header asking for a preset dictionary.
      {"deflate", std::string("\x78\xbb\x00\x00\x00\x01", 6)},
      // A second zstd frame may follow, anything else may not.
      {"zstd", Zstd(text) + "garbage"},
      // The frame of an early zstd version (magic 0xFD2FB527): the
      // library's old decoders are left out, their output not being
      // fit for hostile bytes.
      {"zstd", std::string("\x27\xb5\x2f\xfd\x20\xd4\x78\x74\x37\x0d\x6c\x6d", 12)},
      {"zstd", Zstd(text) + std::string("\x27\xb5\x2f\xfd\x20\xd4", 6)},
  };
  for (const auto& row : rows) {
    TDecoded decoded = Decode(row.Encoding, row.Body);
    EXPECT_TRUE(decoded.Corrupt) << row.Encoding << " " << row.Body.size();
    EXPECT_EQ(decoded.Error.rfind("Damaged ", 0), 0u) << decoded.Error;
  }
  EXPECT_EQ(Decode("zstd", Zstd(text) + Zstd(text)).Bytes, text + text);
  // A skippable frame between two frames is skipped.
  const std::string skippable("\x50\x2a\x4d\x18\x03\x00\x00\x00xyz", 11);
  EXPECT_EQ(Decode("zstd", Zstd(text) + skippable + Zstd(text)).Bytes, text + text);
}

TEST(ContentDecoding, TheSinkStopsTheDecodingAndEveryLaterCallFails) {
  const std::string text = GermanText(100 * 1024, 6);
  const std::string body = Gzip(text);
  std::string error;
  auto decoder = TContentDecoder::For("gzip", error);
  std::size_t calls = 0;
  auto once = [&](const char*, std::size_t) { return ++calls < 2; };
  EXPECT_FALSE(decoder->Feed(body.data(), body.size(), once));
  EXPECT_EQ(calls, 2u);
  EXPECT_TRUE(decoder->Stopped());
  EXPECT_EQ(decoder->Error(), "");
  EXPECT_FALSE(decoder->Feed(body.data(), 1, once));
  EXPECT_FALSE(decoder->Finish(once));
  EXPECT_EQ(calls, 2u);
}

// A compressor fed zeros 1 MiB at a time, up to 10 GiB, whose output goes
// to the decoder as it comes; the sink stops at 4 MiB. Nothing is held
// whole: neither the zeros nor the body nor what it decodes to.
class TBombFeed {
 public:
  virtual ~TBombFeed() = default;
  virtual std::string Next(const std::string& zeros) = 0;
};

class TGzipBomb : public TBombFeed {
 public:
  TGzipBomb() { deflateInit2(&z_, 1, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY); }
  ~TGzipBomb() override { deflateEnd(&z_); }
  std::string Next(const std::string& zeros) override {
    std::string out(deflateBound(&z_, zeros.size()), '\0');
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z_.avail_in = static_cast<uInt>(zeros.size());
    z_.next_out = reinterpret_cast<Bytef*>(out.data());
    z_.avail_out = static_cast<uInt>(out.size());
    deflate(&z_, Z_NO_FLUSH);
    out.resize(out.size() - z_.avail_out);
    return out;
  }

 private:
  z_stream z_{};
};

class TBrotliBomb : public TBombFeed {
 public:
  TBrotliBomb() : state_(BrotliEncoderCreateInstance(nullptr, nullptr, nullptr)) {
    BrotliEncoderSetParameter(state_, BROTLI_PARAM_QUALITY, 1);
  }
  ~TBrotliBomb() override { BrotliEncoderDestroyInstance(state_); }
  std::string Next(const std::string& zeros) override {
    std::string out;
    std::size_t availIn = zeros.size();
    auto nextIn = reinterpret_cast<const std::uint8_t*>(zeros.data());
    while (availIn > 0 || BrotliEncoderHasMoreOutput(state_)) {
      std::size_t availOut = 0;
      BrotliEncoderCompressStream(state_, BROTLI_OPERATION_PROCESS, &availIn, &nextIn, &availOut,
                                  nullptr, nullptr);
      std::size_t size = 0;
      const std::uint8_t* piece = BrotliEncoderTakeOutput(state_, &size);
      out.append(reinterpret_cast<const char*>(piece), size);
    }
    return out;
  }

 private:
  BrotliEncoderState* state_;
};

class TZstdBomb : public TBombFeed {
 public:
  TZstdBomb() : context_(ZSTD_createCCtx()) {}
  ~TZstdBomb() override { ZSTD_freeCCtx(context_); }
  std::string Next(const std::string& zeros) override {
    std::string out(ZSTD_compressBound(zeros.size()), '\0');
    ZSTD_inBuffer in{zeros.data(), zeros.size(), 0};
    ZSTD_outBuffer outBuffer{out.data(), out.size(), 0};
    ZSTD_compressStream2(context_, &outBuffer, &in, ZSTD_e_continue);
    out.resize(outBuffer.pos);
    return out;
  }

 private:
  ZSTD_CCtx* context_;
};

// Repeats one gzip member of 16 MiB of zeros: a body of many members.
class TGzipMembersBomb : public TBombFeed {
 public:
  std::string Next(const std::string& /*zeros*/) override {
    if (member_.empty()) member_ = Gzip(std::string(16 << 20, '\0'));
    return ++calls_ % 16 == 0 ? member_ : std::string();
  }

 private:
  std::string member_;
  unsigned calls_ = 0;
};

TEST(ContentDecoding, ABombIsStoppedByTheSinkWithinOneChunkOfItsLimit) {
  constexpr std::uint64_t kClaimed = std::uint64_t{10} << 30;
  constexpr std::size_t kLimit = 4 << 20;
  const std::string zeros(1 << 20, '\0');
  struct {
    const char* Encoding;
    std::function<std::unique_ptr<TBombFeed>()> Make;
  } bombs[] = {
      {"gzip", [] { return std::make_unique<TGzipBomb>(); }},
      {"gzip", [] { return std::make_unique<TGzipMembersBomb>(); }},
      {"br", [] { return std::make_unique<TBrotliBomb>(); }},
      {"zstd", [] { return std::make_unique<TZstdBomb>(); }},
  };
  for (const auto& bomb : bombs) {
    std::string error;
    auto decoder = TContentDecoder::For(bomb.Encoding, error);
    std::unique_ptr<TBombFeed> feed = bomb.Make();
    std::uint64_t seen = 0, compressed = 0, zerosGiven = 0;
    std::size_t largest = 0;
    auto sink = [&](const char* data, std::size_t size) {
      EXPECT_EQ(std::count(data, data + size, '\0'), static_cast<std::ptrdiff_t>(size));
      seen += size;
      largest = std::max(largest, size);
      return seen <= kLimit;
    };
    bool going = true;
    while (going && zerosGiven < kClaimed) {
      std::string piece = feed->Next(zeros);
      zerosGiven += zeros.size();
      compressed += piece.size();
      going = decoder->Feed(piece.data(), piece.size(), sink);
    }
    EXPECT_TRUE(decoder->Stopped()) << bomb.Encoding << ": " << decoder->Error();
    EXPECT_GT(seen, kLimit);
    EXPECT_LE(seen, kLimit + kDecodedChunkSize) << bomb.Encoding;
    EXPECT_LE(largest, kDecodedChunkSize);
    // The body that got there was a small fraction of what it claimed.
    EXPECT_LT(zerosGiven, kClaimed / 8) << bomb.Encoding;
    EXPECT_LT(compressed, std::uint64_t{4} << 20) << bomb.Encoding;
  }
}

// A zstd frame whose window needs more than the decoder allows.
std::string ZstdWithWindowLog(const std::string& data, int windowLog) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, windowLog);
  std::string out(ZSTD_compressBound(data.size()) + 64, '\0');
  ZSTD_outBuffer outBuffer{out.data(), out.size(), 0};
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  // Given in two steps, the compressor does not know the size and keeps
  // the window asked for in the frame header.
  ZSTD_compressStream2(context, &outBuffer, &in, ZSTD_e_continue);
  ZSTD_inBuffer none{nullptr, 0, 0};
  EXPECT_EQ(ZSTD_compressStream2(context, &outBuffer, &none, ZSTD_e_end), 0u);
  ZSTD_freeCCtx(context);
  out.resize(outBuffer.pos);
  return out;
}

TEST(ContentDecoding, ZstdFramesAskingForAWindowOverTheBoundAreRefused) {
  const std::string text = GermanText(64 * 1024, 8);
  std::string allowed = ZstdWithWindowLog(text, kMaxZstdWindowLog);
  std::string huge = ZstdWithWindowLog(text, 28);
  // The frame header's descriptor (byte 4) has no single-segment flag, so
  // byte 5 gives the window: 2^(10 + its upper five bits).
  ASSERT_GT(huge.size(), 6u);
  ASSERT_EQ(huge[4] & 0x20, 0);
  ASSERT_EQ(static_cast<unsigned char>(huge[5]), (28 - 10) << 3);
  EXPECT_EQ(Decode("zstd", allowed).Bytes, text);
  TDecoded refused = Decode("zstd", huge);
  EXPECT_TRUE(refused.Corrupt);
  EXPECT_EQ(refused.Bytes, "");
  // A header alone asking for 2 GiB: magic, descriptor, window 2^(10+21).
  TDecoded twoGiB = Decode("zstd", std::string("\x28\xb5\x2f\xfd\x00\xa8\x01\x00\x00", 9));
  EXPECT_TRUE(twoGiB.Corrupt);
  EXPECT_NE(twoGiB.Error.find("zstd"), std::string::npos) << twoGiB.Error;
}

}  // namespace
