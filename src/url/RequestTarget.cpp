#include "RequestTarget.h"

#include <QString>
#include <optional>

#include "AsciiCase.h"
#include "UrlFragment.h"
#include "UrlOrigin.h"
#include "UrlParts.h"
#include "Windows1252.h"

namespace {

bool IsAllowedInTarget(unsigned char byte) {
  return byte > 0x20 && byte < 0x7F && byte != '"' && byte != '<' && byte != '>';
}

void AppendPercentEncoded(std::string& out, char32_t ch) {
  static const char kHex[] = "0123456789ABCDEF";
  QByteArray utf8 = QString::fromUcs4(&ch, 1).toUtf8();
  for (char c : utf8) {
    auto byte = static_cast<unsigned char>(c);
    out += {'%', kHex[byte >> 4], kHex[byte & 15]};
  }
}

}  // namespace

std::string RequestTargetOf(std::string_view target) {
  target = target.substr(0, FragmentStart(target));
  std::string out;
  out.reserve(target.size());
  for (size_t at = 0; at < target.size(); ++at) {
    size_t length = 0;
    auto byte = static_cast<unsigned char>(target[at]);
    if (std::optional<char32_t> ch = NumericCharReference(target, at, length)) {
      if (*ch < 0x80 && *ch != '#' && IsAllowedInTarget(static_cast<unsigned char>(*ch))) {
        out.push_back(static_cast<char>(*ch));
      } else {
        AppendPercentEncoded(out, *ch);
      }
      at += length - 1;
    } else if (IsAllowedInTarget(byte)) {
      out.push_back(static_cast<char>(byte));
    } else {
      AppendPercentEncoded(out, Cp1252Char(byte));
    }
  }
  return out;
}

std::string RequestUri(bool Tls, std::string_view Host, std::string_view Port,
                       std::string_view Path) {
  const bool defaultPort = Port.empty() || Port == DefaultPort(Tls);
  return std::string(Tls ? "https://" : "http://") + std::string(Host) +
         (defaultPort ? "" : ":" + std::string(Port)) + RequestTargetOf(Path.empty() ? "/" : Path);
}

std::string RequestUriOf(const std::string& Address) {
  TUrlParts parts = SplitUrl(Address);
  return RequestUri(EqualIgnoringAsciiCase(parts.Proto, "https"), parts.Host, parts.Port,
                    parts.Path);
}
