// What tirasel-cli watches of a run: the --include/--exclude rules on the
// addresses that would be queued, and the e-mail addresses of the pages
// ("mailto:" links and addresses written in the text).
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "CliOptions.h"
#include "CrawlOptions.h"
#include "WordList.h"

// Calls `found` for every e-mail address written in the text, in order:
// a local part of letters, digits and . _ % + -, an at sign, and a domain of
// at least two labels of letters, digits and hyphens, the last of at least
// two letters. Surrounding punctuation is not part of the address.
template <typename OnAddress>
void FindEmailAddresses(std::string_view text, OnAddress&& found);

// The address of a "mailto:" link value (before any "?"), or empty.
std::string_view MailtoAddress(std::string_view value);

class TCliObserver : public TCrawlObserver {
 public:
  TCliObserver(const std::vector<TAddressPattern>& include,
               const std::vector<TAddressPattern>& exclude, bool collectEmails)
      : include_(include), exclude_(exclude), collectEmails_(collectEmails) {}

  // Passes when some include pattern (or none is given) and no exclude
  // pattern is found in the address.
  bool AcceptAddress(std::string_view address) override;
  void TagSeen(const THTMLTag& tag) override;
  void TextSeen(std::string_view text) override;
  void PersonNamed(std::string_view person, std::string_view address) override;

  // Each address once (compared without regard to ASCII case), in the order found.
  const std::vector<std::string>& Emails() const { return emails_; }
  // Each person once (as the word list compares), in the order found, with
  // the address of the first document naming them.
  const std::vector<std::pair<std::string, std::string>>& People() const { return people_; }

 private:
  void AddEmail(std::string_view address);

  const std::vector<TAddressPattern>& include_;
  const std::vector<TAddressPattern>& exclude_;
  bool collectEmails_;
  std::vector<std::string> emails_;
  std::unordered_set<std::string> seen_;  // upper-cased (ASCII)
  std::vector<std::pair<std::string, std::string>> people_;
  WordList peopleSeen_;
};

// ---------------------------------------------------------------------------

namespace email_detail {
bool IsLocalChar(char c);
bool IsDomainChar(char c);
// The end of a valid domain starting at `at`, shortened to its last whole
// label; `at` itself when there is none.
size_t DomainEnd(std::string_view text, size_t at);
}  // namespace email_detail

template <typename OnAddress>
void FindEmailAddresses(std::string_view text, OnAddress&& found) {
  using namespace email_detail;
  size_t from = 0;
  for (size_t at = text.find('@'); at != std::string_view::npos; at = text.find('@', at + 1)) {
    size_t start = at;
    while (start > from && IsLocalChar(text[start - 1])) --start;
    while (start < at && text[start] == '.') ++start;  // a sentence's full stop is no part of it
    size_t end = DomainEnd(text, at + 1);
    if (start == at || end == at + 1) continue;
    found(text.substr(start, end - start));
    from = end;
    at = end - 1;
  }
}
