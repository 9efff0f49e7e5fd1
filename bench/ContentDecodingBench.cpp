// Decoding a 10 MB German text sent as gzip, br and zstd through
// TContentDecoder, in pieces of 16 KiB as a socket hands them over, next to
// each library's own loop into a 16 KiB buffer (what zcat does for gzip).
// bytes_per_second counts decoded bytes; the decoder's cost is the gap
// between a coding's two rows.
#include <benchmark/benchmark.h>
#include <brotli/decode.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <string>

#include "ContentDecoding.h"
#include "CompressedText.h"

namespace {

constexpr std::size_t kTextSize = 10 * 1000 * 1000;
constexpr std::size_t kPieceSize = 16 * 1024;

const std::string& Text() {
  static const std::string text = testsupport::GermanText(kTextSize, 11);
  return text;
}

const std::string& Gzip() {
  static const std::string body = testsupport::Gzip(Text());
  return body;
}

const std::string& Brotli() {
  static const std::string body = testsupport::Brotli(Text());
  return body;
}

const std::string& Zstd() {
  static const std::string body = testsupport::Zstd(Text());
  return body;
}

void DecodeThroughDecoder(benchmark::State& state, const char* encoding, const std::string& body) {
  for (auto _ : state) {
    std::string error;
    auto decoder = TContentDecoder::For(encoding, error);
    std::size_t decoded = 0;
    auto sink = [&](const char*, std::size_t size) {
      decoded += size;
      return true;
    };
    for (std::size_t at = 0; at < body.size(); at += kPieceSize) {
      decoder->Feed(body.data() + at, std::min(kPieceSize, body.size() - at), sink);
    }
    if (!decoder->Finish(sink) || decoded != kTextSize) state.SkipWithError("decoding failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTextSize));
}

void BM_GzipDecoder(benchmark::State& state) { DecodeThroughDecoder(state, "gzip", Gzip()); }
void BM_BrotliDecoder(benchmark::State& state) { DecodeThroughDecoder(state, "br", Brotli()); }
void BM_ZstdDecoder(benchmark::State& state) { DecodeThroughDecoder(state, "zstd", Zstd()); }

void BM_GzipZlibLoop(benchmark::State& state) {
  const std::string& body = Gzip();
  char buffer[kPieceSize];
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    z.avail_in = static_cast<uInt>(body.size());
    int result = Z_OK;
    while (result == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(buffer);
      z.avail_out = sizeof buffer;
      result = inflate(&z, Z_NO_FLUSH);
      benchmark::DoNotOptimize(buffer[0]);
    }
    if (z.total_out != kTextSize) state.SkipWithError("inflate failed");
    inflateEnd(&z);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTextSize));
}

void BM_BrotliLibraryLoop(benchmark::State& state) {
  const std::string& body = Brotli();
  std::uint8_t buffer[kPieceSize];
  for (auto _ : state) {
    BrotliDecoderState* decoder = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
    std::size_t availIn = body.size(), total = 0;
    auto nextIn = reinterpret_cast<const std::uint8_t*>(body.data());
    BrotliDecoderResult result = BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT;
    while (result == BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT) {
      std::size_t availOut = sizeof buffer;
      std::uint8_t* nextOut = buffer;
      result = BrotliDecoderDecompressStream(decoder, &availIn, &nextIn, &availOut, &nextOut,
                                             &total);
      benchmark::DoNotOptimize(buffer[0]);
    }
    if (total != kTextSize) state.SkipWithError("brotli failed");
    BrotliDecoderDestroyInstance(decoder);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTextSize));
}

BENCHMARK(BM_GzipDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GzipZlibLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrotliDecoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BrotliLibraryLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZstdDecoder)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
