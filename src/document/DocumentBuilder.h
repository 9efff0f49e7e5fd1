// The content of one document as its reader finds it: text, people and
// links, kept within MaxText bytes all together. Every call that adds
// returns false once the limit is passed, after writing the reason into the
// reader's error; the reader then stops.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "DocumentReader.h"

class TDocumentBuilder {
 public:
  TDocumentBuilder(const TDocumentLimits& limits, std::string& error)
      : maxText_(limits.MaxText), error_(error) {}

  bool AppendText(std::string_view text);
  // Ends the line or paragraph; an empty one leaves no blank line.
  bool EndLine();
  bool Tab() { return AppendText("\t"); }
  // Trimmed; an empty name or one already there is left out.
  bool AddPerson(std::string_view name);
  // Trimmed; an empty link or one already there is left out.
  bool AddLink(std::string_view link);

  TDocumentContent& Content() { return content_; }

 private:
  bool Count(std::size_t bytes);

  bool AddOnce(std::vector<std::string>& list, std::unordered_set<std::string>& seen,
               std::string_view item);

  TDocumentContent content_;
  // What People and Links hold, for finding an item again in a long list.
  std::unordered_set<std::string> seenPeople_;
  std::unordered_set<std::string> seenLinks_;
  std::size_t maxText_;
  std::size_t given_ = 0;  // bytes of text, people and links so far
  std::string& error_;
};

// Without the spaces, tabs and line ends around it.
std::string_view TrimmedWhitespace(std::string_view text);
