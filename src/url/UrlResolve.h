// Relative references resolved against an absolute address the way a browser
// resolves a relocation's Location: "?q" and "#f" keep the path, "//h/p"
// keeps the scheme, "/p" replaces the path, "p" the last segment, and "." and
// ".." segments are removed. The crawl's link rules resolve links their own
// way (LinkResolve.h in crawl).
#pragma once

#include <string>

// An absolute path ("/a/./b/../c") without its "." and ".." segments
// ("/a/c"). ".." above the root stays at the root; a path that ends in a dot
// segment ends in "/".
std::string RemoveDotSegments(const std::string& path);

// `ref` resolved against `base`, an address with "://"; `ref` unchanged when
// `base` has none, `base` when `ref` is empty.
std::string ResolveRelativeUrl(const std::string& base, const std::string& ref);
