#include "LinkResolve.h"

#include "AsciiCase.h"

namespace {

// One "../" step on a directory: drop a trailing slash, then the last
// slash and what follows it, and end with a slash again.
void ParentStep(std::string& dir) {
  if (!dir.empty() && dir.back() == '/') dir.pop_back();
  size_t slash = dir.rfind('/');
  if (slash != std::string::npos) dir.resize(slash);
  EnsureSlash(dir);
}

TLinkParts ParentRule(std::string_view link, std::string_view base) {
  std::string dir(base);
  while (link.starts_with("../")) {
    link.remove_prefix(3);
    size_t before = dir.size();
    ParentStep(dir);
    // Once a step changes nothing, the remaining steps cannot either.
    if (dir.size() == before) {
      while (link.starts_with("../")) link.remove_prefix(3);
    }
  }
  return {dir, std::string(link)};
}

TLinkParts RootRule(std::string_view link, std::string_view base) {
  link.remove_prefix(1);
  std::string dir(base);
  size_t dot = dir.find('.');
  if (dot != std::string::npos) {
    size_t hostEnd = dir.find('/', dot + 1);
    if (hostEnd != std::string::npos) dir.resize(hostEnd);
  }
  EnsureSlash(dir);
  return {dir, std::string(link)};
}

bool StartsWithWww(std::string_view link) {
  return link.size() >= 4 && (link[0] == 'w' || link[0] == 'W') &&
         (link[1] == 'w' || link[1] == 'W') && (link[2] == 'w' || link[2] == 'W') && link[3] == '.';
}

TLinkParts AddressRule(std::string_view link) {
  std::string text = StartsWithWww(link) ? "http://" + std::string(link) : std::string(link);
  size_t slashes = 0;
  size_t doubles = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '/') continue;
    ++slashes;
    if (i > 0 && text[i - 1] == '/') ++doubles;
  }
  if (doubles == 0) return {"", text};
  if (slashes == 2 && doubles == 1) text.push_back('/');

  size_t last = text.rfind('/');
  TLinkParts parts{text.substr(0, last + 1), text.substr(last + 1)};
  if (FileExtension(parts.LinkFile).empty()) {
    // No extension: the file part names a directory.
    parts.LinkDir += parts.LinkFile;
    EnsureSlash(parts.LinkDir);
    parts.LinkFile.clear();
  }
  return parts;
}

}  // namespace

TLinkParts ResolveLink(std::string_view link, std::string_view base) {
  if (link.starts_with("./")) link.remove_prefix(2);
  if (link.starts_with("../")) return ParentRule(link, base);
  if (link.starts_with("/")) return RootRule(link, base);
  return AddressRule(link);
}

TLinkParts ResolveAgainstBase(std::string_view link, std::string_view base) {
  TLinkParts parts = ResolveLink(link, base);
  if (parts.LinkDir.empty()) parts.LinkDir = base;
  return parts;
}

bool IsUnderBase(std::string_view dir, std::string_view entry) {
  if (dir == entry) return true;
  return !entry.empty() && StartsWithIgnoringAsciiCase(dir, entry);
}

void EnsureSlash(std::string& text) {
  if (text.empty() || text.back() != '/') text.push_back('/');
}

std::string_view FileExtension(std::string_view text) {
  size_t last = text.find_last_of(".\\:");
  if (last == std::string_view::npos || text[last] != '.') return {};
  return text.substr(last);
}
