// What of a link value the link rules get to see.
//
// A fragment names a place inside a document, never a document of its own:
// it is cut off at its "#" before the rules look at the value, so
// "page.html#top" and "page.html" are one page and no fragment can turn into
// a made-up directory. Values of other schemes than http and https
// ("mailto:", "javascript:", "ftp:", any letter case) name nothing to fetch.
#pragma once

#include <optional>
#include <string_view>

// The value without its fragment; nullopt when cutting the fragment leaves
// nothing (the value names the page itself) or when the value begins with a
// scheme other than http and https. A value without "#" is kept as it is,
// an empty one included. "www." at the start is a host, not a scheme.
std::optional<std::string_view> FollowableLinkValue(std::string_view value);
