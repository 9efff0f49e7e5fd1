#include "HTMLPars.h"

#include "ByteScan.h"

#include <cstring>
#include <optional>
#include <unordered_map>

const std::array<TNamedEntity, 100> NamedEntities = {{
    {"&quot;", "&#34;"}, {"&amp;", "&#38;"}, {"&lt;", "&#60;"}, {"&gt;", "&#62;"},
    {"&nbsp;", "&#160;"}, {"&iexcl;", "&#161;"}, {"&cent;", "&#162;"}, {"&pound;", "&#163;"},
    {"&curren;", "&#164;"}, {"&yen;", "&#165;"}, {"&brvbar;", "&#166;"}, {"&sect;", "&#167;"},
    {"&uml;", "&#168;"}, {"&copy;", "&#169;"}, {"&ordf;", "&#170;"}, {"&laquo;", "&#171;"},
    {"&not;", "&#172;"}, {"&shy;", "&#173;"}, {"&reg;", "&#174;"}, {"&macr;", "&#175;"},
    {"&deg;", "&#176;"}, {"&plusmn;", "&#177;"}, {"&sup2;", "&#178;"}, {"&sup3;", "&#179;"},
    {"&acute;", "&#180;"}, {"&micro;", "&#181;"}, {"&para;", "&#182;"}, {"&middot;", "&#183;"},
    {"&cedil;", "&#184;"}, {"&sup1;", "&#185;"}, {"&ordm;", "&#186;"}, {"&raquo;", "&#187;"},
    {"&frac14;", "&#188;"}, {"&frac12;", "&#189;"}, {"&frac34;", "&#190;"}, {"&iquest;", "&#191;"},
    {"&Agrave;", "&#192;"}, {"&Aacute;", "&#193;"}, {"&Acirc;", "&#194;"}, {"&Atilde;", "&#195;"},
    {"&Auml;", "&#196;"}, {"&Aring;", "&#197;"}, {"&AElig;", "&#198;"}, {"&Ccedil;", "&#199;"},
    {"&Egrave;", "&#200;"}, {"&Eacute;", "&#201;"}, {"&Ecirc;", "&#202;"}, {"&Euml;", "&#203;"},
    {"&Igrave;", "&#204;"}, {"&Iacute;", "&#205;"}, {"&Icirc;", "&#206;"}, {"&Iuml;", "&#207;"},
    {"&ETH;", "&#208;"}, {"&Ntilde;", "&#209;"}, {"&Ograve;", "&#210;"}, {"&Oacute;", "&#211;"},
    {"&Ocirc;", "&#212;"}, {"&Otilde;", "&#213;"}, {"&Ouml;", "&#214;"}, {"&times;", "&#215;"},
    {"&Oslash;", "&#216;"}, {"&Ugrave;", "&#217;"}, {"&Uacute;", "&#218;"}, {"&Ucirc;", "&#219;"},
    {"&Uuml;", "&#220;"}, {"&Yacute;", "&#221;"}, {"&THORN;", "&#222;"}, {"&szlig;", "&#223;"},
    {"&agrave;", "&#224;"}, {"&aacute;", "&#225;"}, {"&acirc;", "&#226;"}, {"&atilde;", "&#227;"},
    {"&auml;", "&#228;"}, {"&aring;", "&#229;"}, {"&aelig;", "&#230;"}, {"&ccedil;", "&#231;"},
    {"&egrave;", "&#232;"}, {"&eacute;", "&#233;"}, {"&ecirc;", "&#234;"}, {"&euml;", "&#235;"},
    {"&igrave;", "&#236;"}, {"&iacute;", "&#237;"}, {"&icirc;", "&#238;"}, {"&iuml;", "&#239;"},
    {"&eth;", "&#240;"}, {"&ntilde;", "&#241;"}, {"&ograve;", "&#242;"}, {"&oacute;", "&#243;"},
    {"&ocirc;", "&#244;"}, {"&otilde;", "&#245;"}, {"&ouml;", "&#246;"}, {"&divide;", "&#247;"},
    {"&oslash;", "&#248;"}, {"&ugrave;", "&#249;"}, {"&uacute;", "&#250;"}, {"&ucirc;", "&#251;"},
    {"&uuml;", "&#252;"}, {"&yacute;", "&#253;"}, {"&thorn;", "&#254;"}, {"&yuml;", "&#255;"},
}};

