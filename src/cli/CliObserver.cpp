#include "CliObserver.h"

#include <re2/re2.h>

#include "AsciiCase.h"
#include "HTMLPars.h"

namespace email_detail {

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDomainChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '-'; }
bool IsLocalChar(char c) { return IsDomainChar(c) || c == '.' || c == '_' || c == '%' || c == '+'; }

size_t DomainEnd(std::string_view text, size_t at) {
  size_t end = at;  // after the last whole label followed by a dot and another label
  size_t labels = 0;
  size_t labelStart = at;
  size_t p = at;
  for (;; ++p) {
    if (p < text.size() && IsDomainChar(text[p])) continue;
    std::string_view label = text.substr(labelStart, p - labelStart);
    if (label.empty() || label.front() == '-' || label.back() == '-') break;
    ++labels;
    bool topLevel = label.size() >= 2 && IsLetter(label[0]) && IsLetter(label[label.size() - 1]);
    if (labels >= 2 && topLevel) end = p;
    if (p >= text.size() || text[p] != '.') break;
    labelStart = p + 1;
  }
  return end;
}

}  // namespace email_detail

std::string_view MailtoAddress(std::string_view value) {
  constexpr std::string_view kScheme = "mailto:";
  if (value.size() <= kScheme.size() || !StartsWithIgnoringAsciiCase(value, kScheme)) return {};
  value.remove_prefix(kScheme.size());
  return value.substr(0, value.find('?'));
}

bool TCliObserver::AcceptAddress(std::string_view address) {
  auto found = [address](const TAddressPattern& pattern) {
    return RE2::PartialMatch(re2::StringPiece(address.data(), address.size()), *pattern.Pattern);
  };
  for (const TAddressPattern& pattern : exclude_) {
    if (found(pattern)) return false;
  }
  if (include_.empty()) return true;
  for (const TAddressPattern& pattern : include_) {
    if (found(pattern)) return true;
  }
  return false;
}

void TCliObserver::TagSeen(const THTMLTag& tag) {
  if (!collectEmails_ || (tag.Name != "A" && tag.Name != "AREA" && tag.Name != "LINK")) return;
  for (const THTMLParam& param : tag.Params) {
    if (param.Key != "HREF") continue;
    // "mailto:a@x.de,b@y.de": every address of the link.
    FindEmailAddresses(MailtoAddress(param.Value),
                       [this](std::string_view address) { AddEmail(address); });
  }
}

void TCliObserver::TextSeen(std::string_view text) {
  if (!collectEmails_ || text.find('@') == std::string_view::npos) return;
  FindEmailAddresses(text, [this](std::string_view address) { AddEmail(address); });
}

void TCliObserver::AddEmail(std::string_view address) {
  if (seen_.insert(UpperAscii(address)).second) emails_.emplace_back(address);
}

void TCliObserver::PersonNamed(std::string_view person, std::string_view address) {
  if (person.empty() || peopleSeen_.FindWord(person)) return;
  peopleSeen_.AddWord(std::string(person));
  people_.emplace_back(person, address);
}
