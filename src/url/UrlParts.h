// The parts of an address as the HTTP client and the crawl read it: scheme,
// user information, host, port and path; and the scheme and the port as
// written in an address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TUrlParts {
  std::string Proto, User, Pass, Host, Port, Path;
};

// Splits Url into scheme, user information, host, port (as text) and path
// (with its leading "/" and any query). All six outputs are emptied first.
void SplitUrl(const std::string& Url, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);
TUrlParts SplitUrl(const std::string& Url);

// The length of a leading "scheme:" (an ASCII letter, then letters, digits,
// "+", "-" or ".", then ":"), or 0 when the text has none.
std::size_t SchemePrefixLength(std::string_view text);

// The port of an address: decimal digits only, from 1 to 65535; nullopt
// for anything else (a name, a sign, trailing bytes, zero, too large).
std::optional<std::uint16_t> PortNumber(std::string_view Text);

// A host a request may name: not empty, no blank or control byte (a CR in
// it would end the Host line early).
bool IsSendableHost(std::string_view host);
