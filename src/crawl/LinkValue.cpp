#include "LinkValue.h"

#include <string>

#include "AsciiCase.h"
#include "HttpUtils.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSchemeChar(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// The scheme a value begins with (a letter, then letters, digits, "+", "-"
// or ".", then ":"), upper-cased; empty when there is none.
std::string SchemeOf(std::string_view value) {
  if (value.empty() || !IsAsciiLetter(value[0])) return {};
  size_t end = 1;
  while (end < value.size() && IsSchemeChar(value[end])) ++end;
  if (end >= value.size() || value[end] != ':') return {};
  return UpperAscii(value.substr(0, end));
}

}  // namespace

std::optional<std::string_view> FollowableLinkValue(std::string_view value) {
  size_t fragment = FragmentStart(value);
  if (fragment != std::string_view::npos) {
    if (fragment == 0) return std::nullopt;
    value = value.substr(0, fragment);
  }
  if (StartsWithIgnoringAsciiCase(value, "WWW.")) return value;
  std::string scheme = SchemeOf(value);
  if (!scheme.empty() && scheme != "HTTP" && scheme != "HTTPS") return std::nullopt;
  return value;
}
