#include "HTMLNodes.h"

#include <cstring>

#include "AsciiCase.h"
#include "ByteScan.h"
#include "CharacterReferences.h"

// ---------------------------------------------------------------------------
// Parameters and tags

void THTMLParam::Parse(std::string_view raw, std::string_view upper) {
  Raw = raw;
  Key = upper;
  Value = {};
  size_t equals = raw.find('=');
  if (equals == std::string_view::npos) return;
  Key = upper.substr(0, equals);
  Value = raw.substr(equals + 1);
  if (Value.size() > 1 && Value.front() == '"' && Value.back() == '"')
    Value = Value.substr(1, Value.size() - 2);
}

void THTMLTag::Parse(std::string_view text) {
  Raw.assign(text);
  upper_.assign(text);
  UpperAsciiInPlace(upper_);
  Name = std::string_view(upper_).substr(0, Raw.find(' '));
  Params.raw_ = Raw;
  Params.upper_ = upper_;
}

void THTMLParams::const_iterator::Advance() {
  while (at_ < raw_.size()) {
    size_t start = at_ + 1;  // after the separating space
    bool inQuotes = false;
    size_t end = start;
    while (end < raw_.size() && (raw_[end] != ' ' || inQuotes)) {
      if (raw_[end] == '"') inQuotes = !inQuotes;
      ++end;
    }
    at_ = end;
    if (end > start) {
      param_.Parse(raw_.substr(start, end - start), upper_.substr(start, end - start));
      return;
    }
  }
  at_ = std::string_view::npos;
}

size_t THTMLParams::size() const {
  size_t count = 0;
  for (auto at = begin(); at != end(); ++at) ++count;
  return count;
}

THTMLParam THTMLParams::operator[](size_t index) const {
  auto at = begin();
  for (; at != end() && index > 0; --index) ++at;
  if (at == end()) throw std::out_of_range("THTMLParams index");
  return *at;
}

// ---------------------------------------------------------------------------
// Text

namespace {

// Copies `text` into `out` with line feeds turned into spaces and runs of
// spaces collapsed to one.
template <class String>
void CollapseSpacesInto(std::string_view text, String& out) {
  out.resize(text.size());
  char* to = out.data();
  const char* p = text.data();
  const char* end = p + text.size();
  bool lastWasSpace = false;
  while (p < end) {
    if (end - p >= 16 && !NeedsCollapse16(p, lastWasSpace)) {
      std::memcpy(to, p, 16);
      to += 16;
      p += 16;
      lastWasSpace = p[-1] == ' ';
      continue;
    }
    // Byte by byte until the next block boundary.
    const char* stop = end - p >= 16 ? p + 16 : end;
    for (; p < stop; ++p) {
      char c = *p == '\n' ? ' ' : *p;
      bool isSpace = c == ' ';
      *to = c;
      to += !(isSpace && lastWasSpace);  // a space after a space is overwritten
      lastWasSpace = isSpace;
    }
  }
  out.resize(static_cast<size_t>(to - out.data()));
}

}  // namespace

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  CollapseSpacesInto(text, out);
  return out;
}

void THTMLText::Parse(std::string_view text) {
  Raw.assign(text);
  CollapseSpacesInto(text, Text);
  Text.resize(DecodeReferencesInPlace(Text.data(), Text.size()));
}

// ---------------------------------------------------------------------------
// The node list

void THTMLNodeList::clear() {
  nodes_.clear();
  arena_.Rewind();
}
