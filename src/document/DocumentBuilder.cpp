#include "DocumentBuilder.h"

std::string_view TrimmedWhitespace(std::string_view text) {
  constexpr std::string_view kWhitespace = " \t\r\n\f\v";
  const std::size_t start = text.find_first_not_of(kWhitespace);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kWhitespace) - start + 1);
}

bool TDocumentBuilder::Count(std::size_t bytes) {
  if (bytes > maxText_ - given_) {
    error_ = "the document holds more than " + std::to_string(maxText_) + " bytes of text";
    return false;
  }
  given_ += bytes;
  return true;
}

bool TDocumentBuilder::AppendText(std::string_view text) {
  if (!Count(text.size())) return false;
  content_.Text.append(text);
  return true;
}

bool TDocumentBuilder::EndLine() {
  if (content_.Text.empty() || content_.Text.back() == '\n') return true;
  return AppendText("\n");
}

bool TDocumentBuilder::AddOnce(std::vector<std::string>& list,
                               std::unordered_set<std::string>& seen, std::string_view item) {
  item = TrimmedWhitespace(item);
  if (item.empty() || seen.contains(std::string(item))) return true;
  if (!Count(item.size())) return false;
  list.emplace_back(item);
  seen.emplace(item);
  return true;
}

bool TDocumentBuilder::AddPerson(std::string_view name) {
  return AddOnce(content_.People, seenPeople_, name);
}

bool TDocumentBuilder::AddLink(std::string_view link) {
  return AddOnce(content_.Links, seenLinks_, link);
}
