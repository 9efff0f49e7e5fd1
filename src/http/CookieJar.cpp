#include "CookieJar.h"

#include <algorithm>
#include <charconv>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>

#include "AsciiCase.h"
#include "HttpUtils.h"
#include "UrlDomain.h"

namespace {

constexpr std::int64_t kEarliest = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kLatest = std::numeric_limits<std::int64_t>::max();
// Browsers ignore an attribute whose value is longer; a cookie's path is
// held to it also when it comes from the request.
constexpr std::size_t kMaxAttributeValue = 1024;
constexpr std::size_t kMaxHost = 255;
// A cookies.txt line holds a domain, a path and the cookie, with the flags
// and an expiry; anything longer is no line of ours.
constexpr std::size_t kMaxFileLine = kMaxHost + kMaxAttributeValue + kMaxCookieBytes + 100;
// The most of a cookies.txt file read: far more than a full jar takes.
constexpr std::size_t kMaxFileBytes = 64u << 20;
constexpr std::string_view kHttpOnlyPrefix = "#HttpOnly_";
constexpr std::string_view kSecurePrefix = "__Secure-";
constexpr std::string_view kHostPrefix = "__Host-";

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool HasControlByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// A request host a cookie may be bound to: a name or an address, not
// starting with "." (a domain cookie's mark in cookies.txt) or "#" (a
// comment there).
bool IsCookieHost(std::string_view host) {
  if (host.empty() || host.size() > kMaxHost || host[0] == '.') return false;
  return std::all_of(host.begin(), host.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-._:[]%").find(c) != std::string_view::npos;
  });
}

bool IsCookiePath(std::string_view path) {
  return path.starts_with('/') && path.size() <= kMaxAttributeValue && !HasControlByte(path);
}

// The path of a request target, without its query and fragment.
std::string_view UriPath(std::string_view path) { return path.substr(0, path.find_first_of("?#")); }

std::string DefaultPath(std::string_view requestPath) {
  const std::string_view path = UriPath(requestPath);
  const std::size_t last = path.rfind('/');
  if (path.empty() || path[0] != '/' || last == 0) return "/";
  return std::string(path.substr(0, last));
}

bool PathMatches(std::string_view requestPath, std::string_view cookiePath) {
  if (!requestPath.starts_with(cookiePath)) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.ends_with('/') ||
         requestPath[cookiePath.size()] == '/';
}

// --- Dates as Expires gives them: any of the forms servers have written.

bool IsDateDelimiter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u == 0x09 || (u >= 0x20 && u <= 0x2f) || (u >= 0x3b && u <= 0x40) ||
         (u >= 0x5b && u <= 0x60) || (u >= 0x7b && u <= 0x7e);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// minDigits to maxDigits digits at pos, not followed by another digit.
std::optional<int> DigitsAt(std::string_view token, std::size_t& pos, std::size_t minDigits,
                            std::size_t maxDigits) {
  int value = 0;
  std::size_t count = 0;
  for (; pos < token.size() && IsDigit(token[pos]); ++pos) {
    if (++count > maxDigits) return std::nullopt;
    value = value * 10 + (token[pos] - '0');
  }
  if (count < minDigits) return std::nullopt;
  return value;
}

bool ReadTime(std::string_view token, int& hour, int& minute, int& second) {
  std::size_t pos = 0;
  std::optional<int> h = DigitsAt(token, pos, 1, 2);
  if (!h || pos >= token.size() || token[pos++] != ':') return false;
  std::optional<int> m = DigitsAt(token, pos, 1, 2);
  if (!m || pos >= token.size() || token[pos++] != ':') return false;
  std::optional<int> s = DigitsAt(token, pos, 1, 2);
  if (!s) return false;
  hour = *h, minute = *m, second = *s;
  return true;
}

bool ReadNumber(std::string_view token, std::size_t minDigits, std::size_t maxDigits, int& value) {
  std::size_t pos = 0;
  std::optional<int> number = DigitsAt(token, pos, minDigits, maxDigits);
  if (number) value = *number;
  return number.has_value();
}