namespace {

constexpr std::array<unsigned char, 256> MakeCodeToChar() {
  std::array<unsigned char, 256> table{};
  for (int code = 0; code < 256; ++code) {
    table[code] = (code < 32 || code == 160) ? ' ' : static_cast<unsigned char>(code);
  }
  return table;
}

// Name to character code, built once from NamedEntities.
const std::unordered_map<std::string_view, unsigned char>& EntityCodes() {
  static const auto* codes = [] {
    auto* map = new std::unordered_map<std::string_view, unsigned char>;
    for (const auto& entity : NamedEntities) {
      std::string_view digits = entity.Numeric.substr(2, entity.Numeric.size() - 3);
      int code = 0;
      for (char c : digits) code = code * 10 + (c - '0');
      map->emplace(entity.Name, static_cast<unsigned char>(code));
    }
    return map;
  }();
  return *codes;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a whole number: decimal digits with an optional sign, or hexadecimal
// digits after "x", "X", "$" or "0x". Fails unless the whole text is read.
std::optional<long> ReadNumber(std::string_view text) {
  int base = 10;
  bool negative = false;
  if (!text.empty() && (text[0] == 'x' || text[0] == 'X' || text[0] == '$')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() >= 2 && text[0] == '0' && text[1] == 'x') {
    base = 16;
    text.remove_prefix(2);
  } else if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.size() > 8) return std::nullopt;
  long value = 0;
  for (char c : text) {
    int digit = HexDigit(c);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
  }
  return negative ? -value : value;
}

// The byte a numeric reference stands for, when it is decoded at all:
// at most three characters, read completely, and a code from 0 to 255.
std::optional<unsigned char> NumericReferenceByte(std::string_view number) {
  if (number.empty() || number.size() > 3) return std::nullopt;
  auto value = ReadNumber(number);
  if (!value || *value < 0 || *value > 255) return std::nullopt;
  return CodeToChar[static_cast<size_t>(*value)];
}

// The byte a complete reference (ampersand to terminator) decodes to, if any.
std::optional<unsigned char> ReferenceByte(std::string_view reference) {
  if (reference.size() > 2 && reference[1] == '#') {
    return NumericReferenceByte(reference.substr(2, reference.size() - 3));
  }
  const auto& codes = EntityCodes();
  auto found = codes.find(reference);
  if (found == codes.end()) return std::nullopt;
  // A named reference becomes its numeric form, which is then decoded.
  return CodeToChar[found->second];
}

}  // namespace

const std::array<unsigned char, 256> CodeToChar = MakeCodeToChar();

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// ---------------------------------------------------------------------------
// Parameters and tags

