#include "HeaderLines.h"

#include <cstring>

bool TakeLine(std::string_view& text, std::string_view& line) {
  std::size_t lf = text.find('\n');
  if (lf == std::string_view::npos) return false;
  std::size_t end = lf > 0 && text[lf - 1] == '\r' ? lf - 1 : lf;
  line = text.substr(0, end);
  text.remove_prefix(lf + 1);
  return true;
}

std::size_t HeaderEnd(std::string_view text, std::size_t from) {
  // A blank line is LF followed by LF or by CR LF; the LF may be the last
  // byte searched before, so step back over it.
  std::size_t at = from >= 2 ? from - 2 : 0;
  while (at < text.size()) {
    const void* lf = std::memchr(text.data() + at, '\n', text.size() - at);
    if (!lf) return std::string_view::npos;
    std::size_t i = static_cast<const char*>(lf) - text.data();
    if (i + 1 < text.size() && text[i + 1] == '\n') return i + 2;
    if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') return i + 3;
    at = i + 1;
  }
  return std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

bool SplitField(std::string_view line, std::string_view& name, std::string_view& value) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  name = TrimBlanks(line.substr(0, colon));
  value = TrimBlanks(line.substr(colon + 1));
  return true;
}
