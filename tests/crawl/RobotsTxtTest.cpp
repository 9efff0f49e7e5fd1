#include "RobotsTxt.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

bool Allowed(std::string_view robots, std::string_view path, std::string_view token = "Tirasel") {
  return TRobotsRules::Parse(robots, token).Allowed(path);
}

bool DisallowRuleMatches(const std::string& pattern, std::string_view path) {
  return !Allowed("user-agent: *\ndisallow: " + pattern, path);
}

TEST(RobotsTxt, TheGroupsNamingTheAgentApplyOrElseThoseOfStar) {
  const std::string robots =
      "User-Agent: *\nDisallow: *.gif$\nDisallow: /example/\nAllow: /publications/\n\n"
      "User-Agent: foobot\nDisallow:/\nAllow:/example/page.html\nAllow:/example/allowed.gif\n\n"
      "User-Agent: barbot\nUser-Agent: bazbot\nDisallow: /example/page.html\n\n"
      "User-Agent: quxbot\n";
  EXPECT_TRUE(Allowed(robots, "/example/allowed.gif", "foobot"));
  EXPECT_FALSE(Allowed(robots, "/publications/", "foobot"));
  EXPECT_FALSE(Allowed(robots, "/example/page.html", "BAZBOT"));
  EXPECT_TRUE(Allowed(robots, "/a.gif", "barbot"));
  // A group that names the agent and has no rules allows everything.
  EXPECT_TRUE(Allowed(robots, "/example/a.gif", "quxbot"));
  EXPECT_FALSE(Allowed(robots, "/example/", "Tirasel"));
  EXPECT_FALSE(Allowed(robots, "/x.gif", "Tirasel"));
  EXPECT_TRUE(Allowed(robots, "/publications/", "Tirasel"));
  // Only the product token counts, on either side.
  EXPECT_FALSE(Allowed("user-agent: TIRASEL/2.0 (+http://h)\ndisallow: /", "/a", "tirasel/1.0"));
  EXPECT_TRUE(Allowed("user-agent: Tirasel-Extra\ndisallow: /", "/a"));
  // Groups of the same agent merge; rules before any user-agent line belong to none.
  const std::string merged =
      "disallow: /x\nuser-agent: Tirasel\ndisallow: /foo\n\n"
      "user-agent: other\ndisallow: /a\n# sitemap lines do not end a group\n"
      "sitemap: http://h/s.xml\nuser-agent: tirasel\ndisallow: /baz\n";
  EXPECT_FALSE(Allowed(merged, "/foo"));
  EXPECT_FALSE(Allowed(merged, "/baz"));
  EXPECT_TRUE(Allowed(merged, "/a"));
  EXPECT_TRUE(Allowed(merged, "/x"));
  EXPECT_TRUE(Allowed("", "/a"));
  EXPECT_TRUE(Allowed("user-agent: *\ndisallow:\n", "/a"));
}

TEST(RobotsTxt, StarMatchesAnyRunAndDollarTheEnd) {
  for (const char* path : {"/fish", "/fish.html", "/fish/salmon.html", "/fish.php?id=x"}) {
    EXPECT_TRUE(DisallowRuleMatches("/fish", path)) << path;
    EXPECT_TRUE(DisallowRuleMatches("/fish*", path)) << path;
  }
  for (const char* path : {"/Fish.asp", "/catfish", "/?id=fish"}) {
    EXPECT_FALSE(DisallowRuleMatches("/fish", path)) << path;
  }
  for (const char* path : {"/index.php", "/a/b.php?x", "/a.php.file.html", "/b.php/"}) {
    EXPECT_TRUE(DisallowRuleMatches("/*.php", path)) << path;
  }
  EXPECT_FALSE(DisallowRuleMatches("/*.php", "/windows.PHP"));
  EXPECT_TRUE(DisallowRuleMatches("/*.php$", "/folder/filename.php"));
  for (const char* path : {"/b.php?x", "/b.php/", "/b.php5"}) {
    EXPECT_FALSE(DisallowRuleMatches("/*.php$", path)) << path;
  }
  EXPECT_TRUE(DisallowRuleMatches("/fish*.php", "/fishheads/catfish.php?p"));
  EXPECT_TRUE(DisallowRuleMatches("/$", "/"));
  EXPECT_FALSE(DisallowRuleMatches("/$", "/a"));
  // A "$" before the end is an ordinary octet.
  EXPECT_TRUE(DisallowRuleMatches("/a$b", "/a$b"));
}

TEST(RobotsTxt, TheLongestPatternDecidesAndAllowWinsATie) {
  EXPECT_TRUE(Allowed("user-agent: *\nallow: /p\ndisallow: /", "/page"));
  EXPECT_TRUE(Allowed("user-agent: *\ndisallow: /folder\nallow: /folder", "/folder/a"));
  EXPECT_FALSE(Allowed("user-agent: *\nallow: /page\ndisallow: /*.htm", "/page.htm"));
  EXPECT_TRUE(Allowed("user-agent: *\nallow: /$\ndisallow: /", "/"));
  EXPECT_FALSE(Allowed("user-agent: *\nallow: /$\ndisallow: /", "/page"));
  // Octets of the pattern as compared: "/ä" written raw is as long as encoded.
  EXPECT_TRUE(Allowed("user-agent: *\ndisallow: /%C3%A4\nallow: /\xC3\xA4", "/%c3%a4"));
}

