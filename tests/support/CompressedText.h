// German text and its compressed forms made by the real libraries, for the
// tests and the benchmark of the content codings. Header only: a program
// that includes it links zlib, libbrotlienc and libzstd.
#pragma once

#include <brotli/encode.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <string>

#include "SplitMix.h"

namespace testsupport {

// Words with umlauts and ß (UTF-8) and a little markup in an order from
// the seed, lines of varying length: text that compresses as pages do.
inline std::string GermanText(std::size_t size, std::uint64_t seed = 7) {
  static const char* const kWords[] = {
      "Straße", "Größe", "übermäßig", "Käse", "Öffnungszeiten", "Fußgängerzone", "und", "der",
      "die", "das", "Bürgersteig", "Maß", "Ähre", "schön", "Grüße", "Weißwurst", "Zürich",
      "<p>", "</p>", "Verkehrsverbund", "Rechtsschutzversicherung", "Eichhörnchen"};
  SplitMix64 random(seed);
  std::string text;
  text.reserve(size + 32);
  while (text.size() < size) {
    text += random.Pick(kWords);
    text += random.OneIn(12) ? "\n" : " ";
  }
  text.resize(size);
  return text;
}

// deflate data with zlib's window bits: 15 + 16 gzip, 15 zlib, -15 raw.
inline std::string Deflated(const std::string& data, int windowBits, int level = 6) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  std::string out(deflateBound(&z, data.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
  out.resize(done ? z.total_out : 0);
  deflateEnd(&z);
  return out;
}

inline std::string Gzip(const std::string& data) { return Deflated(data, 15 + 16); }
inline std::string ZlibDeflate(const std::string& data) { return Deflated(data, 15); }
inline std::string RawDeflate(const std::string& data) { return Deflated(data, -15); }

inline std::string Brotli(const std::string& data, int quality = 5) {
  std::string out(BrotliEncoderMaxCompressedSize(data.size()), '\0');
  std::size_t size = out.size();
  if (!BrotliEncoderCompress(quality, BROTLI_DEFAULT_WINDOW, BROTLI_MODE_TEXT, data.size(),
                             reinterpret_cast<const std::uint8_t*>(data.data()), &size,
                             reinterpret_cast<std::uint8_t*>(out.data()))) {
    return {};
  }
  out.resize(size);
  return out;
}

inline std::string Zstd(const std::string& data, int level = 3) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  std::size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level);
  out.resize(ZSTD_isError(size) ? 0 : size);
  return out;
}

}  // namespace testsupport
