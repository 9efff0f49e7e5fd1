// A generated site of German-looking pages for the crawl benchmarks: words
// drawn by Zipf's law from a fixed vocabulary of nouns, verbs and adjectives
// (umlauts written as references, as old German pages do), sentences and
// paragraphs of about kPageBytes per page, and kLinksPerPage links a page,
// spread over nested directories or all in one. Fixed seeds: every run serves
// the same bytes. Also what a benchmark reads of nginx's access log.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "NginxServer.h"
#include "SplitMix.h"
#include "TempDirectory.h"

namespace generatedsite {

using testsupport::NginxServer;

inline constexpr size_t kPageBytes = 10 * 1024;
inline constexpr int kLinksPerPage = 50;
inline constexpr size_t kVocabularySize = 30000;

using Random = testsupport::SplitMix64;

// ---- Pseudo-random German-looking text

// Umlauts as the references old German pages use; both crawlers decode them.
inline constexpr const char* kOnsets[] = {"b",    "br", "d",  "f",   "fl", "g",  "gr", "h", "k",   "kl",
                               "kr",   "l",  "m",  "n",   "p",  "pf", "r",  "s", "sch", "schl",
                               "schw", "sp", "st", "str", "t",  "tr", "w",  "z", "zw"};
inline constexpr const char* kNuclei[] = {"a",  "e",  "i", "o", "u",      "ei",     "au",
                               "ie", "eu", "a", "e", "&auml;", "&ouml;", "&uuml;"};
inline constexpr const char* kCodas[] = {"",   "",   "n",  "r",  "l",  "s",  "t",  "ch", "ck",      "ng",
                              "nd", "rt", "ft", "st", "tz", "ss", "ll", "rn", "&szlig;", "mm"};
inline constexpr const char* kNounEndings[] = {"ung",  "heit", "keit", "schaft", "ling", "er",
                                    "chen", "nis",  "e",    "",       "",     ""};
inline constexpr const char* kVerbPrefixes[] = {"",    "",   "ver", "be",  "ge",  "ent", "er",
                                     "zer", "an", "auf", "aus", "ein", "vor"};
inline constexpr const char* kVerbEndings[] = {"en", "t", "te", "ten", "st", "e"};
inline constexpr const char* kAdjectiveEndings[] = {"ig", "lich", "isch", "bar", "sam", "los"};
inline constexpr const char* kInflections[] = {"", "e", "en", "er", "es"};

// The most frequent words of German text, most frequent first.
inline constexpr const char* kFunctionWords[] = {
    "der",   "die",   "und",   "in",        "den",   "von",    "zu",   "das",   "mit",
    "sich",  "des",   "auf",   "f&uuml;r",  "ist",   "im",     "dem",  "nicht", "ein",
    "eine",  "als",   "auch",  "es",        "an",    "werden", "aus",  "er",    "hat",
    "dass",  "sie",   "nach",  "wird",      "bei",   "einer",  "um",   "am",    "sind",
    "noch",  "wie",   "einem", "&uuml;ber", "einen", "so",     "zum",  "war",   "haben",
    "nur",   "oder",  "aber",  "vor",       "zur",   "bis",    "mehr", "durch", "man",
    "sowie", "seit",  "wurde", "ihre",      "unter", "wenn",   "sehr", "schon", "kann",
    "immer", "diese", "wir",   "ihr",       "gegen", "ohne",   "weil", "dort",  "hier"};

inline std::string Syllable(Random& random) {
  return std::string(random.Pick(kOnsets)) + random.Pick(kNuclei) + random.Pick(kCodas);
}

inline std::string Stem(Random& random) {
  std::string stem = Syllable(random);
  if (random.Below(3) != 0) stem += Syllable(random);
  return stem;
}

inline void Capitalize(std::string& word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z')
    word[0] = static_cast<char>(word[0] - 'a' + 'A');
}

// Nouns (often compounds), verbs and adjectives in the proportions of
// running text.
inline std::string NewContentWord(Random& random) {
  size_t kind = random.Below(10);
  if (kind < 5) {
    std::string noun = Stem(random);
    if (random.Below(3) == 0) noun += (random.Below(2) ? "s" : "") + Stem(random);
    noun += random.Pick(kNounEndings);
    Capitalize(noun);
    return noun;
  }
  if (kind < 8)
    return std::string(random.Pick(kVerbPrefixes)) + Stem(random) + random.Pick(kVerbEndings);
  return Stem(random) + random.Pick(kAdjectiveEndings) + random.Pick(kInflections);
}

// Distinct words in order of frequency, drawn by Zipf's law as words of
// natural language are.
class Vocabulary {
 public:
  explicit Vocabulary(size_t size) {
    std::unordered_set<std::string> seen;
    for (const char* word : kFunctionWords) Add(word, seen);
    Random random(42);
    for (size_t tries = 0; words_.size() < size && tries < 20 * size; ++tries)
      Add(NewContentWord(random), seen);
    double sum = 0;
    for (size_t rank = 0; rank < words_.size(); ++rank) {
      sum += 1.0 / std::pow(static_cast<double>(rank) + 2.7, 1.05);
      cumulative_.push_back(sum);
    }
  }

