// The rules a site's /robots.txt sets for this crawler (RFC 9309), and the
// sitemaps it names.
//
// The file is a list of "key: value" lines (keys in any case, "#" starts a
// comment, CR, LF or CRLF ends a line, a UTF-8 byte-order mark is dropped,
// unknown keys are skipped). One or more user-agent lines open a group; the
// allow and disallow lines after them are the group's rules. The groups
// whose user agent is our product token (compared without case) are merged
// into one; when there is none, the groups of "*" are; when there is none
// either, everything is allowed. A group that names us and has no rules
// allows everything, whatever "*" says.
//
// Paths and patterns are compared as octets once both are written the same
// way: a byte outside printable ASCII (and space, '"', '<', '>') becomes
// "%XX", so that "/ä" in a UTF-8 file matches the "/%C3%A4" a browser sends;
// "%xx" of an unreserved character (letters, digits, "-._~") is that
// character, and every other "%xx" is written with capital hex digits, so
// that "/%7ejo" matches "/~jo" but "%2F" stays apart from "/".
//
// What the crawl does when the file cannot be had (RFC 9309, 2.3.1):
//   - a status of 400 to 499: AllowAll() (the site has no rules);
//   - a status of 500 to 599, or no answer at all (refused, timed out,
//     cut off): DisallowAll(), until a later fetch succeeds;
//   - redirections: at least five in a row are followed; after more the
//     file counts as not found (AllowAll()).
// Rules fetched once may be kept for 24 hours.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// How much of a robots.txt is read (the least RFC 9309 lets a crawler read);
// the rest is left out, and so is a line the limit cuts.
constexpr std::size_t kMaxRobotsTxtBytes = 500 * 1024;

class TRobotsRules {
 public:
  // The rules of `text` (the file's bytes) for the crawler whose product
  // token is `productToken`, e.g. "Tirasel"; of a token such as
  // "Tirasel/1.0" only the letters, '_' and '-' before the '/' count.
  static TRobotsRules Parse(std::string_view text, std::string_view productToken);
  // No rules: everything is allowed.
  static TRobotsRules AllowAll();
  // Every path is disallowed but "/robots.txt".
  static TRobotsRules DisallowAll();

  // Whether the crawler may fetch a path (with its query), as the request
  // line sends it (RequestTargetOf): starting with "/", non-ASCII bytes
  // percent-encoded. The rule with the longest pattern (counted in octets,
  // "*" and "$" included) that matches decides, an allow rule winning over a
  // disallow rule of the same length; no matching rule allows. A pattern
  // matches a path that starts with it; "*" stands for any run of octets,
  // and a "$" at the pattern's end for the end of the path. "/robots.txt"
  // is always allowed. Takes time in proportion to rules × path length.
  bool Allowed(std::string_view pathAndQuery) const;

  // The values of the file's sitemap lines, wherever they stand, in file
  // order, each once.
  std::vector<std::string> Sitemaps;

 private:
  struct TRule {
    std::string pattern;  // written as compared; without the end "$"
    bool anchored;        // the pattern ended with "$"
    std::size_t length;   // of the pattern as compared, "$" included
    bool allow;
  };

  class TParser;

  static bool Matches(const TRule& rule, std::string_view path);

  std::vector<TRule> rules_;
};
