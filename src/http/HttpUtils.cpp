#include "HttpUtils.h"

#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "AsciiCase.h"
#include "Windows1252.h"

std::string Copy(const std::string& Text, long Start, long Count) {
  if (Count <= 0) return {};
  if (Start < 1) Start = 1;
  if (static_cast<std::size_t>(Start) > Text.size()) return {};
  return Text.substr(static_cast<std::size_t>(Start - 1), static_cast<std::size_t>(Count));
}

namespace {

// Position (from 1) of the first occurrence of Sub in Text, or 0.
long Pos(const std::string& Sub, const std::string& Text) {
  auto p = Text.find(Sub);
  return p == std::string::npos ? 0 : static_cast<long>(p) + 1;
}

}  // namespace

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

std::string OriginOf(bool Tls, std::string_view Host, std::string_view Port) {
  std::optional<std::uint16_t> port = PortNumber(Port);
  const std::uint16_t number = port ? *port : (Tls ? 443 : 80);
  return std::string(Tls ? "https://" : "http://") + LowerAscii(Host) + ":" +
         std::to_string(number);
}

std::string UrlOrigin(const std::string& Url) {
  TUrlParts parts = SplitUrl(Url);
  return OriginOf(EqualIgnoringAsciiCase(parts.Proto, "https"), parts.Host, parts.Port);
}

std::string RequestUri(bool Tls, std::string_view Host, std::string_view Port,
                       std::string_view Path) {
  const bool defaultPort = Port.empty() || Port == (Tls ? "443" : "80");
  return std::string(Tls ? "https://" : "http://") + std::string(Host) +
         (defaultPort ? "" : ":" + std::string(Port)) + RequestTargetOf(Path.empty() ? "/" : Path);
}

std::string RequestUriOf(const std::string& Address) {
  TUrlParts parts = SplitUrl(Address);
  return RequestUri(EqualIgnoringAsciiCase(parts.Proto, "https"), parts.Host, parts.Port,
                    parts.Path);
}

