// The origin of an address, "scheme://host:port": what site credentials are
// bound to. Anything but https travels as http, on the scheme's default port
// when the address names none.
#pragma once

#include <string>
#include <string_view>

// The ports an address means when it names none.
inline constexpr char kHttpPort[] = "80";
inline constexpr char kHttpsPort[] = "443";

// kHttpsPort over TLS, kHttpPort otherwise.
std::string DefaultPort(bool Tls);

// The origin of a host and port (as text): the scheme and host in lower
// case, the default port filled in for a port that is no number from 1 to
// 65535.
std::string OriginOf(bool Tls, std::string_view Host, std::string_view Port);
// The same for an address: an empty scheme is read as http.
std::string UrlOrigin(const std::string& Url);
