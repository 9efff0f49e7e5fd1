// A web archive of generated pages (one gzip member per record, as our
// writer makes it) of a chosen size, for the benchmarks that read archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "BenchPages.h"
#include "WarcWriter.h"

struct TBenchArchive {
  std::uint64_t fileBytes = 0;
  std::uint64_t responses = 0;
};

// Pages of 4 KiB to 128 KiB in turn until `pageBytes` of pages are written
// (or, with `fileBytes`, until the file has that many), at
// http://HOST/page/N.html.
inline TBenchArchive WriteBenchArchive(const std::string& path, std::int64_t pageBytes,
                                       const std::string& host = "www.example.org",
                                       std::int64_t fileBytes = 0) {
  std::vector<std::string> pages;
  for (std::size_t size = 4096; size <= 131072; size *= 2) pages.push_back(RealisticPage(size));
  TBenchArchive archive;
  TWarcWriter writer(path);
  writer.WriteInfo({{"software", "Tirasel bench"}});
  std::int64_t written = 0;
  auto more = [&] {
    return fileBytes > 0 ? writer.BytesWritten() < static_cast<std::uint64_t>(fileBytes)
                         : written < pageBytes;
  };
  for (std::uint64_t i = 0; more(); ++i) {
    const std::string& page = pages[i % pages.size()];
    TWarcExchange exchange;
    exchange.TargetUri = "http://" + host + "/page/" + std::to_string(i) + ".html";
    exchange.IpAddress = "127.0.0.1";
    exchange.RequestBytes = "GET /page/" + std::to_string(i) + ".html HTTP/1.0\r\nHost: " + host +
                            "\r\nUser-Agent: Tirasel\r\n\r\n";
    exchange.ResponseBytes = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                             std::to_string(page.size()) + "\r\n\r\n" + page;
    exchange.TimeMs = 1714564800000 + static_cast<std::int64_t>(i);
    writer.WriteExchange(exchange);
    written += static_cast<std::int64_t>(page.size());
    ++archive.responses;
  }
  archive.fileBytes = writer.BytesWritten();
  return archive;
}
