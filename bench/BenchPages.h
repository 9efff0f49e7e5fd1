// Generated pages shared by the benchmarks: realistic markup of a chosen
// size, built from a fixed seed so every run sees the same bytes.
#pragma once

#include <cctype>
#include <cmath>
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