bool ReadMonth(std::string_view token, int& month) {
  static constexpr std::string_view kMonths = "janfebmaraprmayjunjulaugsepoctnovdec";
  if (token.size() < 3) return false;
  for (int i = 0; i < 12; ++i) {
    if (EqualIgnoringAsciiCase(token.substr(0, 3), kMonths.substr(i * 3, 3))) {
      month = i + 1;
      return true;
    }
  }
  return false;
}

bool IsRealDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day >= 1 && day <= kDays[month - 1] && (month != 2 || day <= 28 || leap);
}

// Each token is taken as the first of time, day, month and year it can still
// be; two-digit years are 1970 to 2069.
std::optional<std::int64_t> ParseCookieDate(std::string_view text) {
  int hour = -1, minute = 0, second = 0, day = -1, month = -1, year = -1;
  std::size_t pos = 0;
  while (pos < text.size()) {
    while (pos < text.size() && IsDateDelimiter(text[pos])) ++pos;
    const std::size_t start = pos;
    while (pos < text.size() && !IsDateDelimiter(text[pos])) ++pos;
    const std::string_view token = text.substr(start, pos - start);
    if (token.empty()) break;
    if (hour < 0 && ReadTime(token, hour, minute, second)) continue;
    if (day < 0 && ReadNumber(token, 1, 2, day)) continue;
    if (month < 0 && ReadMonth(token, month)) continue;
    if (year < 0) ReadNumber(token, 2, 4, year);
  }
  if (year >= 70 && year <= 99) year += 1900;
  if (year >= 0 && year <= 69) year += 2000;
  if (hour < 0 || day < 0 || month < 0 || year < 1601) return std::nullopt;
  if (hour > 23 || minute > 59 || second > 59 || !IsRealDate(year, month, day)) return std::nullopt;
  return UnixTimeOf(year, month, day, hour, minute, second);
}

// --- The Set-Cookie header.

struct TSetCookie {
  std::string_view Name, Value, Domain, Path;
  std::optional<std::int64_t> Expires, MaxAge;
  bool HasPath = false, Secure = false, HttpOnly = false;
};

// Max-Age: an optional "-" and digits; a larger number than fits is kept as
// the largest.
std::optional<std::int64_t> ParseMaxAge(std::string_view value) {
  const bool negative = value.starts_with('-');
  const std::string_view digits = value.substr(negative ? 1 : 0);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) return std::nullopt;
  if (negative) return 0;
  std::int64_t seconds = 0;
  for (char c : digits) {
    if (seconds > (kLatest - 9) / 10) return kLatest;
    seconds = seconds * 10 + (c - '0');
  }
  return seconds;
}

void ReadAttribute(std::string_view attribute, TSetCookie& cookie) {
  const std::size_t eq = attribute.find('=');
  const std::string_view name = Trimmed(attribute.substr(0, eq));
  const std::string_view value =
      eq == std::string_view::npos ? std::string_view() : Trimmed(attribute.substr(eq + 1));
  if (value.size() > kMaxAttributeValue) return;
  if (EqualIgnoringAsciiCase(name, "expires")) {
    if (std::optional<std::int64_t> date = ParseCookieDate(value)) cookie.Expires = date;
  } else if (EqualIgnoringAsciiCase(name, "max-age")) {
    if (std::optional<std::int64_t> seconds = ParseMaxAge(value)) cookie.MaxAge = seconds;
  } else if (EqualIgnoringAsciiCase(name, "domain")) {
    if (!value.empty()) cookie.Domain = value;
  } else if (EqualIgnoringAsciiCase(name, "path")) {
    cookie.HasPath = true;
    cookie.Path = value;
  } else if (EqualIgnoringAsciiCase(name, "secure")) {
    cookie.Secure = true;
  } else if (EqualIgnoringAsciiCase(name, "httponly")) {
    cookie.HttpOnly = true;
  }
}

