// Random small web sites for comparing crawl runs: pages in nested
// directories with relative, "../", root and absolute links (with fragments,
// in other letter case, to missing pages), into foreign directories that a
// run in ask mode asks about, relocations (relative and absolute), failing
// answers, refreshes and frames. The same seed gives the same site. Pages
// are for ConcurrentSiteServer ("{ROOT}" is the server's root address).
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "SplitMix.h"

namespace testsite {

using SiteRandom = testsupport::SplitMix64;

struct RandomSite {
  std::map<std::string, std::string> pages;  // by path
  std::string start;                         // path of the start page
  std::deque<bool> answers;                  // for the questions of ask mode, in order
};

inline RandomSite MakeRandomSite(std::uint64_t seed, size_t pageCount = 40) {
  static const char* const kDirs[] = {"a/", "a/b/", "a/b/c/", "a/d/", "e/", "e/f/", ""};
  static const char* const kWords[] = {
      "Haus",  "Garten",    "Welt", "Stra&szlig;e", "M&uuml;ller", "Apfel",
      "Baum",  "gr&uuml;n", "und",  "die",          "Wald",        "Feld",
      "Stadt", "Fluss",     "Berg", "sch&ouml;n",   "&Auml;rger",  "Tal"};
  SiteRandom random(seed);
  std::vector<std::string> paths;  // "/" + dir + file, some never served (missing)
  for (size_t i = 0; i < pageCount; ++i) {
    paths.push_back("/" + std::string(kDirs[random.Below(std::size(kDirs))]) + "p" +
                    std::to_string(i) + ".html");
  }
  auto dirOf = [](const std::string& path) { return path.substr(0, path.rfind('/') + 1); };
  // The link to `target` as written on a page in `fromDir`.
  auto relative = [&](const std::string& fromDir, const std::string& target) {
    std::string from = fromDir, to = dirOf(target);
    size_t common = 0;
    for (size_t i = 0; i < from.size() && i < to.size() && from[i] == to[i]; ++i) {
      if (from[i] == '/') common = i + 1;
    }
    std::string link;
    for (size_t i = common; i < from.size(); ++i) {
      if (from[i] == '/') link += "../";
    }
    return link + target.substr(common);
  };

  RandomSite site;
  site.start = "/a/index.html";
  paths.insert(paths.begin(), site.start);
  for (size_t i = 0; i < paths.size(); ++i) {
    const std::string& path = paths[i];
    const std::string dir = dirOf(path);
    if (i > 0 && random.OneIn(10)) continue;  // missing: 404
    if (i > 0 && random.OneIn(8)) {
      const std::string& to = paths[random.Below(paths.size())];
      std::string location = random.OneIn(2) ? relative(dir, to) : "{ROOT}" + to.substr(1);
      site.pages[path] = "HTTP/1.0 " + std::string(random.OneIn(2) ? "301 Moved" : "302 Found") +
                         "\r\nLocation: " + location + "\r\n\r\n";
      continue;
    }
    if (i > 0 && random.OneIn(15)) {
      site.pages[path] = "HTTP/1.0 500 Kaputt\r\nContent-Type: text/html\r\n\r\n<p>Fehler</p>";
      continue;
    }
    std::string body =
        "<html><head><title>" + std::string(kWords[random.Below(std::size(kWords))]) + "</title>";
    if (random.OneIn(8)) {
      body += "<meta http-equiv=refresh content=\"0; url=" +
              relative(dir, paths[random.Below(paths.size())]) + "\">";
    }
    body += "</head><body><p>";
    for (size_t w = 3 + random.Below(6); w > 0; --w) {
      body += std::string(kWords[random.Below(std::size(kWords))]) + " ";
    }
    body += "Seite" + std::to_string(i) + "</p>\r\n";
    for (size_t l = 2 + random.Below(6); l > 0; --l) {
      const std::string& to = paths[random.Below(paths.size())];
      std::string href;
      switch (random.Below(8)) {
        case 0:  // from the root
          href = to;
          break;
        case 1:  // absolute
          href = "{ROOT}" + to.substr(1);
          break;
        case 2:  // with a fragment
          href = relative(dir, to) + "#oben";
          break;
        case 3:  // another letter case: ".Html" is another address, still a page
          href = relative(dir, to);
          href[href.size() - 4] = 'H';
          break;
        default:
          href = relative(dir, to);
          break;
      }
      body += "<a href=\"" + href + "\">" + kWords[random.Below(std::size(kWords))] + "</a>\r\n";
    }
    if (random.OneIn(10)) {
      body += "<frameset><frame src=\"" + relative(dir, paths[random.Below(paths.size())]) + "\">";
    }
    site.pages[path] = body + "</body></html>";
  }
  for (int i = 0; i < 200; ++i) site.answers.push_back(random.OneIn(2));
  return site;
}

}  // namespace testsite
