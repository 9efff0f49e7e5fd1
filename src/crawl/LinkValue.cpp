#include "LinkValue.h"

#include "AsciiCase.h"
#include "UrlFragment.h"
#include "UrlParts.h"

std::optional<std::string_view> FollowableLinkValue(std::string_view value) {
  size_t fragment = FragmentStart(value);
  if (fragment != std::string_view::npos) {
    if (fragment == 0) return std::nullopt;
    value = value.substr(0, fragment);
  }
  if (StartsWithIgnoringAsciiCase(value, "WWW.")) return value;
  const size_t schemeLength = SchemePrefixLength(value);
  if (schemeLength == 0) return value;
  const std::string_view scheme = value.substr(0, schemeLength - 1);
  if (!EqualIgnoringAsciiCase(scheme, "http") && !EqualIgnoringAsciiCase(scheme, "https")) {
    return std::nullopt;
  }
  return value;
}