  const std::string& Draw(Random& random) const {
    double at = random.Unit() * cumulative_.back();
    auto it = std::upper_bound(cumulative_.begin(), cumulative_.end(), at);
    size_t rank = std::min(static_cast<size_t>(it - cumulative_.begin()), words_.size() - 1);
    return words_[rank];
  }

 private:
  void Add(std::string word, std::unordered_set<std::string>& seen) {
    if (seen.insert(word).second) words_.push_back(std::move(word));
  }

  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

inline const Vocabulary& SharedVocabulary() {
  static const Vocabulary vocabulary(kVocabularySize);
  return vocabulary;
}

inline std::string Sentence(Random& random) {
  std::string text;
  size_t count = 6 + random.Below(10);
  for (size_t i = 0; i < count; ++i) {
    std::string word = SharedVocabulary().Draw(random);
    if (i == 0) Capitalize(word);
    if (i > 0) text += ' ';
    text += word;
    if (i + 1 < count && random.Below(9) == 0) text += ',';
  }
  return text + (random.Below(12) == 0 ? "?" : ".");
}

inline std::string Words(Random& random, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    std::string word = SharedVocabulary().Draw(random);
    Capitalize(word);
    text += (i ? " " : "") + word;
  }
  return text;
}

// ---- The site

// Where page n lives, relative to the site's root: the start page in the
// root, the others spread over ten sections with four subsections each.
inline const std::vector<std::string>& Directories() {
  static const std::vector<std::string> dirs = [] {
    std::vector<std::string> list{""};
    char dir[16];
    for (int s = 0; s < 10; ++s) {
      std::snprintf(dir, sizeof dir, "s%d/", s);
      list.push_back(dir);
    }
    for (int s = 0; s < 10; ++s) {
      for (int k = 0; k < 4; ++k) {
        std::snprintf(dir, sizeof dir, "s%d/k%d/", s, k);
        list.push_back(dir);
      }
    }
    return list;
  }();
  return dirs;
}

inline std::string PageFile(int page) {
  if (page == 0) return "index.html";
  char name[32];
  std::snprintf(name, sizeof name, "p%05d.html", page);
  return name;
}

inline std::vector<std::string_view> Segments(std::string_view dir) {
  std::vector<std::string_view> parts;
  for (size_t slash; (slash = dir.find('/')) != std::string_view::npos;
       dir.remove_prefix(slash + 1)) {
    parts.push_back(dir.substr(0, slash));
  }
  return parts;
}

// The link as a page author writes it: up with "../" as far as needed, then
// down to the target.
inline std::string RelativeLink(const std::string& fromDir, const std::string& toDir,
                         const std::string& file) {
  auto from = Segments(fromDir);
  auto to = Segments(toDir);
  size_t common = 0;
  while (common < from.size() && common < to.size() && from[common] == to[common]) ++common;
  std::string link;
  for (size_t i = common; i < from.size(); ++i) link += "../";
  for (size_t i = common; i < to.size(); ++i) link += std::string(to[i]) + "/";
  return link + file;
}

struct SiteSpec {
  std::string root;  // URL path of the site's root, "/site/"
  int pages;
  std::uint64_t seed;
  int fanOut;  // children per page, see LinkTargets
  // All pages in the root directory. cewl requests "../" links unresolved
  // ("/s9/../s8/p.html"), so on a nested site it fetches each page under
  // many spellings.
  bool flat = false;

