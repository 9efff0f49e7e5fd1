// Pages of today's web for crawl tests: the same German text in UTF-8
// (declared in the header, in a meta tag of either form, by a byte-order
// mark, and undeclared), ISO-8859-1 and Windows-1252, and a page with
// characters outside Windows-1252. Also a fragment-heavy manual in the manner
// of generated documentation. Served by nginx.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "NginxServer.h"

namespace testsite {

// The German text in Windows-1252 bytes: "können", "Straße", "Bären",
// "übermäßig", typographic quotes and a euro sign.
inline const std::string kGermanCp1252 =
    "Wir k\xF6nnen die Stra\xDF"
    "e nicht \xFC"
    "berm\xE4\xDFig sperren, sagen die B\xE4ren \x84"
    "heute\x93 f\xFCr 5 \x80.";
// The same text in UTF-8.
inline const std::string kGermanUtf8 =
    "Wir k\xC3\xB6nnen die Stra\xC3\x9F"
    "e nicht \xC3\xBC"
    "berm\xC3\xA4\xC3\x9Fig sperren, sagen die "
    "B\xC3\xA4ren \xE2\x80\x9E"
    "heute\xE2\x80\x9C f\xC3\xBCr 5 \xE2\x82\xAC.";

// Russian "мир" (world) and Japanese "日本" in UTF-8, and as the crawl keeps them.
inline const std::string kForeignUtf8 = "\xD0\xBC\xD0\xB8\xD1\x80 \xE6\x97\xA5\xE6\x9C\xAC";
inline const std::string kForeignCp1252 = "&#1084;&#1080;&#1088; &#26085;&#26412;";

inline std::string GermanPage(const std::string& head, const std::string& text) {
  return head + "<html><head><title>Seite</title></head><body><p>" + text + "</p></body></html>";
}

// Path, body and the charset nginx declares (empty: none) of each page.
struct TCharsetPage {
  std::string Path, Body, HeaderCharset;
};

inline std::vector<TCharsetPage> CharsetPages() {
  return {
      {"/kopf.html", GermanPage("", kGermanUtf8), "utf-8"},
      {"/meta.html", GermanPage("<meta charset=\"UTF-8\">", kGermanUtf8), ""},
      {"/equiv.html",
       GermanPage("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">",
                  kGermanUtf8),
       ""},
      {"/bom.html", "\xEF\xBB\xBF" + GermanPage("", kGermanUtf8), ""},
      {"/roh.html", GermanPage("", kGermanUtf8), ""},
      {"/latin1.html", GermanPage("", kGermanCp1252), "iso-8859-1"},
      {"/cp1252.html", GermanPage("<meta charset=windows-1252>", kGermanCp1252), ""},
      {"/ohne.html", GermanPage("", kGermanCp1252), ""},
      {"/fremd.html", GermanPage("<meta charset=utf-8>", kGermanUtf8 + " " + kForeignUtf8), ""},
  };
}

inline void ServeCharsetPages(testsupport::NginxServer& web) {
  for (const TCharsetPage& page : CharsetPages()) {
    web.AddFile(page.Path, page.Body);
    if (!page.HeaderCharset.empty()) web.AddCharset(page.Path, page.HeaderCharset);
  }
}

// A generated manual: every page links to itself and the others with
// fragments ("#", "#x", "page.html#x", "dir/#x"), to a page with a space and
// one with an umlaut in its name, and to "javascript:" and "mailto:". The
// keys are the documents, as nginx stores them (UTF-8 names).
inline std::map<std::string, std::string> FragmentManual() {
  const std::string links =
      "<a href=\"#\">oben</a> <a href=\"#abschnitt\">Abschnitt</a> <a "
      "href=\"index.html#top\">Start</a> "
      "<a href=\"kapitel.html#x\">Kapitel</a> <a href=\"kapitel.html#y\">Kapitel</a> "
      "<a href=\"teil/#z\">Teil</a> <a href=\"teil/#w\">Teil</a> "
      "<a href=\"mit leerzeichen.html#a\">Leer</a> <a href=\"m\xC3\xBCll.html\">M\xC3\xBCll</a> "
      "<a href=\"javascript:void(0)\">Skript</a> <a href=\"mailto:info@example.org\">Post</a>";
  auto page = [&](const std::string& word, const std::string& prefix) {
    std::string body = "<html><head><meta charset=utf-8></head><body><p>" + word + "</p>";
    // Links of a page in the subdirectory lead back up.
    std::string own = links;
    for (const char* target :
         {"index.html", "kapitel.html", "teil/", "mit leerzeichen", "m\xC3\xBCll"}) {
      for (size_t at = own.find(std::string("\"") + target); at != std::string::npos;
           at = own.find(std::string("\"") + target, at + prefix.size() + 2)) {
        own.insert(at + 1, prefix);
      }
    }
    return body + own + "</body></html>";
  };
  return {
      {"/handbuch/index.html", page("Anfang", "")},
      {"/handbuch/kapitel.html", page("Kapitel", "")},
      {"/handbuch/mit leerzeichen.html", page("Leerzeichen", "")},
      {"/handbuch/m\xC3\xBCll.html", page("M\xC3\xBCll", "")},
      {"/handbuch/teil/index.html", page("Teil", "../")},
  };
}

}  // namespace testsite