// Whether a name and value may be stored: not both empty, no control byte,
// nothing that would read differently in a Cookie header.
bool IsStorablePair(std::string_view name, std::string_view value) {
  return !(name.empty() && value.empty()) && name.size() + value.size() <= kMaxCookieBytes &&
         !HasControlByte(name) && !HasControlByte(value) &&
         name.find_first_of("=;") == std::string_view::npos &&
         value.find(';') == std::string_view::npos;
}

// A pair without "=" is a value with an empty name, as browsers read it.
std::optional<TSetCookie> ParseSetCookie(std::string_view header) {
  if (!IsSafeHeaderText(header)) return std::nullopt;
  std::size_t semicolon = header.find(';');
  const std::string_view pair = header.substr(0, semicolon);
  const std::size_t eq = pair.find('=');
  TSetCookie cookie;
  if (eq != std::string_view::npos) cookie.Name = Trimmed(pair.substr(0, eq));
  cookie.Value = Trimmed(eq == std::string_view::npos ? pair : pair.substr(eq + 1));
  if (!IsStorablePair(cookie.Name, cookie.Value)) return std::nullopt;
  while (semicolon != std::string_view::npos) {
    header.remove_prefix(semicolon + 1);
    semicolon = header.find(';');
    ReadAttribute(header.substr(0, semicolon), cookie);
  }
  return cookie;
}

// "__Secure-" asks for Secure; "__Host-" also for a host-only cookie on "/".
// A nameless cookie cannot pass for one by its value.
bool KeepsNamePrefixRules(const TSetCookie& parsed, bool hostOnly, std::string_view path) {
  const std::string_view name = parsed.Name.empty() ? parsed.Value : parsed.Name;
  const bool secure = StartsWithIgnoringAsciiCase(name, kSecurePrefix);
  const bool host = StartsWithIgnoringAsciiCase(name, kHostPrefix);
  if (parsed.Name.empty()) return !secure && !host;
  if ((secure || host) && !parsed.Secure) return false;
  return !host || (hostOnly && parsed.HasPath && path == "/");
}

// The domain a cookie is bound to: empty for the request host alone, nullopt
// when the Domain attribute is refused. A public suffix as the domain would
// reach every site under it; only the suffix's own host may name it, and
// then it binds to that host alone.
std::optional<std::string> CookieDomain(const std::string& requestHost,
                                        std::string_view attribute) {
  std::string domain = LowerAscii(attribute.substr(attribute.starts_with('.') ? 1 : 0));
  if (domain.empty()) return domain;
  if (IsPublicSuffix(domain)) {
    return domain == requestHost ? std::optional<std::string>("") : std::nullopt;
  }
  if (!DomainMatches(requestHost, domain)) return std::nullopt;
  return domain;
}

std::int64_t ExpiryAfter(std::int64_t now, std::int64_t seconds) {
  if (seconds <= 0) return kEarliest;
  return now > kLatest - seconds ? kLatest : now + seconds;
}

// --- cookies.txt

enum class TLineRead { kLine, kTooLong, kEnd };

// One line without its LF (and CR), at most kMaxFileLine bytes of it kept;
// budget counts down the bytes the file may still take. A line cut by the
// budget counts as too long: its end is missing.
TLineRead ReadFileLine(std::istream& in, std::string& line, std::size_t& budget) {
  line.clear();
  bool tooLong = false, any = false, ended = false;
  for (int c; budget > 0 && (c = in.get()) != std::char_traits<char>::eof();) {
    --budget;
    any = true;
    ended = c == '\n';
    if (ended) break;
    if (line.size() < kMaxFileLine) {
      line.push_back(static_cast<char>(c));
    } else {
      tooLong = true;
    }
  }
  if (!any) return TLineRead::kEnd;
  if (!ended && budget == 0 && in.peek() != std::char_traits<char>::eof()) tooLong = true;
  if (line.ends_with('\r')) line.pop_back();
  return tooLong ? TLineRead::kTooLong : TLineRead::kLine;
}

std::optional<bool> ReadFlag(std::string_view field) {
  if (EqualIgnoringAsciiCase(field, "TRUE")) return true;
  if (EqualIgnoringAsciiCase(field, "FALSE")) return false;
  return std::nullopt;
}