  std::string StartPath() const { return root + PageFile(0); }
  std::string PageDir(int page) const {
    return page == 0 || flat ? "" : Directories()[static_cast<size_t>(page) % Directories().size()];
  }
  std::string PagePath(int page) const { return root + PageDir(page) + PageFile(page); }
  // Link steps from the start page to the farthest page.
  int Depth() const {
    int depth = 0;
    for (long long reached = 1, level = 1; reached < pages && depth < 64; ++depth)
      reached += level *= fanOut;
    return depth;
  }
};

// Page n links to its children n*fanOut+1.. (so every page is reached
// within Depth() steps from the start page), to its parent, and to random
// pages of the site, up to kLinksPerPage links.
inline std::vector<int> LinkTargets(const SiteSpec& site, int page, Random& random) {
  std::vector<int> targets;
  for (int child = page * site.fanOut + 1;
       child <= page * site.fanOut + site.fanOut && child < site.pages; ++child) {
    targets.push_back(child);
  }
  if (page > 0) targets.push_back((page - 1) / site.fanOut);
  while (targets.size() < kLinksPerPage)
    targets.push_back(static_cast<int>(random.Below(static_cast<size_t>(site.pages))));
  return targets;
}

// Links relative to the page; every seventh of the random ones written from
// the server's root instead, which automatic mode does not follow.
inline std::string LinkList(const SiteSpec& site, int page, Random& random) {
  std::string list = "<ul class=\"nav\">\n";
  const size_t treeLinks = static_cast<size_t>(std::min(site.fanOut + 1, kLinksPerPage));
  std::vector<int> targets = LinkTargets(site, page, random);
  for (size_t i = 0; i < targets.size(); ++i) {
    int target = targets[i];
    std::string href =
        i >= treeLinks && i % 7 == 0
            ? site.PagePath(target)
            : RelativeLink(site.PageDir(page), site.PageDir(target), PageFile(target));
    list += "<li><a href=\"" + href + "\">" + Words(random, 1 + random.Below(3)) + "</a></li>\n";
  }
  return list + "</ul>\n";
}

inline std::string MakePage(const SiteSpec& site, int page) {
  Random random(site.seed * 1000003u + static_cast<std::uint64_t>(page));
  std::string title = Words(random, 2 + random.Below(3));
  std::string head =
      "<!DOCTYPE html>\n<html>\n<head>\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\n"
      "<title>" +
      title + "</title>\n</head>\n<body>\n<h1>" + title + "</h1>\n";
  std::string links = LinkList(site, page, random);
  const std::string tail = "</body>\n</html>\n";
  std::string body;
  while (head.size() + body.size() + links.size() + tail.size() < kPageBytes) {
    std::string paragraph = "<p>";
    for (size_t n = 3 + random.Below(5); n > 0; --n)
      paragraph += Sentence(random) + (n > 1 ? " " : "");
    body += paragraph + "</p>\n";
  }
  return head + body + links + tail;
}

inline void AddSite(NginxServer& web, const SiteSpec& site) {
  for (int page = 0; page < site.pages; ++page)
    web.AddFile(site.PagePath(page), MakePage(site, page));
}

// ---- The access log

// The access log's size now; PagesServedSince counts what comes after.
inline std::uintmax_t AccessLogMark(const NginxServer& web) {
  std::error_code ignored;
  return std::filesystem::file_size(web.AccessLog(), ignored);
}

// Distinct pages under `root` served with status 200 since `mark`.
inline size_t PagesServedSince(const NginxServer& web, std::uintmax_t mark,
                               const std::string& root) {
  std::string log = testsupport::ReadFile(web.AccessLog());
  std::unordered_set<std::string> pages;
  size_t at = std::min<size_t>(log.size(), mark);
  for (size_t end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string_view line(log.data() + at, end - at);
    size_t get = line.find("\"GET ");
    if (get == std::string_view::npos) continue;
    std::string_view rest = line.substr(get + 5);
    std::string_view path = rest.substr(0, rest.find(' '));
    size_t quote = rest.find("\" ");
    if (quote != std::string_view::npos && rest.substr(quote + 2, 4) == "200 " &&
        path.starts_with(root)) {
      pages.emplace(path);
    }
  }
  return pages.size();
}

inline size_t CountOf(std::string_view text, std::string_view what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string_view::npos;
       at = text.find(what, at + what.size()))
    ++count;
  return count;
}

}  // namespace generatedsite