TEST(RobotsTxt, PathsAndPatternsArePercentEncodedAlike) {
  EXPECT_TRUE(DisallowRuleMatches("/foo/bar/\xE3\x83\x84", "/foo/bar/%E3%83%84"));
  EXPECT_TRUE(DisallowRuleMatches("/foo/bar/%e3%83%84", "/foo/bar/%E3%83%84"));
  // Unreserved characters are the same encoded or not; reserved ones are not.
  EXPECT_TRUE(DisallowRuleMatches("/foo/bar/%62%61%7A", "/foo/bar/baz"));
  EXPECT_TRUE(DisallowRuleMatches("/~jo", "/%7ejo"));
  EXPECT_FALSE(DisallowRuleMatches("/a%2Fb", "/a/b"));
  // "%2A" is a star in the path, not a wildcard.
  EXPECT_FALSE(DisallowRuleMatches("/a%2A", "/ab"));
}

TEST(RobotsTxt, LinesMayEndInAnyWayAndCarryCommentsAndSpace) {
  const std::string lines[] = {"User-agent: *", "  DISALLOW :  /a # not /b", "Crawl-delay: 5",
                               "Disallow /c", "disallow: /d"};
  for (const char* end : {"\n", "\r\n", "\r"}) {
    std::string robots = "\xEF\xBB\xBF";
    for (const std::string& line : lines) robots += line + end;
    EXPECT_FALSE(Allowed(robots, "/a")) << end;
    EXPECT_TRUE(Allowed(robots, "/b")) << end;
    // A line without a colon is not read.
    EXPECT_TRUE(Allowed(robots, "/c")) << end;
    EXPECT_FALSE(Allowed(robots, "/d")) << end;
  }
}

TEST(RobotsTxt, OnlyTheFirst500KiBAreRead) {
  std::string robots = "user-agent: *\ndisallow: /early\n";
  while (robots.size() < kMaxRobotsTxtBytes - 20) robots += "# filler filler filler\n";
  robots.resize(kMaxRobotsTxtBytes - 15, '#');
  // The limit cuts this line after "/abc": a shorter pattern would disallow more.
  robots += "\ndisallow: /abcdef\ndisallow: /late\nsitemap: http://h/late.xml\n";
  while (robots.size() < 10'000'000) robots += "disallow: /late\n";
  const TRobotsRules rules = TRobotsRules::Parse(robots, "Tirasel");
  EXPECT_FALSE(rules.Allowed("/early"));
  EXPECT_TRUE(rules.Allowed("/abcx"));
  EXPECT_TRUE(rules.Allowed("/late"));
  EXPECT_TRUE(rules.Sitemaps.empty());
}

// The obvious table of which pattern prefix matches which path prefix.
bool SlowMatch(std::string pattern, std::string_view path) {
  const bool anchored = pattern.ends_with('$');
  if (anchored) pattern.pop_back();
  std::vector<std::vector<bool>> match(pattern.size() + 1,
                                       std::vector<bool>(path.size() + 1, false));
  match[0][0] = true;
  for (std::size_t i = 1; i <= pattern.size(); ++i) {
    for (std::size_t j = 0; j <= path.size(); ++j) {
      match[i][j] = pattern[i - 1] == '*'
                        ? match[i - 1][j] || (j > 0 && match[i][j - 1])
                        : j > 0 && match[i - 1][j - 1] && pattern[i - 1] == path[j - 1];
    }
  }
  if (anchored) return match[pattern.size()][path.size()];
  for (bool matches : match[pattern.size()]) {
    if (matches) return true;
  }
  return false;
}

TEST(RobotsTxt, MatchingAgreesWithTheSlowTableAndNeverGoesBack) {
  std::mt19937 random(9309);
  auto text = [&](const char* alphabet, std::size_t size, std::size_t maxLength) {
    std::string out = "/";
    for (std::size_t n = random() % maxLength; n > 0; --n) out += alphabet[random() % size];
    return out;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string pattern = text("ab/**", 5, 8);
    if (round % 3 == 0) pattern += '$';
    const std::string path = text("ab/", 3, 10);
    ASSERT_EQ(DisallowRuleMatches(pattern, path), SlowMatch(pattern, path))
        << pattern << " " << path;
  }
  // Trying each way of sharing the path among 1000 stars would never end.
  std::string stars = "/";
  for (int i = 0; i < 1000; ++i) stars += "*a";
  const std::string path = "/" + std::string(100000, 'a');
  EXPECT_FALSE(DisallowRuleMatches(stars + "*b", path));
  EXPECT_FALSE(DisallowRuleMatches(stars + "b$", path));
  EXPECT_TRUE(DisallowRuleMatches(stars + "$", path));
}

TEST(RobotsTxt, SitemapsAreListedOnceInFileOrder) {
  const TRobotsRules rules = TRobotsRules::Parse(
      "Sitemap: http://h/a.xml\nuser-agent: x\ndisallow: /\nsitemap:http://h/b.xml # b\n"
      "SITEMAP: http://h/a.xml\nsitemap:\n",
      "Tirasel");
  EXPECT_EQ(rules.Sitemaps, (std::vector<std::string>{"http://h/a.xml", "http://h/b.xml"}));
}

TEST(RobotsTxt, RobotsTxtItselfIsAlwaysAllowed) {
  EXPECT_TRUE(Allowed("user-agent: *\ndisallow: /robots.txt\n", "/robots.txt"));
  const TRobotsRules none = TRobotsRules::DisallowAll();
  EXPECT_TRUE(none.Allowed("/robots.txt"));
  EXPECT_FALSE(none.Allowed("/"));
  EXPECT_FALSE(none.Allowed(""));
  EXPECT_TRUE(TRobotsRules::AllowAll().Allowed("/a"));
}

}  // namespace
