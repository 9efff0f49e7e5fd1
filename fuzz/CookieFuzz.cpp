// Set-Cookie values and cookies.txt lines through the cookie jar. The input
// is cut at its first byte 0x01: before it, one Set-Cookie value a line,
// each for the next of a few request hosts (chosen from byte 0 on) over http
// or https (bit 0 of byte 0, flipped each line); after it, a cookies.txt
// file. Whatever the bytes, a Cookie header holds no CR, LF or NUL, the jar
// stays within its limits, and what Save writes Load reads back to the same
// jar.
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <string_view>

#include "CookieJar.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::int64_t kNow = 1894694400;
constexpr std::string_view kHosts[] = {"a.test",      "www.a.test", "b.test", "localhost",
                                       "a.localhost", "127.0.0.1",  "co.uk",  "x.example.co.uk",
                                       "[::1]",       "A.Test"};
const std::string kLongDirectory = "/" + std::string(1000, 'p') + "/";
// The last two paths make default paths on both sides of the longest a
// cookie may have.
const std::string kPaths[] = {"/",          "/docs",        "/docs/x",
                              "/a/b/c?q=1", kLongDirectory, kLongDirectory + "q/x"};

void CheckHeaders(const TCookieJar& jar) {
  Check(jar.Size() <= kMaxCookies);
  for (std::string_view host : kHosts) {
    for (const std::string& path : kPaths) {
      for (bool https : {false, true}) {
        const std::string header = jar.HeaderFor(https, host, path, kNow + 1);
        Check(header.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
        Check(!header.starts_with("; ") && !header.ends_with("; "));
      }
    }
  }
}

// Save, Load into a new jar, Save again: the same text, read without a
// complaint.
void CheckRoundTrip(const TCookieJar& jar) {
  std::ostringstream saved;
  jar.Save(saved);
  TCookieJar again;
  std::istringstream in(saved.str());
  std::string error;
  Check(again.Load(in, error) && error.empty());
  Check(again.Size() == jar.Size());
  std::ostringstream resaved;
  again.Save(resaved);
  Check(resaved.str() == saved.str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t cut = input.find('\x01');
  std::string_view setCookies = input.substr(0, cut);
  const std::string_view file =
      cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  TCookieJar stored;
  bool https = data[0] & 1;
  std::size_t line = data[0] >> 1;
  for (bool more = !setCookies.empty(); more; ++line, https = !https) {
    const std::size_t end = setCookies.find('\n');
    stored.Store(https, kHosts[line % std::size(kHosts)], kPaths[line % std::size(kPaths)],
                 setCookies.substr(0, end), kNow + static_cast<std::int64_t>(line % 3));
    more = end != std::string_view::npos;
    if (more) setCookies.remove_prefix(end + 1);
  }
  CheckHeaders(stored);
  CheckRoundTrip(stored);

  TCookieJar loaded;
  std::istringstream in{std::string(file)};
  std::string error;
  Check(loaded.Load(in, error) == error.empty());
  CheckHeaders(loaded);
  CheckRoundTrip(loaded);
  return 0;
}
