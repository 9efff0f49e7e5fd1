// Arbitrary bytes as a robots.txt: read for our product token and asked
// about paths made of its own lines. Checks that "/robots.txt" stays
// allowed, that sitemaps are listed once, and that lines ended by CRLF
// instead of LF read the same.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "RobotsTxt.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::string WithCrlf(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// The lines of the text, each as it is and after a "/", beside two paths of our own.
std::vector<std::string> PathsOf(std::string_view text) {
  std::vector<std::string> paths = {"/", "/a/b.html?x=1"};
  while (!text.empty() && paths.size() < 200) {
    const std::size_t end = text.find('\n');
    const std::string line(text.substr(0, end));
    paths.push_back(line);
    paths.push_back("/" + line);
    text.remove_prefix(end == text.npos ? text.size() : end + 1);
  }
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const TRobotsRules rules = TRobotsRules::Parse(text, "Tirasel");
  Check(rules.Allowed("/robots.txt"));
  std::set<std::string> sitemaps;
  for (const std::string& sitemap : rules.Sitemaps) {
    Check(!sitemap.empty() && sitemaps.insert(sitemap).second);
  }
  // Extra CRs past the limit would move it, so only a short text compares.
  const std::string crlf = WithCrlf(text);
  if (crlf.size() > kMaxRobotsTxtBytes) return 0;
  const TRobotsRules crlfRules = TRobotsRules::Parse(crlf, "Tirasel");
  Check(crlfRules.Sitemaps == rules.Sitemaps);
  for (const std::string& path : PathsOf(text)) {
    Check(rules.Allowed(path) == crlfRules.Allowed(path));
  }
  return 0;
}
