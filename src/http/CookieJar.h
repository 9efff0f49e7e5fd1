// The cookies of one crawl run: what Set-Cookie headers store and the
// Cookie header each request sends, after RFC 6265 and the rules browsers
// added since (a Secure cookie only from https, the __Secure- and __Host-
// name prefixes, a plain-http cookie cannot shadow a Secure one). Loads and
// saves the Netscape cookies.txt format of curl -b/-c and browser exports.
//
// Times are Unix seconds given by the caller, so that a run (and a test)
// decides what "now" is. Hosts are the request's host as in the address
// (any case); a cookie's domain is kept in lower case.
//
// A hostile server cannot fill memory: a cookie's name and value together
// take at most kMaxCookieBytes, a domain holds at most kMaxCookiesPerDomain
// and the jar kMaxCookies; past a limit the expired cookies go first, then
// the oldest. A name, value, domain or path with a control byte (CR, LF,
// NUL, TAB...) is refused, so that nothing stored can break the request
// head or a cookies.txt line.
//
// Single-threaded: one jar belongs to one run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t kMaxCookieBytes = 4096;
inline constexpr std::size_t kMaxCookiesPerDomain = 50;
inline constexpr std::size_t kMaxCookies = 3000;

class TCookieJar {
 public:
  // One Set-Cookie header value received for a request to (https, host,
  // requestPath; a query or fragment on the path is ignored) at time now.
  // A cookie the rules refuse is dropped without a word, as browsers do; one
  // whose expiry is not after now deletes the stored cookie of its name,
  // domain and path. A cookie replacing another keeps its creation time.
  void Store(bool https, std::string_view host, std::string_view requestPath,
             std::string_view setCookieValue, std::int64_t now);

  // The Cookie header value for a request ("a=1; b=2"), empty when no cookie
  // applies: longer paths first, then the earlier created. Secure cookies go
  // only over https, expired ones never; a nameless cookie goes as its value.
  std::string HeaderFor(bool https, std::string_view host, std::string_view path,
                        std::int64_t now) const;

  // Reads a cookies.txt file into the jar (replacing cookies of the same
  // name, domain and path), under the jar's limits and rules: a line with a
  // wrong number of fields, a bad flag or number, a control byte, or a domain
  // that is a public suffix is skipped. False when any line was skipped or
  // reading failed, with error naming how many lines and the first one; the
  // good lines are loaded all the same. A line over about 6 KiB counts as
  // bad; past 64 MiB the file is not read on (also reported). Expired cookies
  // are kept: the file says nothing of now. Loaded cookies count as older
  // than any the run receives, in the order of the file.
  bool Load(std::istream& in, std::string& error);
  // Writes every cookie in cookies.txt form under curl's header comment,
  // oldest first; a session cookie with expiry 0, an HttpOnly one with the
  // domain prefixed "#HttpOnly_". Load reads it back to the same cookies in
  // the same order.
  void Save(std::ostream& out) const;

  // Drops the cookies whose expiry is not after now.
  void RemoveExpired(std::int64_t now);
  std::size_t Size() const { return count_; }

 private:
  struct TCookie {
    std::string Name, Value, Domain, Path;
    std::int64_t Expiry = 0;  // Unix seconds; meaningful when Persistent
    std::int64_t Creation = 0;
    std::uint64_t Order = 0;  // tells apart cookies created in the same second
    bool Persistent = false, HostOnly = true, Secure = false, HttpOnly = false;
  };
  using TCookies = std::vector<TCookie>;

  static bool IsExpired(const TCookie& cookie, std::int64_t now);
  static bool IsOlder(const TCookie& a, const TCookie& b);
  // The cookie a Set-Cookie value makes, or nullopt when the rules refuse it.
  static std::optional<TCookie> Received(bool https, std::string_view host,
                                         std::string_view requestPath,
                                         std::string_view setCookieValue, std::int64_t now);
  bool ShadowsSecureCookie(const TCookie& cookie) const;
  void Insert(TCookie cookie, bool expired, std::int64_t now);
  void MakeRoomIn(TCookies& domain, std::int64_t now);
  void MakeRoom(std::int64_t now);
  bool LoadLine(std::string_view line);

  std::map<std::string, TCookies, std::less<>> domains_;  // by cookie domain
  std::size_t count_ = 0;
  std::uint64_t nextOrder_ = 0;
};
