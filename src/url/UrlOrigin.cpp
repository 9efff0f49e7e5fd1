#include "UrlOrigin.h"

#include <cstdint>
#include <optional>

#include "AsciiCase.h"
#include "UrlParts.h"

std::string DefaultPort(bool Tls) { return Tls ? kHttpsPort : kHttpPort; }

std::string OriginOf(bool Tls, std::string_view Host, std::string_view Port) {
  std::optional<std::uint16_t> port = PortNumber(Port);
  return std::string(Tls ? "https://" : "http://") + LowerAscii(Host) + ":" +
         (port ? std::to_string(*port) : DefaultPort(Tls));
}

std::string UrlOrigin(const std::string& Url) {
  TUrlParts parts = SplitUrl(Url);
  return OriginOf(EqualIgnoringAsciiCase(parts.Proto, "https"), parts.Host, parts.Port);
}