namespace {

void UpperAsciiInPlace(THTMLString& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

}  // namespace

void THTMLParam::Parse(std::string_view raw, std::string_view upper) {
  Raw = raw;
  Key = upper;
  Value = {};
  size_t equals = raw.find('=');
  if (equals == std::string_view::npos) return;
  Key = upper.substr(0, equals);
  Value = raw.substr(equals + 1);
  if (Value.size() > 1 && Value.front() == '"' && Value.back() == '"') Value = Value.substr(1, Value.size() - 2);
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

// Decodes references in one pass, in place (a decoded reference is always
// shorter than its text). A reference runs from its last ampersand to the
// next semicolon or space. The scan goes on behind a decoded byte, so that
// byte is never scanned again; references that stay are kept unchanged.
// Bytes are moved only where a reference is decoded.
template <class String>
void DecodeReferencesInPlace(String& text) {
  size_t at = text.find('&');
  if (at == std::string::npos) return;
  const size_t size = text.size();
  char* data = text.data();
  size_t to = at;        // where kept bytes go
  size_t copyFrom = at;  // start of the bytes not yet kept
  while (at < size) {
    // data[at] is an ampersand; in a run of them only the last one counts.
    while (at + 1 < size && data[at + 1] == '&') ++at;
    const char* stop = FindFirstOf<';', ' ', '&'>(data + at + 1, data + size);
    size_t end = static_cast<size_t>(stop - data);
    if (end == size) break;
    if (data[end] == '&') {  // a later ampersand restarts the reference
      at = end;
      continue;
    }
    if (auto byte = ReferenceByte(std::string_view(data + at, end - at + 1))) {
      std::memmove(data + to, data + copyFrom, at - copyFrom);
      to += at - copyFrom;
      data[to++] = static_cast<char>(*byte);
      copyFrom = end + 1;
    }
    const void* next = std::memchr(data + end + 1, '&', size - end - 1);
    at = next ? static_cast<size_t>(static_cast<const char*>(next) - data) : size;
  }
  std::memmove(data + to, data + copyFrom, size - copyFrom);
  text.resize(to + size - copyFrom);
}

}  // namespace

std::string CollapseSpaces(std::string_view text) {
  std::string out;
  CollapseSpacesInto(text, out);
  return out;
}

std::string DecodeReferences(std::string_view text) {
  std::string out(text);
  DecodeReferencesInPlace(out);
  return out;
}

void THTMLText::Parse(std::string_view text) {
  Raw.assign(text);
  CollapseSpacesInto(text, Text);
  DecodeReferencesInPlace(Text);
}

// ---------------------------------------------------------------------------
// The tokenizer

TStringList& TStringList::operator=(std::initializer_list<std::string_view> items) {
  clear();
  for (std::string_view item : items) Add(item);
  return *this;
}

void THTMLNodeList::clear() {
  nodes_.clear();
  arena_.Rewind();
}

namespace {
constexpr size_t kFirstChunk = 64 * 1024;
constexpr size_t kKeptBytes = 64 * 1024 * 1024;
}  // namespace

void* TNodeArena::do_allocate(size_t bytes, size_t alignment) {
  while (current_ < chunks_.size()) {
    Chunk& chunk = chunks_[current_];
    size_t at = (used_ + alignment - 1) & ~(alignment - 1);
    if (at + bytes <= chunk.size) {
      used_ = at + bytes;
      return chunk.data.get() + at;
    }
    ++current_;
    used_ = 0;
  }
  // Chunks double in size, and a huge request gets a chunk of its own size.
  size_t size = chunks_.empty() ? kFirstChunk : chunks_.back().size * 2;
  if (size < bytes + alignment) size = bytes + alignment;
  chunks_.push_back(Chunk{std::make_unique<char[]>(size), size});
  current_ = chunks_.size() - 1;
  used_ = 0;
  return do_allocate(bytes, alignment);
}

void TNodeArena::Rewind() {
  size_t kept = 0;
  size_t keep = 0;
  while (keep < chunks_.size() && kept + chunks_[keep].size <= kKeptBytes) kept += chunks_[keep++].size;
  chunks_.resize(keep);
  current_ = 0;
  used_ = 0;
}

void THTMLParser::Parse() { ParseLines(); }

void THTMLParser::Parse(const THTMLVisitor& visit) {
  struct TVisiting {
    THTMLParser& parser;
    ~TVisiting() { parser.visit_ = nullptr; }
  } visiting{*this};
  visit_ = &visit;
  ParseLines();
}

void THTMLParser::ParseLines() {
  PendingText.clear();
  PendingTag.clear();
  InTag = false;
  for (std::string_view line : Lines) {
    ParseLine(line);
    if (!InTag && !PendingText.empty()) PendingText.push_back('\n');
  }
  if (InTag && !PendingTag.empty()) EmitTag();
  if (!InTag && !PendingText.empty()) EmitText();
}

void THTMLParser::ParseLine(std::string_view line) {
  const char* p = line.data();
  const char* end = p + line.size();
  while (p < end) {
    // Copy the run up to the next angle bracket in one piece.
    const char* run = p;
    p = FindFirstOf<'<', '>'>(p, end);
    (InTag ? PendingTag : PendingText).append(run, p);
    if (p == end) break;
    if (*p == '<') {
      EmitText();
      InTag = true;
    } else {
      EmitTag();
    }
    ++p;
  }
}

// With a visitor, the node is parsed into the parser's own tag or text,
// whose memory serves node after node; without one, into a new node of Nodes.
void THTMLParser::EmitText() {
  if (InTag || PendingText.empty()) return;
  THTMLText& text = visit_ ? text_ : Nodes.AddText();
  text.Parse(PendingText);
  PendingText.clear();
  if (visit_) (*visit_)(THTMLNode(text));
}

void THTMLParser::EmitTag() {
  InTag = false;
  THTMLTag& tag = visit_ ? tag_ : Nodes.AddTag();
  tag.Parse(PendingTag);
  PendingTag.clear();
  if (visit_) (*visit_)(THTMLNode(tag));
}
