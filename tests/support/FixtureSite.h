// The site the crawl tests run on, served by a loopback test server or by
// nginx: nested directories, "../" links, a foreign directory, a refresh,
// frames, links of every extension class, a self link, a link that differs
// only in case, and a missing page. Keys are paths without a query.
#pragma once

#include <map>
#include <string>

namespace testsite {

inline std::map<std::string, std::string> FixtureSite() {
  return {
      {"/a/index.html",
       "<html><head><title>Start</title><meta http-equiv=refresh content=\"0; "
       "url=refresh.html\"></head>"
       "<body><p>Hallo Welt,</p>\r\n<a href=\"index.html\">selbst</a> <a href=sub/page.htm>sub</a> "
       "<a href=\"../up.html\">hoch</a> <a href=\"/b/foreign.html\">fremd</a> <a "
       "href=logo.gif>bild</a> "
       "<a href=\"style.css\">css</a> <a href=\"missing.html\">weg</a> <a "
       "href=\"Index.html\">gross</a>"
       "<frameset><frame src=\"frame.php?x=1\"></frameset></body></html>"},
      {"/a/refresh.html", "<p>Erneuert</p>"},
      {"/a/sub/page.htm", "<p>Unterseite</p><a href=\"../index.html\">zur&uuml;ck</a>"},
      {"/up.html", "<p>Oben</p><a href=\"/b/other.html\">fremd2</a>"},
      {"/b/foreign.html", "<p>Ausland</p>"},
      {"/b/other.html", "<p>Anders</p>"},
      {"/a/frame.php", "<p>Rahmen</p>"},
      {"/a/Index.html", "<p>Gross</p>"},
      {"/a/logo.gif", "GIF89a"},
  };
}

// The pages a run in automatic mode fetches from the start page
// /a/index.html, in order, relative to the site's root.
inline const char* const kAutomaticOrder[] = {"a/index.html",    "a/refresh.html", "a/sub/page.htm",
                                              "up.html",         "a/missing.html", "a/Index.html",
                                              "a/frame.php?x=1", "b/other.html"};

}  // namespace testsite
