#include "UrlParts.h"

#include "AsciiCase.h"
#include "TextPositions.h"

void SplitUrl(const std::string& Url, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path) {
  Proto.clear();
  User.clear();
  Pass.clear();
  Host.clear();
  Port.clear();
  Path.clear();
  const long n = static_cast<long>(Url.size());
  if (n == 0) return;

  long k;  // the host part begins after position k
  long scheme = Pos("://", Url);
  if (scheme > 0) {
    Proto = Copy(Url, 1, scheme - 1);
    k = scheme + 2;
  } else if (Url[0] == '/') {
    Proto = "http";
    if (n > 1 && Url[1] != '/') {
      Path = Url;  // a path on the current server
      return;
    }
    k = 1;
  } else if (StartsWithIgnoringAsciiCase(Url, "http:")) {
    Proto = "http";
    if (n > 6 && Url[6] != '/') {
      Path = Copy(Url, 6, n);
      return;
    }
    k = 6;
  } else if (StartsWithIgnoringAsciiCase(Url, "mailto:")) {
    Proto = "mailto";
    k = Pos(":", Url);
  } else {
    k = 0;
  }

  std::string R = Copy(Url, k + 1, n);
  long s = Pos("/", R);
  if (s == 0) s = static_cast<long>(R.size()) + 1;
  Path = Copy(R, s, static_cast<long>(R.size()));
  R = Copy(R, 1, s - 1);

  long c = static_cast<long>(LastPos(":", R));
  long a = static_cast<long>(LastPos("@", R));
  if (c == 0 && a == 0) {
    Host = R;
    return;
  }
  if (c > a) {
    Port = Copy(R, c + 1, static_cast<long>(R.size()));
    Host = Copy(R, a + 1, c - a - 1);
    if (a == 0) return;
    R = Copy(R, 1, a - 1);
  } else {
    Host = Copy(R, a + 1, static_cast<long>(R.size()));
    R = Copy(R, 1, a - 1);
  }
  long colon = Pos(":", R);
  if (colon > 0) {
    User = Copy(R, 1, colon - 1);
    Pass = Copy(R, colon + 1, static_cast<long>(R.size()));
  } else {
    User = R;
  }
}

TUrlParts SplitUrl(const std::string& Url) {
  TUrlParts p;
  SplitUrl(Url, p.Proto, p.User, p.Pass, p.Host, p.Port, p.Path);
  return p;
}

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSchemeChar(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

}  // namespace

std::size_t SchemePrefixLength(std::string_view text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return 0;
  std::size_t end = 1;
  while (end < text.size() && IsSchemeChar(text[end])) ++end;
  return end < text.size() && text[end] == ':' ? end + 1 : 0;
}

std::optional<std::uint16_t> PortNumber(std::string_view Text) {
  if (Text.empty() || Text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (char c : Text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

bool IsSendableHost(std::string_view host) {
  if (host.empty()) return false;
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return false;
  }
  return true;
}
