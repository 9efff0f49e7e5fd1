// Generated pages shared by the benchmarks: realistic markup of a chosen
// size and a site of linked pages, built from fixed seeds so every run sees
// the same bytes.
#pragma once

#include <cctype>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

// A vocabulary of about 20,000 words made of German-looking syllables, some
// written with references, used with a skewed (Zipf-like) frequency.
inline std::vector<std::string> Vocabulary(std::mt19937& random) {
  static const char* syllables[] = {
      "haus", "gar", "ten", "welt", "stra",     "&szlig;e", "m&uuml;l", "ler",     "&auml;p", "fel",
      "be",   "ge",  "ver", "ung",  "keit",     "lich",     "sch",      "&ouml;n", "ein",     "der",
      "die",  "und", "ist", "mit",  "f&uuml;r", "wer",      "den",      "sam",     "an",      "ab"};
  std::vector<std::string> words = {"und", "die", "der", "das", "ist",
                                    "ein", "zu",  "mit", "the", "of"};
  while (words.size() < 20000) {
    std::string word;
    int count = 1 + random() % 4;
    for (int i = 0; i < count; ++i) word += syllables[random() % std::size(syllables)];
    if (random() % 5 == 0)
      word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    if (random() % 9 == 0) word += random() % 2 ? "," : ".";
    words.push_back(word);
  }
  return words;
}

// About `size` bytes of varied markup: headings, paragraphs, links, tables, images,
// entities, a script and a style block.
inline std::string RealisticPage(size_t size) {
  std::mt19937 random(42);
  const std::vector<std::string> vocabulary = Vocabulary(random);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  auto word = [&] {
    // Zipf-like: low indexes are far more frequent.
    double u = uniform(random);
    return vocabulary[static_cast<size_t>(std::pow(static_cast<double>(vocabulary.size()), u)) - 1];
  };
  std::string page =
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\r\n<html><head>\r\n"
      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
      "<title>Beispiel</title>\r\n<style type=\"text/css\">\r\nbody { margin: 0; }\r\n</style>\r\n"
      "<script language=\"JavaScript\">\r\nfunction f(a, b) { return a < b; }\r\n</script>\r\n"
      "</head><body bgcolor=\"#ffffff\">\r\n";
  int n = 0;
  while (page.size() < size) {
    switch (random() % 6) {
      case 0:
        page += "<h2>" + word() + " " + word() + "</h2>\r\n";
        break;
      case 1:
      case 5: {
        page += "<p class=\"text\">";
        int count = 10 + random() % 60;
        for (int i = 0; i < count; ++i) {
          if (random() % 15 == 0) {
            page += "<b>" + word() + "</b> ";
            continue;
          }
          page += word();
          page += (i % 13 == 12) ? "\r\n" : " ";
        }
        page += "</p>\r\n";
        break;
      }
      case 2:
        page += "<a href=\"seite" + std::to_string(n++) + ".html\" title=\"" + word() + "\">" +
                word() + "</a> | ";
        break;
      case 3:
        page += "<table border=0 cellpadding=2><tr><td width=\"50%\">" + word() + "</td><td>" +
                word() + "&nbsp;" + word() + "</td></tr></table>\r\n";
        break;
      case 4:
        page += "<div class=\"bild\"><img src=\"bild" + std::to_string(n++) + ".gif\" alt=\"" +
                word() + "\" width=\"120\" height=\"80\"></div><br>\r\n";
        break;
    }
  }
  page += "</body></html>\r\n";
  return page;
}

// A site of `pages` linked pages of about 300 words, all reachable from
// /index.html and all below its directory, so a crawl follows every one
// without a question. Page n: the start page in the root, the others in ten
// directories (or all in the root when flat). Links: the children
// n*10+1.., the parent and ten random pages, written relative to the page
// ("../" where needed). Keys are the URL paths.
inline std::string LinkedSitePath(int page, bool flat) {
  if (page == 0) return "/index.html";
  const std::string file = "p" + std::to_string(page) + ".html";
  return flat ? "/" + file : "/s" + std::to_string(page % 10) + "/" + file;
}

inline std::string LinkedSiteLink(int from, int to, bool flat) {
  const std::string path = LinkedSitePath(to, flat);
  if (flat || from == 0) return path.substr(1);
  return "../" + path.substr(1);
}

inline std::map<std::string, std::string> LinkedSite(int pages, bool flat) {
  constexpr int kFanOut = 10;
  constexpr int kRandomLinks = 10;
  std::mt19937 random(7);
  const std::vector<std::string> vocabulary = Vocabulary(random);
  std::map<std::string, std::string> site;
  for (int page = 0; page < pages; ++page) {
    std::string body =
        "<html><head><title>Seite " + std::to_string(page) + "</title></head><body>\n<p>";
    for (int w = 0; w < 300; ++w) body += vocabulary[random() % 2000] + (w % 15 == 14 ? "\n" : " ");
    body += "</p>\n<ul>\n";
    std::vector<int> targets;
    for (int child = page * kFanOut + 1; child <= page * kFanOut + kFanOut && child < pages;
         ++child) {
      targets.push_back(child);
    }
    if (page > 0) targets.push_back((page - 1) / kFanOut);
    for (int r = 0; r < kRandomLinks; ++r) targets.push_back(static_cast<int>(random() % pages));
    for (int target : targets) {
      body += "<li><a href=\"" + LinkedSiteLink(page, target, flat) + "\">" +
              vocabulary[random() % 500] + "</a></li>\n";
    }
    site[LinkedSitePath(page, flat)] = body + "</ul>\n</body></html>\n";
  }
  return site;
}
