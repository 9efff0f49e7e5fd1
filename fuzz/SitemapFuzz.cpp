// Arbitrary bytes as a sitemap, as they are or gzip-compressed. Byte 0
// chooses the setup (bit 0: the rest as it is, or cut into gzip members;
// bits 1-2: the limit on decompressed bytes), byte 1 where the members are
// cut. Checks the limits on addresses and bytes, and that compression
// changes nothing within the limit.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <string>

#include "FuzzPieces.h"
#include "Sitemap.h"
#include "ZlibStreams.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::size_t kLimits[] = {0, 64, 4096, 1 << 20};
// An address grows at most from one malformed byte to "&#65533;".
constexpr std::size_t kMaxGrowth = 8;

bool IsSpace(char c) { return std::string_view(" \t\r\n\v\f").find(c) != std::string_view::npos; }

std::string GzipMembers(std::string_view bytes, unsigned seed) {
  TGzipMemberWriter gzip(1);
  std::string file;
  ForEachPiece(bytes, seed, [&](std::string_view piece) { gzip.AppendMember({piece}, file); });
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const bool gzipped = data[0] & 1;
  const std::size_t limit = kLimits[(data[0] >> 1) & 3];
  const std::string file = gzipped ? GzipMembers(bytes, data[1]) : std::string(bytes);
  const TSitemap sitemap = ReadSitemap(file, limit);

  Check(sitemap.Locations.size() <= kMaxSitemapLocations);
  std::size_t total = 0;
  for (const std::string& location : sitemap.Locations) {
    Check(!location.empty() && !IsSpace(location.front()) && !IsSpace(location.back()));
    total += location.size();
  }
  Check(total <= kMaxGrowth * std::min(bytes.size(), limit));
  if (bytes.size() > limit) Check(!sitemap.Error.empty());

  if (gzipped && bytes.size() <= limit && !bytes.starts_with("\x1F\x8B")) {
    const TSitemap plain = ReadSitemap(bytes, limit);
    Check(plain.Locations == sitemap.Locations && plain.IsIndex == sitemap.IsIndex &&
          plain.Error == sitemap.Error);
  }
  return 0;
}