std::optional<std::int64_t> ReadExpiry(std::string_view field) {
  std::int64_t value = 0;
  const char* end = field.data() + field.size();
  auto [stop, failure] = std::from_chars(field.data(), end, value);
  if (field.empty() || failure != std::errc() || stop != end) return std::nullopt;
  return value;
}

// The TAB-separated fields of a line; at most max + 1 of them, so that a
// line with too many shows it.
std::vector<std::string_view> SplitFields(std::string_view line, std::size_t max) {
  std::vector<std::string_view> fields;
  while (fields.size() <= max) {
    const std::size_t tab = line.find('\t');
    fields.push_back(line.substr(0, tab));
    if (tab == std::string_view::npos) break;
    line.remove_prefix(tab + 1);
  }
  return fields;
}

}  // namespace

bool TCookieJar::IsExpired(const TCookie& cookie, std::int64_t now) {
  return cookie.Persistent && cookie.Expiry <= now;
}

bool TCookieJar::IsOlder(const TCookie& a, const TCookie& b) {
  return a.Creation != b.Creation ? a.Creation < b.Creation : a.Order < b.Order;
}

void TCookieJar::Store(bool https, std::string_view host, std::string_view requestPath,
                       std::string_view setCookieValue, std::int64_t now) {
  std::optional<TCookie> cookie = Received(https, host, requestPath, setCookieValue, now);
  if (!cookie || (!https && ShadowsSecureCookie(*cookie))) return;
  const bool expired = IsExpired(*cookie, now);
  Insert(std::move(*cookie), expired, now);
}

std::optional<TCookieJar::TCookie> TCookieJar::Received(bool https, std::string_view host,
                                                        std::string_view requestPath,
                                                        std::string_view setCookieValue,
                                                        std::int64_t now) {
  std::optional<TSetCookie> parsed = ParseSetCookie(setCookieValue);
  if (!parsed || !IsCookieHost(host)) return std::nullopt;
  const std::string requestHost = LowerAscii(host);
  std::optional<std::string> domain = CookieDomain(requestHost, parsed->Domain);
  if (!domain) return std::nullopt;
  TCookie cookie;
  cookie.Name = parsed->Name;
  cookie.Value = parsed->Value;
  cookie.Persistent = parsed->MaxAge || parsed->Expires;
  if (cookie.Persistent) {
    cookie.Expiry = parsed->MaxAge ? ExpiryAfter(now, *parsed->MaxAge) : *parsed->Expires;
  }
  cookie.HostOnly = domain->empty();
  cookie.Domain = cookie.HostOnly ? requestHost : std::move(*domain);
  const bool pathGiven = parsed->Path.starts_with('/');
  cookie.Path = pathGiven ? std::string(parsed->Path) : DefaultPath(requestPath);
  cookie.Secure = parsed->Secure;
  cookie.HttpOnly = parsed->HttpOnly;
  cookie.Creation = now;
  if (cookie.Secure && !https) return std::nullopt;
  if (!KeepsNamePrefixRules(*parsed, cookie.HostOnly, cookie.Path)) return std::nullopt;
  if (!IsCookiePath(cookie.Path) || !IsCookieHost(cookie.Domain)) return std::nullopt;
  return cookie;
}

// A cookie from plain http may not stand in for a Secure one of the same
// name where both would be sent: it could be a forgery by anyone on the path.
bool TCookieJar::ShadowsSecureCookie(const TCookie& cookie) const {
  for (const auto& [domain, cookies] : domains_) {
    if (!DomainMatches(domain, cookie.Domain) && !DomainMatches(cookie.Domain, domain)) continue;
    for (const TCookie& stored : cookies) {
      if (stored.Secure && stored.Name == cookie.Name && PathMatches(cookie.Path, stored.Path)) {
        return true;
      }
    }
  }
  return false;
}

