// The fragment of an address as a page wrote it ("page.html#top"): it names
// a place inside the document and is never fetched. Pages write characters
// in addresses as numeric character references too ("k&#228;se.html"),
// whose "#" belongs to the text, not to a fragment.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// A numeric character reference at `at`, "&#N;" (decimal) or "&#xH;"
// (hexadecimal): the character it names, U+FFFD for a number that names
// none, and its length in `length`; nullopt for anything else. Link values
// keep these as written, as a page wrote them.
std::optional<char32_t> NumericCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length);

// Position (from 0) of the "#" that begins the fragment of an address, or
// npos. The "#" of a numeric character reference ("k&#228;se.html",
// "?a=1&#38;b=2") belongs to the text.
std::size_t FragmentStart(std::string_view address);
