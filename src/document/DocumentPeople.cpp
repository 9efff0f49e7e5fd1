#include "DocumentPeople.h"

#include <algorithm>
#include <array>
#include <string>

#include "AsciiCase.h"
#include "DocumentBuilder.h"

namespace {

// Programs and the words of their names that no person's name is made of.
constexpr std::array<std::string_view, 38> kSoftwareWords = {
    "acrobat",    "adobe",     "apache",     "calc",       "chrome",    "chromium",
    "converter",  "distiller", "docs",       "excel",      "framemaker", "ghostscript",
    "illustrator", "impress",  "indesign",   "latex",      "libreoffice", "mac",
    "microsoft",  "office",    "openoffice", "pages",      "photoshop", "powerpoint",
    "printer",    "quark",     "quartz",     "reportlab",  "scribus",   "skia",
    "tex",        "version",   "windows",    "word",       "writer",    "xetex",
    "luatex",     "google",
};

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSoftwareWord(std::string_view word) {
  const std::string lower = LowerAscii(word);
  return lower.find("pdf") != std::string::npos ||
         std::find(kSoftwareWords.begin(), kSoftwareWords.end(), lower) != kSoftwareWords.end();
}

bool HasSoftwareWord(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    while (start < text.size() && !IsAsciiLetter(text[start])) ++start;
    std::size_t end = start;
    while (end < text.size() && IsAsciiLetter(text[end])) ++end;
    if (end > start && IsSoftwareWord(text.substr(start, end - start))) return true;
    start = end;
  }
  return false;
}

}  // namespace

bool NamesSoftware(std::string_view creator, std::string_view producer) {
  creator = TrimmedWhitespace(creator);
  if (EqualIgnoringAsciiCase(creator, TrimmedWhitespace(producer))) return true;
  if (creator.find_first_of("0123456789") != std::string_view::npos) return true;
  return HasSoftwareWord(creator);
}
