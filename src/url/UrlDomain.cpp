#include "UrlDomain.h"

#include <libpsl.h>

#include "AsciiCase.h"

namespace {

constexpr std::size_t kMaxHostName = 253;
constexpr std::size_t kMaxLabel = 63;
constexpr std::string_view kLocalhost = "localhost";

const psl_ctx_t* SuffixList() {
  // psl_latest reads the newer of the Debian file and the built-in list; the
  // built-in one stays the answer when the file is missing or unreadable.
  // The context lives as long as the program and is only read after this.
  static const psl_ctx_t* const list = [] {
    const psl_ctx_t* latest = psl_latest(nullptr);
    return latest ? latest : psl_builtin();
  }();
  return list;
}

bool IsLabelByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_';
}

bool IsWellFormedName(std::string_view host) {
  if (host.empty() || host.size() > kMaxHostName) return false;
  std::size_t label = 0;
  for (char c : host) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (!IsLabelByte(c) || ++label > kMaxLabel) {
      return false;
    }
  }
  return label > 0;
}

bool IsNumberLabel(std::string_view label) {
  if (label.size() >= 2 && label[0] == '0' && (label[1] == 'x' || label[1] == 'X')) {
    return label.substr(2).find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
  }
  return !label.empty() && label.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsUnderLocalhost(std::string_view lowerHost) {
  return lowerHost == kLocalhost || (lowerHost.ends_with(kLocalhost) &&
                                     lowerHost[lowerHost.size() - kLocalhost.size() - 1] == '.');
}

}  // namespace

bool IsIpAddressHost(std::string_view host) {
  if (host.starts_with('[') || host.find(':') != std::string_view::npos) return true;
  if (host.ends_with('.')) host.remove_suffix(1);  // "1.2.3.4." is read as 1.2.3.4
  std::size_t dot = host.rfind('.');
  return IsNumberLabel(dot == std::string_view::npos ? host : host.substr(dot + 1));
}

std::string RegistrableDomain(std::string_view host) {
  if (!IsWellFormedName(host) || IsIpAddressHost(host)) return {};
  const std::string lower = LowerAscii(host);
  if (IsUnderLocalhost(lower)) return std::string(kLocalhost);
  const char* domain = psl_registrable_domain(SuffixList(), lower.c_str());
  return domain ? std::string(domain) : std::string();
}

bool IsPublicSuffix(std::string_view host) {
  if (!IsWellFormedName(host) || IsIpAddressHost(host)) return false;
  const std::string lower = LowerAscii(host);
  if (IsUnderLocalhost(lower)) return false;
  return psl_is_public_suffix2(SuffixList(), lower.c_str(), PSL_TYPE_ANY) != 0;
}

bool DomainMatches(std::string_view host, std::string_view domain) {
  if (domain.empty()) return false;
  if (EqualIgnoringAsciiCase(host, domain)) return true;
  return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' &&
         EqualIgnoringAsciiCase(host.substr(host.size() - domain.size()), domain) &&
         !IsIpAddressHost(host);
}
