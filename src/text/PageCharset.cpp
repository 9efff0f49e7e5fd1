#include "PageCharset.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>

#include "AsciiCase.h"
#include "CharsetDecode.h"
#include "Utf8Text.h"

namespace {

constexpr size_t kMetaScanBytes = 1024;

// Names browsers read as Windows-1252 (lower case).
constexpr std::array<std::string_view, 17> kWindows1252Names = {
    "windows-1252", "x-cp1252",      "cp1252",          "iso-8859-1", "iso8859-1",
    "iso88591",     "iso_8859-1",    "iso_8859-1:1987", "iso-ir-100", "latin1",
    "l1",           "csisolatin1",   "ibm819",          "cp819",      "us-ascii",
    "ascii",        "ansi_x3.4-1968"};
constexpr std::array<std::string_view, 6> kUtf8Names = {
    "utf-8", "utf8", "unicode-1-1-utf-8", "unicode11utf8", "unicode20utf8", "x-unicode20utf8"};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

template <size_t N>
bool IsOneOf(std::string_view name, const std::array<std::string_view, N>& names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// UTF-7 writes "<" as "+ADw-": markup in it is hidden from everything that
// reads the bytes, and browsers refuse it. ICU knows it under several names,
// and a variant of it for mail folder names.
bool IsUtf7(const QStringDecoder& decoder, const std::string& name) {
  const char* decoderName = decoder.name();
  return name == "imap-mailbox-name" || (decoderName && std::string_view(decoderName) == "UTF-7");
}

// The decoder name for a declared set: "" for Windows-1252 and for names no
// decoder knows or that name UTF-7.
std::string DecoderFor(const std::string& name) {
  if (IsOneOf(name, kWindows1252Names)) return "";
  if (IsOneOf(name, kUtf8Names)) return "utf-8";
  QStringDecoder decoder(name.c_str());
  return decoder.isValid() && !IsUtf7(decoder, name) ? name : "";
}

std::optional<std::string> BomCharset(std::string_view document) {
  if (document.starts_with("\xEF\xBB\xBF")) return "utf-8";
  if (document.starts_with("\xFE\xFF")) return "utf-16be";
  if (document.starts_with("\xFF\xFE")) return "utf-16le";
  return std::nullopt;
}

// One attribute of a tag, read from `at` on; false at the tag's end.
bool ReadAttribute(std::string_view tag, size_t& at, std::string& name, std::string& value) {
  while (at < tag.size() && (IsSpace(tag[at]) || tag[at] == '/')) ++at;
  if (at >= tag.size() || tag[at] == '>') return false;
  size_t start = at;
  auto endsName = [](char c) { return IsSpace(c) || c == '=' || c == '>' || c == '/'; };
  while (at < tag.size() && !endsName(tag[at])) ++at;
  name = LowerAscii(tag.substr(start, at - start));
  value.clear();
  while (at < tag.size() && IsSpace(tag[at])) ++at;
  if (at >= tag.size() || tag[at] != '=') return true;
  ++at;
  while (at < tag.size() && IsSpace(tag[at])) ++at;
  if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
    char quote = tag[at++];
    size_t end = std::min(tag.find(quote, at), tag.size());
    value = tag.substr(at, end - at);
    at = end + 1;
  } else {
    start = at;
    while (at < tag.size() && !IsSpace(tag[at]) && tag[at] != '>') ++at;
    value = tag.substr(start, at - start);
  }
  return true;
}

// The set a meta tag declares; `at` is just after "<meta".
std::optional<std::string> DeclaredByMeta(std::string_view tag, size_t at) {
  std::string name, value, content;
  bool contentType = false;
  while (ReadAttribute(tag, at, name, value)) {
    if (name == "charset") return LowerAscii(value);
    if (name == "http-equiv") contentType = EqualIgnoringAsciiCase(value, "content-type");
    if (name == "content") content = value;
  }
  if (contentType) return CharsetParameter(content);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> CharsetParameter(std::string_view contentType) {
  std::string lower = LowerAscii(contentType);
  for (size_t at = lower.find("charset"); at != std::string::npos;
       at = lower.find("charset", at + 1)) {
    size_t pos = at + 7;
    while (pos < lower.size() && IsSpace(lower[pos])) ++pos;
    if (pos >= lower.size() || lower[pos] != '=') continue;
    ++pos;
    while (pos < lower.size() && IsSpace(lower[pos])) ++pos;
    if (pos < lower.size() && (lower[pos] == '"' || lower[pos] == '\'')) {
      char quote = lower[pos++];
      size_t end = lower.find(quote, pos);
      if (end == std::string::npos) end = lower.size();
      return lower.substr(pos, end - pos);
    }
    size_t end = pos;
    while (end < lower.size() && !IsSpace(lower[end]) && lower[end] != ';') ++end;
    return lower.substr(pos, end - pos);
  }
  return std::nullopt;
}

std::optional<std::string> MetaCharset(std::string_view document) {
  std::string_view head = document.substr(0, kMetaScanBytes);
  // A tag that begins in the first bytes is read to its end, so that a name
  // is never cut short; the tag's own length is bounded as well.
  auto tagAt = [&](size_t at) { return document.substr(at, kMetaScanBytes); };
  for (size_t at = head.find('<'); at != std::string_view::npos; at = head.find('<', at + 1)) {
    if (head.substr(at, 4) == "<!--") {
      at = head.find("-->", at + 4);
      if (at == std::string_view::npos) break;
      continue;
    }
    std::string_view tag = tagAt(at);
    if (!StartsWithIgnoringAsciiCase(tag, "<meta") || tag.size() <= 5) continue;
    if (!IsSpace(tag[5]) && tag[5] != '/') continue;
    if (std::optional<std::string> charset = DeclaredByMeta(tag, 5)) return charset;
  }
  return std::nullopt;
}

std::string PageCharset(std::string_view contentType, std::string_view document) {
  std::optional<std::string> declared = CharsetParameter(contentType);
  if (declared) return DecoderFor(*declared);
  if (std::optional<std::string> bom = BomCharset(document)) return *bom;
  if (std::optional<std::string> meta = MetaCharset(document)) {
    // A page whose markup can be read byte by byte cannot be UTF-16.
    if (meta->starts_with("utf-16")) return "utf-8";
    return DecoderFor(*meta);
  }
  return IsUtf8Text(document) ? "utf-8" : "";
}

std::optional<std::string> DecodePage(std::string_view contentType, std::string_view document) {
  std::string charset = PageCharset(contentType, document);
  if (charset.empty()) return std::nullopt;
  return DecodeToCp1252(document, charset);
}