void TCookieJar::Insert(TCookie cookie, bool expired, std::int64_t now) {
  auto found = domains_.find(cookie.Domain);
  if (found != domains_.end()) {
    TCookies& cookies = found->second;
    auto same = std::find_if(cookies.begin(), cookies.end(), [&](const TCookie& stored) {
      return stored.Name == cookie.Name && stored.Path == cookie.Path;
    });
    if (same != cookies.end()) {
      if (expired) {
        cookies.erase(same);
        --count_;
        if (cookies.empty()) domains_.erase(found);
      } else {
        cookie.Creation = same->Creation;
        cookie.Order = same->Order;
        *same = std::move(cookie);
      }
      return;
    }
  }
  if (expired) return;
  if (count_ >= kMaxCookies) MakeRoom(now);
  TCookies& cookies = domains_[cookie.Domain];
  if (cookies.size() >= kMaxCookiesPerDomain) MakeRoomIn(cookies, now);
  cookie.Order = nextOrder_++;
  cookies.push_back(std::move(cookie));
  ++count_;
}

void TCookieJar::MakeRoomIn(TCookies& cookies, std::int64_t now) {
  count_ -= std::erase_if(cookies, [now](const TCookie& cookie) { return IsExpired(cookie, now); });
  if (cookies.size() < kMaxCookiesPerDomain) return;
  cookies.erase(std::min_element(cookies.begin(), cookies.end(), IsOlder));
  --count_;
}

void TCookieJar::MakeRoom(std::int64_t now) {
  RemoveExpired(now);
  if (count_ < kMaxCookies) return;
  auto oldestDomain = domains_.end();
  TCookies::iterator oldest;
  for (auto it = domains_.begin(); it != domains_.end(); ++it) {
    auto candidate = std::min_element(it->second.begin(), it->second.end(), IsOlder);
    if (oldestDomain == domains_.end() || IsOlder(*candidate, *oldest)) {
      oldestDomain = it;
      oldest = candidate;
    }
  }
  oldestDomain->second.erase(oldest);
  --count_;
  if (oldestDomain->second.empty()) domains_.erase(oldestDomain);
}

void TCookieJar::RemoveExpired(std::int64_t now) {
  for (auto it = domains_.begin(); it != domains_.end();) {
    count_ -=
        std::erase_if(it->second, [now](const TCookie& cookie) { return IsExpired(cookie, now); });
    it = it->second.empty() ? domains_.erase(it) : std::next(it);
  }
}

std::string TCookieJar::HeaderFor(bool https, std::string_view host, std::string_view path,
                                  std::int64_t now) const {
  if (!IsCookieHost(host)) return {};
  const std::string requestHost = LowerAscii(host);
  std::string_view requestPath = UriPath(path);
  if (!requestPath.starts_with('/')) requestPath = "/";
  std::vector<const TCookie*> chosen;
  auto choose = [&](const TCookie& cookie) {
    const bool hostMatches =
        cookie.HostOnly ? cookie.Domain == requestHost : DomainMatches(requestHost, cookie.Domain);
    if (hostMatches && PathMatches(requestPath, cookie.Path) && (https || !cookie.Secure) &&
        !IsExpired(cookie, now)) {
      chosen.push_back(&cookie);
    }
  };
  // Only the host itself and the domains above it can hold its cookies.
  std::string_view domain = requestHost;
  for (bool more = true; more;) {
    if (auto found = domains_.find(domain); found != domains_.end()) {
      for (const TCookie& cookie : found->second) choose(cookie);
    }
    const std::size_t dot = domain.find('.');
    more = dot != std::string_view::npos;
    if (more) domain.remove_prefix(dot + 1);
  }
  std::sort(chosen.begin(), chosen.end(), [](const TCookie* a, const TCookie* b) {
    return a->Path.size() != b->Path.size() ? a->Path.size() > b->Path.size() : IsOlder(*a, *b);
  });
  std::string header;
  for (const TCookie* cookie : chosen) {
    if (!header.empty()) header += "; ";
    if (!cookie->Name.empty()) header += cookie->Name + "=";
    header += cookie->Value;
  }
  return header;
}

