// What the archive tests of this folder share: exchanges of every kind,
// gzip and deflate data made with zlib itself, and reading a whole archive
// into its records and damage reports.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "WarcReader.h"
#include "WarcWriter.h"

namespace warctest {

// `bytes` deflated by zlib with the wrapping of `windowBits` (31: gzip,
// 15: zlib, -15: raw deflate).
inline std::string Deflated(const std::string& bytes, int windowBits, int level = 6) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&z, bytes.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  return out;
}
inline std::string Gzipped(const std::string& bytes) { return Deflated(bytes, 31); }

// `bytes` as chunks of at most `size` bytes, with the last chunk.
inline std::string Chunked(const std::string& bytes, std::size_t size) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += size) {
    std::string chunk = bytes.substr(at, size);
    char length[32];
    std::snprintf(length, sizeof length, "%zx\r\n", chunk.size());
    out += length + chunk + "\r\n";
  }
  return out + "0\r\n\r\n";
}

inline std::string Request(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\nHost: example.org\r\nUser-Agent: Tirasel\r\n\r\n";
}

inline std::string Response(const std::string& body, const std::string& fields = "") {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n" + fields +
         "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline TWarcExchange Exchange(const std::string& path, const std::string& body,
                              std::int64_t timeMs = 1714564800123) {
  TWarcExchange exchange;
  exchange.TargetUri = "http://example.org" + path;
  exchange.IpAddress = "127.0.0.1";
  exchange.RequestBytes = Request(path);
  exchange.ResponseBytes = Response(body);
  exchange.TimeMs = timeMs;
  return exchange;
}

// An exchange that failed after `received` had arrived.
inline TWarcExchange Failed(const std::string& path, const std::string& received,
                            std::uint16_t error, const std::string& reason) {
  TWarcExchange exchange = Exchange(path, "");
  exchange.ResponseBytes = received;
  exchange.Error = error;
  exchange.Reason = reason;
  return exchange;
}

// An exchange that failed before anything was sent.
inline TWarcExchange Unsent(const std::string& uri, std::uint16_t error,
                            const std::string& reason) {
  TWarcExchange exchange;
  exchange.TargetUri = uri;
  exchange.Error = error;
  exchange.Reason = reason;
  exchange.TimeMs = 1714564800123;
  return exchange;
}

// Pages of some size and variety, for archives that need several records.
inline std::string Page(int n) {
  std::string page = "<html><title>Page " + std::to_string(n) + "</title><body>";
  for (int i = 0; i < 5 + n % 7; ++i) page += "<p>Word" + std::to_string(n * 31 + i) + " text</p>";
  return page + "</body></html>";
}

// Writes a warcinfo record and `count` exchanges of Page(i).
inline void WritePages(const std::string& path, int count,
                       TWarcCompression compression = TWarcCompression::GzipPerRecord) {
  TWarcWriter writer(path, compression);
  writer.WriteInfo({{"software", "Tirasel test"}});
  for (int i = 0; i < count; ++i) writer.WriteExchange(Exchange("/p" + std::to_string(i), Page(i)));
}

struct TDamage {
  std::uint64_t offset;
  std::string problem;
};

struct TArchive {
  std::vector<TWarcRecord> records;
  std::vector<TDamage> damage;

  std::vector<std::uint64_t> DamageOffsets() const {
    std::vector<std::uint64_t> offsets;
    for (const TDamage& d : damage) offsets.push_back(d.offset);
    return offsets;
  }
  std::vector<std::string> TargetUris() const {
    std::vector<std::string> uris;
    for (const TWarcRecord& r : records) uris.push_back(r.TargetUri);
    return uris;
  }
};

// Every record of the file. The loop is bounded: an archive of n bytes
// cannot hold more than n records.
inline TArchive ReadArchive(const std::string& path, std::int64_t maxBlockBytes = 1 << 24) {
  TArchive archive;
  TWarcReader reader(path, maxBlockBytes, [&](std::uint64_t offset, const std::string& problem) {
    archive.damage.push_back({offset, problem});
  });
  TWarcRecord record;
  for (int i = 0; i < 1000000 && reader.Next(record); ++i) archive.records.push_back(record);
  return archive;
}

// The value of the first field with this name, as written; empty when none.
inline std::string Field(const TWarcRecord& record, const std::string& name) {
  for (const auto& [n, v] : record.Fields) {
    if (n == name) return v;
  }
  return "";
}

}  // namespace warctest
