// The files a site keeps for crawlers: the rules of its /robots.txt and the
// addresses its sitemaps list. Each is fetched outside the page queue, on
// the run's thread, with a client of the run's settings, once per host
// (scheme, host and port), when the run first needs it; the fetch processes
// messages until it has ended, as a page's fetch does.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HttpSettings.h"
#include "RobotsTxt.h"

// The product token robots.txt groups name this crawler by.
inline constexpr char kRobotsProductToken[] = "Tirasel";

class TSiteFiles {
 public:
  // `settings` and `proxy` (read anew for every fetch) must outlive this.
  TSiteFiles(const THttpSettings& settings, std::function<std::string()> proxy);

  // Whether the address's robots.txt lets the crawler fetch it. A file
  // that is missing (a status of 400 to 499) allows everything; a server
  // that fails (500 or more) or cannot be reached allows nothing but the
  // file itself, as RFC 9309 says.
  bool RobotsAllow(const std::string& address);

  // The page addresses the sitemaps of the address's host list, in their
  // order: /sitemap.xml's, then those of each Sitemap line of robots.txt.
  // A sitemap index's sitemaps are read in turn (not an index in one);
  // each sitemap once, at most kMaxSitemaps of them.
  std::vector<std::string> SitemapAddresses(const std::string& address);

  // Ends the fetch in work when it has shown no progress for timeoutMs;
  // Stop ends it at once, and every later one before it begins.
  void AbortStalled(int timeoutMs);
  void Stop();

  static constexpr size_t kMaxSitemaps = 100;

 private:
  struct TFile {
    int status = 0;
    std::uint16_t error = 0;
    std::string body;
  };
  TFile Fetch(const std::string& url, std::int64_t limit);
  const TRobotsRules& RulesOf(const std::string& origin);
  void ReadSitemap(const std::string& url, bool index, std::vector<std::string>& addresses,
                   std::vector<std::string>& seen);

  const THttpSettings& settings_;
  std::function<std::string()> proxy_;
  std::map<std::string, TRobotsRules> rules_;  // by origin
  std::map<std::string, std::vector<std::string>> sitemapLines_;  // by origin
  THttpCli* fetching_ = nullptr;
  std::uint32_t lastProgress_ = 0;
  std::int64_t lastBytes_ = -1;
  int lastState_ = -1;
  bool stopped_ = false;
};
