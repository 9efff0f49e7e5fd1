// Link resolution: turns a link text into a directory part and a file part
// whose concatenation is the address the crawl fetches and compares.
//
// Purely textual: nothing is parsed as a URL or decoded, letter case is kept,
// and only a leading "./", a leading "../" and a leading slash are interpreted.
#pragma once

#include <string>
#include <string_view>

struct TLinkParts {
  std::string LinkDir;   // empty or ending in a slash
  std::string LinkFile;  // may be empty, may hold slashes

  std::string FullAddress() const { return LinkDir + LinkFile; }
};

// Resolves `link`; the base is read only for "../" and "/" links.
TLinkParts ResolveLink(std::string_view link, std::string_view base);

// ResolveLink, then an empty LinkDir becomes the base.
TLinkParts ResolveAgainstBase(std::string_view link, std::string_view base);

// True when `dir` equals `entry` exactly, or when `entry` is not empty and
// `dir` begins with it, ASCII letters compared without case.
bool IsUnderBase(std::string_view dir, std::string_view entry);

// Appends a slash unless the text already ends in one ("" becomes "/").
void EnsureSlash(std::string& text);

// From the last '.', '\\' or ':' to the end when that character is a full
// stop; empty otherwise.
std::string_view FileExtension(std::string_view text);