bool TCookieJar::Load(std::istream& in, std::string& error) {
  std::size_t badLines = 0, firstBad = 0, lineNumber = 0, budget = kMaxFileBytes;
  std::string line;
  for (TLineRead read; (read = ReadFileLine(in, line, budget)) != TLineRead::kEnd;) {
    ++lineNumber;
    if (read == TLineRead::kLine && LoadLine(line)) continue;
    if (badLines++ == 0) firstBad = lineNumber;
  }
  error.clear();
  if (badLines > 0) {
    error = std::to_string(badLines) + (badLines == 1 ? " line is" : " lines are") +
            " no cookie and skipped, the first is line " + std::to_string(firstBad);
  }
  if (budget == 0 && in.peek() != std::char_traits<char>::eof()) {
    error += std::string(error.empty() ? "" : "; ") + "the file is longer than " +
             std::to_string(kMaxFileBytes >> 20) + " MiB and its rest is not read";
  } else if (in.bad()) {
    error += std::string(error.empty() ? "" : "; ") + "reading the file failed after line " +
             std::to_string(lineNumber);
  }
  return error.empty();
}

// One line of cookies.txt: a blank line or a comment reads as a cookie-less
// success.
bool TCookieJar::LoadLine(std::string_view line) {
  TCookie cookie;
  if (line.starts_with(kHttpOnlyPrefix)) {
    cookie.HttpOnly = true;
    line.remove_prefix(kHttpOnlyPrefix.size());
  } else if (line.starts_with('#') || Trimmed(line).empty()) {
    return true;
  }
  std::vector<std::string_view> fields = SplitFields(line, 7);
  // A cookie with an empty value may come without its last TAB.
  if (fields.size() == 6) fields.emplace_back();
  if (fields.size() != 7) return false;
  std::string_view domain = fields[0];
  const bool dotted = domain.starts_with('.');
  if (dotted) domain.remove_prefix(1);
  const std::optional<bool> subdomains = ReadFlag(fields[1]), secure = ReadFlag(fields[3]);
  const std::optional<std::int64_t> expiry = ReadExpiry(fields[4]);
  if (!subdomains || !secure || !expiry || !IsCookieHost(domain)) return false;
  if (!IsCookiePath(fields[2])) return false;
  if (!IsStorablePair(fields[5], fields[6])) return false;
  cookie.HostOnly = !*subdomains && !dotted;
  cookie.Domain = LowerAscii(domain);
  if (!cookie.HostOnly && IsPublicSuffix(cookie.Domain)) return false;
  cookie.Path = fields[2];
  cookie.Secure = *secure;
  cookie.Persistent = *expiry != 0;
  cookie.Expiry = *expiry;
  cookie.Name = fields[5];
  cookie.Value = fields[6];
  cookie.Creation = kEarliest;
  // The file gives no creation time: its cookies count as older than any
  // the run receives, in the order of the file.
  Insert(std::move(cookie), false, kEarliest);
  return true;
}

void TCookieJar::Save(std::ostream& out) const {
  std::vector<const TCookie*> all;
  all.reserve(count_);
  for (const auto& [domain, cookies] : domains_) {
    for (const TCookie& cookie : cookies) all.push_back(&cookie);
  }
  std::sort(all.begin(), all.end(),
            [](const TCookie* a, const TCookie* b) { return IsOlder(*a, *b); });
  out << "# Netscape HTTP Cookie File\n"
         "# Written by Tirasel: domain, subdomains, path, secure, expiry, name, value.\n\n";
  for (const TCookie* cookie : all) {
    if (cookie->HttpOnly) out << kHttpOnlyPrefix;
    out << (cookie->HostOnly ? "" : ".") << cookie->Domain << '\t'
        << (cookie->HostOnly ? "FALSE" : "TRUE") << '\t' << cookie->Path << '\t'
        << (cookie->Secure ? "TRUE" : "FALSE") << '\t' << (cookie->Persistent ? cookie->Expiry : 0)
        << '\t' << cookie->Name << '\t' << cookie->Value << '\n';
  }
}