bool IsSafeHeaderText(std::string_view Text) {
  return Text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::size_t LastPos(const std::string& Sub, const std::string& Text) {
  if (Text.empty() || Sub.empty()) return 0;
  auto p = Text.rfind(Sub);
  return p == std::string::npos ? 0 : p + 1;
}

std::string EncodeBase64(const std::string& Data) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((Data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 3 <= Data.size(); i += 3) {
    unsigned v = (static_cast<unsigned char>(Data[i]) << 16) |
                 (static_cast<unsigned char>(Data[i + 1]) << 8) |
                 static_cast<unsigned char>(Data[i + 2]);
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += alphabet[(v >> 6) & 63];
    out += alphabet[v & 63];
  }
  std::size_t rest = Data.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(Data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(Data[i + 1]) << 8;
    out += alphabet[(v >> 18) & 63];
    out += alphabet[(v >> 12) & 63];
    out += rest == 2 ? alphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

namespace {

// Days from 1 January of year 1 (proleptic Gregorian) to the given date.
long DaysFromCivil(long y, long m, long d) {
  y -= m <= 2;
  long era = (y >= 0 ? y : y - 399) / 400;
  long yoe = y - era * 400;
  long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;  // days since 1970-01-01
}

void CivilFromDays(long z, long& y, long& m, long& d) {
  z += 719468;
  long era = (z >= 0 ? z : z - 146096) / 146097;
  long doe = z - era * 146097;
  long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp + (mp < 10 ? 3 : -9);
  y += m <= 2;
}

const long kEpochOffset = 25569;  // days from 1899-12-30 to 1970-01-01

}  // namespace

double EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  double days = static_cast<double>(DaysFromCivil(Year, Month, Day) + kEpochOffset);
  return days + (Hour * 3600.0 + Minute * 60.0 + Second) / 86400.0;
}

std::string FormatHttpDate(double DateTime) {
  // The calendar arithmetic below holds for years 1 to 9999; outside them,
  // and for NaN, it would overflow.
  static const double earliest = EncodeDateTime(1, 1, 1, 0, 0, 0);
  static const double latest = EncodeDateTime(9999, 12, 31, 23, 59, 59);
  if (!(DateTime >= earliest)) DateTime = earliest;
  if (DateTime > latest) DateTime = latest;
  long whole = static_cast<long>(std::trunc(DateTime));
  // Time of day from the fraction, rounded to the millisecond as a calendar
  // clock would, then cut to whole seconds.
  double frac = std::fabs(DateTime - static_cast<double>(whole));
  long ms = std::lround(frac * 86400000.0);
  if (ms >= 86400000) ms = 86399999;
  long secs = ms / 1000;
  long y, m, d;
  CivilFromDays(whole - kEpochOffset, y, m, d);
  static const char weekdays[] = "MonTueWedThuFriSatSun";
  static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
  long wd = ((whole - 2) % 7 + 7) % 7;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3s, %2.2ld %.3s %4.4ld %2.2ld:%2.2ld:%2.2ld", weekdays + wd * 3,
                d, months + (m - 1) * 3, y, secs / 3600, secs / 60 % 60, secs % 60);
  return buf;
}

void ReplaceExtension(std::string& Name, const std::string& NewExt) {
  std::size_t p = LastPos(".", Name);
  if (p > 0) {
    Name = Name.substr(0, p) + NewExt;
  } else {
    Name = Name + "." + NewExt;
  }
}

std::string DocumentNameOf(const std::string& Path) {
  if (Path.empty() || Path == "/") return "document.htm";
  std::string p = Path;
  if (p.back() == '/') p.pop_back();
  std::string name = Copy(p, static_cast<long>(LastPos("/", p)) + 1, 255);
  auto q = name.find('?');
  if (q != std::string::npos) name.resize(q);
  return name;
}

std::optional<char32_t> NumericCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length) {
  if (text.substr(at, 2) != "&#") return std::nullopt;
  size_t pos = at + 2;
  const bool hex = pos < text.size() && (text[pos] == 'x' || text[pos] == 'X');
  if (hex) ++pos;
  const size_t digitsStart = pos;
  std::uint32_t value = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) break;
    // Past the last code point the number stays above it.
    value = std::min<std::uint32_t>(value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit),
                                    0x110000);
  }
  if (pos == digitsStart || pos >= text.size() || text[pos] != ';') return std::nullopt;
  length = pos + 1 - at;
  const bool named = value > 0 && value < 0x110000 && (value < 0xD800 || value > 0xDFFF);
  return named ? static_cast<char32_t>(value) : U'\uFFFD';
}

std::size_t FragmentStart(std::string_view address) {
  for (size_t at = address.find('#'); at != std::string_view::npos;
       at = address.find('#', at + 1)) {
    size_t length = 0;
    if (at == 0 || !NumericCharReference(address, at - 1, length)) return at;
  }
  return std::string_view::npos;
}

namespace {

bool IsAllowedInTarget(unsigned char byte) {
  return byte > 0x20 && byte < 0x7F && byte != '"' && byte != '<' && byte != '>';
}

void AppendPercentEncoded(std::string& out, char32_t ch) {
  static const char kHex[] = "0123456789ABCDEF";
  QByteArray utf8 = QString::fromUcs4(&ch, 1).toUtf8();
  for (char c : utf8) {
    auto byte = static_cast<unsigned char>(c);
    out += {'%', kHex[byte >> 4], kHex[byte & 15]};
  }
}

}  // namespace

std::string RequestTargetOf(std::string_view target) {
  target = target.substr(0, FragmentStart(target));
  std::string out;
  out.reserve(target.size());
  for (size_t at = 0; at < target.size(); ++at) {
    size_t length = 0;
    auto byte = static_cast<unsigned char>(target[at]);
    if (std::optional<char32_t> ch = NumericCharReference(target, at, length)) {
      if (*ch < 0x80 && *ch != '#' && IsAllowedInTarget(static_cast<unsigned char>(*ch))) {
        out.push_back(static_cast<char>(*ch));
      } else {
        AppendPercentEncoded(out, *ch);
      }
      at += length - 1;
    } else if (IsAllowedInTarget(byte)) {
      out.push_back(static_cast<char>(byte));
    } else {
      AppendPercentEncoded(out, Cp1252Char(byte));
    }
  }
  return out;
}
