// Relative references resolved against an absolute address the way a browser
// resolves a relocation's Location: "?q" and "#f" keep the path, "//h/p"
// keeps the scheme, "/p" replaces the path, "p" the last segment, and "." and
// ".." segments are removed. The crawl's link rules resolve links their own
// way (LinkResolve.h in crawl).
#pragma once

#include <string>
#include <string_view>

#include "UrlParts.h"

// An absolute path ("/a/./b/../c") without its "." and ".." segments
// ("/a/c"). ".." above the root stays at the root; a path that ends in a dot
// segment ends in "/".
std::string RemoveDotSegments(const std::string& path);

// `ref` resolved against `base`, an address with "://"; `ref` unchanged when
// `base` has none, `base` when `ref` is empty.
std::string ResolveRelativeUrl(const std::string& base, const std::string& ref);

// An address being fetched as a relocation is resolved against it:
// "scheme://host[:port]path", http for anything but https, the port only
// when it is not the scheme's default, "/" for an empty path.
std::string FetchedAddress(bool Tls, std::string_view Host, std::string_view Port,
                           std::string_view Path);

// Where the Location value of a relocation leads from the address being
// fetched (FetchedAddress): an absolute address, or a reference resolved as
// a browser resolves it ("http:page" names no host and is relative too).
// The scheme comes in lower case; a port that is the scheme's default is
// left out.
TUrlParts RelocationTarget(const std::string& current, const std::string& value);
// The address a relocation leaves: "scheme://host[:port]path", "/" for an
// empty path.
std::string RelocatedAddress(const TUrlParts& target);
