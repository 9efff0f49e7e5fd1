#include "HttpUtils.h"

#include <cmath>
#include <cstdio>

#include "AsciiCase.h"
#include "TextPositions.h"

bool IsSafeHeaderText(std::string_view Text) {
  return Text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::vector<std::string_view> HeaderListItems(std::string_view Value) {
  std::vector<std::string_view> items;
  while (!Value.empty()) {
    const std::size_t comma = Value.find(',');
    std::string_view item = Value.substr(0, comma);
    Value = comma == std::string_view::npos ? std::string_view() : Value.substr(comma + 1);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (!item.empty()) items.push_back(item);
  }
  return items;
}

bool HasHeaderToken(std::string_view Value, std::string_view Token) {
  for (std::string_view item : HeaderListItems(Value)) {
    if (EqualIgnoringAsciiCase(item, Token)) return true;
  }
  return false;
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

std::int64_t UnixTimeOf(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  return static_cast<std::int64_t>(DaysFromCivil(Year, Month, Day)) * 86400 + Hour * 3600 +
         Minute * 60 + Second;
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
