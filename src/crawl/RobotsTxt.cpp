#include "RobotsTxt.h"

#include <unordered_set>

#include "AsciiCase.h"
#include "ByteScan.h"
#include "HeaderLines.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The product token at the start of a user-agent value: "Tirasel" of
// "Tirasel/1.0 (+http://...)".
std::string_view ProductToken(std::string_view value) {
  std::size_t length = 0;
  while (length < value.size() &&
         (IsAsciiLetter(value[length]) || value[length] == '_' || value[length] == '-')) {
    ++length;
  }
  return value.substr(0, length);
}

bool IsStarAgent(std::string_view value) {
  return value.starts_with('*') && (value.size() == 1 || value[1] == ' ' || value[1] == '\t');
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsUnreserved(unsigned char c) {
  return IsAsciiLetter(static_cast<char>(c)) || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

// Bytes a request line cannot carry as they are (RequestTargetOf encodes them).
bool NeedsPercent(unsigned char c) {
  return c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>';
}

void AppendPercentEncoded(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// A path or pattern written as the two are compared (see the header).
std::string ComparedForm(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      const auto value =
          static_cast<unsigned char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
      if (IsUnreserved(value)) {
        out += static_cast<char>(value);
      } else {
        AppendPercentEncoded(out, value);
      }
      i += 2;
    } else if (NeedsPercent(c)) {
      AppendPercentEncoded(out, c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The part of the file that is read: at most kMaxRobotsTxtBytes, without a
// line the limit cuts (a shortened path would be another rule).
std::string_view ReadPart(std::string_view text) {
  if (text.size() > kMaxRobotsTxtBytes) {
    const char next = text[kMaxRobotsTxtBytes];
    text = text.substr(0, kMaxRobotsTxtBytes);
    if (next != '\r' && next != '\n') {
      const std::size_t lastEnd = text.find_last_of("\r\n");
      text = lastEnd == text.npos ? std::string_view() : text.substr(0, lastEnd + 1);
    }
  }
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  return text;
}

}  // namespace

// Reads the file line by line and keeps the rules of the groups that name
// us and of those that name "*"; which of the two apply is known at the end.
class TRobotsRules::TParser {
 public:
  explicit TParser(std::string_view productToken) : token_(ProductToken(productToken)) {}

  void ReadLine(std::string_view line) {
    std::string_view key;
    std::string_view value;
    if (!SplitField(line.substr(0, line.find('#')), key, value)) return;
    if (EqualIgnoringAsciiCase(key, "user-agent")) {
      SeeUserAgent(value);
    } else if (EqualIgnoringAsciiCase(key, "allow")) {
      SeeRule(value, true);
    } else if (EqualIgnoringAsciiCase(key, "disallow")) {
      SeeRule(value, false);
    } else if (EqualIgnoringAsciiCase(key, "sitemap")) {
      SeeSitemap(value);
    }
  }

  TRobotsRules Result() {
    TRobotsRules rules;
    rules.rules_ = std::move(namedUs_ ? ours_ : star_);
    rules.Sitemaps = std::move(sitemaps_);
    return rules;
  }

 private:
  void SeeUserAgent(std::string_view value) {
    // A user-agent line after rules opens the next group.
    if (!readingAgents_) groupIsOurs_ = groupIsStar_ = false;
    readingAgents_ = true;
    if (IsStarAgent(value)) {
      groupIsStar_ = true;
    } else {
      const std::string_view agent = ProductToken(value);
      if (!agent.empty() && EqualIgnoringAsciiCase(agent, token_)) groupIsOurs_ = namedUs_ = true;
    }
  }

  void SeeRule(std::string_view value, bool allow) {
    readingAgents_ = false;
    // An empty pattern matches nothing: "Disallow:" disallows nothing.
    if (value.empty() || (!groupIsOurs_ && !groupIsStar_)) return;
    const bool anchored = value.ends_with('$');
    if (anchored) value.remove_suffix(1);
    TRule rule{ComparedForm(value), anchored, 0, allow};
    rule.length = rule.pattern.size() + (anchored ? 1 : 0);
    if (groupIsOurs_) ours_.push_back(rule);
    if (groupIsStar_) star_.push_back(std::move(rule));
  }

  void SeeSitemap(std::string_view value) {
    if (!value.empty() && sitemapsSeen_.insert(value).second) sitemaps_.emplace_back(value);
  }

  std::string_view token_;
  bool readingAgents_ = false;  // the last record was a user-agent line
  bool groupIsOurs_ = false;
  bool groupIsStar_ = false;
  bool namedUs_ = false;  // some group names us, even one without rules
  std::vector<TRule> ours_;
  std::vector<TRule> star_;
  std::vector<std::string> sitemaps_;
  std::unordered_set<std::string_view> sitemapsSeen_;  // views into the file
};

TRobotsRules TRobotsRules::Parse(std::string_view text, std::string_view productToken) {
  text = ReadPart(text);
  TParser parser(productToken);
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* lineEnd = FindFirstOf<'\r', '\n'>(p, end);
    parser.ReadLine({p, static_cast<std::size_t>(lineEnd - p)});
    if (lineEnd == end) break;
    p = lineEnd + 1;
  }
  return parser.Result();
}

TRobotsRules TRobotsRules::AllowAll() { return {}; }

TRobotsRules TRobotsRules::DisallowAll() {
  TRobotsRules rules;
  rules.rules_.push_back({"/", false, 1, false});
  return rules;
}

bool TRobotsRules::Allowed(std::string_view pathAndQuery) const {
  if (rules_.empty()) return true;
  const std::string path = ComparedForm(pathAndQuery.empty() ? "/" : pathAndQuery);
  if (path == "/robots.txt") return true;
  const TRule* decisive = nullptr;
  for (const TRule& rule : rules_) {
    const bool wouldWin = !decisive || rule.length > decisive->length ||
                          (rule.length == decisive->length && rule.allow && !decisive->allow);
    if (wouldWin && Matches(rule, path)) decisive = &rule;
  }
  return !decisive || decisive->allow;
}

// Matches without going back: the part before the first "*" must start the
// path, and (when anchored) the part after the last "*" must end it; each
// part between is taken where it first occurs after the one before. Taking
// the first occurrence never loses a match that a later one would give, so
// the work is at most the pattern's length times the path's.
bool TRobotsRules::Matches(const TRule& rule, std::string_view path) {
  std::string_view pattern = rule.pattern;
  const std::size_t firstStar = pattern.find('*');
  if (firstStar == pattern.npos) return rule.anchored ? path == pattern : path.starts_with(pattern);
  if (!path.starts_with(pattern.substr(0, firstStar))) return false;
  std::size_t at = firstStar;
  const std::size_t lastStar = pattern.rfind('*');
  const std::string_view last = pattern.substr(lastStar + 1);
  std::string_view middle = pattern.substr(firstStar + 1, lastStar - firstStar);
  if (rule.anchored) {
    if (path.size() - at < last.size() || !path.ends_with(last)) return false;
    path.remove_suffix(last.size());
  }
  while (!middle.empty()) {
    const std::size_t star = middle.find('*');
    const std::string_view part = middle.substr(0, star);
    middle.remove_prefix(star + 1);  // the middle always ends with the last "*"
    if (part.empty()) continue;
    const std::size_t found = path.find(part, at);
    if (found == path.npos) return false;
    at = found + part.size();
  }
  return rule.anchored || path.find(last, at) != path.npos;
}
