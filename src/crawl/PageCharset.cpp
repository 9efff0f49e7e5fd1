#include "PageCharset.h"

#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "AsciiCase.h"
#include "ByteScan.h"
#include "Utf8Text.h"
#include "Windows1252.h"

namespace {

constexpr size_t kMetaScanBytes = 1024;

// Pages are decoded this many bytes at a time (the last piece up to twice
// as many), so that no UTF-16 copy of a whole page is made.
constexpr size_t kDecodePieceBytes = 16 * 1024;
// A piece of a byte or two can leave a sequence cut twice, which ICU's
// decoders do not always join as in one piece.
constexpr size_t kMinDecodePieceBytes = 16;

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

bool HasOwnByte(char16_t unit) { return unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF); }

// Decoded text, piece by piece, as Windows-1252 bytes: appended to the page's
// text, or only counted, so that the text can first be given its exact size.
// Counting writes each piece into a scratch string and clears it, so that the
// one notation of AppendAsCp1252 also decides the count.
class TCp1252Sink {
 public:
  // Appends to *text (not owned); only counts when `text` is null.
  explicit TCp1252Sink(std::string* text) : text_(text) {}

  // Bytes that are Windows-1252 already.
  void AppendBytes(std::string_view bytes) {
    Finish();
    if (text_) text_->append(bytes);
    size_ += bytes.size();
  }

  // A high surrogate waits for the next unit, which may come with the next
  // piece: decoding in pieces can cut a pair in two.
  void AppendUnits(std::u16string_view units) {
    std::string& out = Target();
    size_t before = out.size();
    for (char16_t unit : units) {
      if (high_ != 0) {
        char16_t high = std::exchange(high_, 0);
        if (QChar::isLowSurrogate(unit)) {
          AppendAsCp1252(out, QChar::surrogateToUcs4(high, unit));
          continue;
        }
        AppendAsCp1252(out, high);
      }
      if (HasOwnByte(unit)) {
        out.push_back(static_cast<char>(unit));
      } else if (QChar::isHighSurrogate(unit)) {
        high_ = unit;
      } else {
        AppendAsCp1252(out, unit);
      }
    }
    size_ += out.size() - before;
  }

  // The end of the text, or of a piece that no later unit continues: a high
  // surrogate still waiting stands alone.
  void Finish() {
    if (high_ == 0) return;
    std::string& out = Target();
    size_t before = out.size();
    AppendAsCp1252(out, std::exchange(high_, 0));
    size_ += out.size() - before;
  }

  size_t Size() const { return size_; }

 private:
  std::string& Target() {
    if (text_) return *text_;
    scratch_.clear();
    return scratch_;
  }

  std::string* text_;
  std::string scratch_;  // one piece's bytes while counting
  size_t size_ = 0;
  char16_t high_ = 0;  // a high surrogate waiting for its low half
};

// Decodes one piece into `buffer`, which grows to the largest piece's size.
std::u16string_view DecodePiece(QStringDecoder& decoder, std::string_view bytes,
                                std::vector<char16_t>& buffer) {
  QByteArrayView in(bytes.data(), static_cast<qsizetype>(bytes.size()));
  size_t space = static_cast<size_t>(decoder.requiredSpace(in.size()));
  if (buffer.size() < space) buffer.resize(space);
  QChar* begin = reinterpret_cast<QChar*>(buffer.data());
  return {buffer.data(), static_cast<size_t>(decoder.appendToBuffer(begin, in) - begin)};
}

bool IsHighByte(char c) { return static_cast<unsigned char>(c) >= 0x80; }
bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The end of the UTF-8 piece that begins at `at`, a byte from 128 up: the end
// of its run of such bytes or, in a run longer than `pieceBytes`, a cut where
// the decoder starts afresh anyway: before a byte that cannot continue a
// sequence, or else after three that can (a sequence spanning that cut would
// need five bytes).
const char* Utf8PieceEnd(const char* at, const char* end, size_t pieceBytes) {
  const char* limit = at + std::min(pieceBytes, static_cast<size_t>(end - at));
  const char* runEnd = std::find_if_not(at, limit, IsHighByte);
  if (runEnd < limit || limit == end) return runEnd;
  for (const char* cut = limit; cut >= limit - 3; --cut) {
    if (!IsContinuationByte(*cut)) return cut;
  }
  return limit;
}

// UTF-8 pages: ASCII bytes are the same in UTF-8 and Windows-1252 and are
// copied as they stand; only the runs of other bytes go through the decoder.
// A malformed sequence costs the decoder its first byte only (one U+FFFD),
// so it comes to every byte that cannot continue a sequence with nothing
// held: pieces cut there decode on their own as the whole text would.
void DecodeUtf8(std::string_view bytes, size_t pieceBytes, TCp1252Sink& sink) {
  // A byte-order mark is dropped at the start of the text only; the decoder
  // would drop one at the start of every piece.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                     QStringConverter::Flag::ConvertInitialBom);
  std::vector<char16_t> buffer;
  const char* at = bytes.data();
  const char* end = at + bytes.size();
  while (at < end) {
    const char* high = FindFirstHighByte(at, end);
    sink.AppendBytes(std::string_view(at, high - at));
    for (at = high; at < end && IsHighByte(*at);) {
      const char* pieceEnd = Utf8PieceEnd(at, end, pieceBytes);
      sink.AppendUnits(DecodePiece(decoder, std::string_view(at, pieceEnd - at), buffer));
      at = pieceEnd;
    }
  }
  sink.Finish();
}

// A decoder that keeps a sequence cut at the end of one piece for the next,
// told before the last piece that the text ends there: what is left
// unfinished then is malformed, as when the whole text is decoded at once.
// Qt has no call for that; the flag lives in the converter's state, which a
// subclass may reach.
class TPieceDecoder : public QStringDecoder {
 public:
  explicit TPieceDecoder(const char* name) : QStringDecoder(name, Flag::Default) {}
  void MarkLastPiece() { state.flags |= Flag::Stateless; }
};

// Pages in the other sets, a piece at a time. The last piece is at least
// `pieceBytes` long: given only a byte or two after a cut sequence, Qt's
// decoders keep them instead of finishing it (UTF-16 and UTF-32 even at the
// end of the text, where it is malformed).
void DecodeInPieces(std::string_view bytes, const std::string& charset, size_t pieceBytes,
                    TCp1252Sink& sink) {
  TPieceDecoder decoder(charset.c_str());
  std::vector<char16_t> buffer;
  while (!bytes.empty()) {
    size_t take = bytes.size() < 2 * pieceBytes ? bytes.size() : pieceBytes;
    if (take == bytes.size()) decoder.MarkLastPiece();
    sink.AppendUnits(DecodePiece(decoder, bytes.substr(0, take), buffer));
    bytes.remove_prefix(take);
  }
  sink.Finish();
}

// Names of Qt's own UTF-8 decoder, which cannot take a text in pieces (a
// sequence cut between two is not always finished as in one piece); Qt's
// local 8-bit set on Unix is UTF-8 too.
bool IsQtUtf8(const std::string& charset) {
  std::optional<QStringConverter::Encoding> encoding =
      QStringConverter::encodingForName(charset.c_str());
  return encoding == QStringConverter::Utf8 || encoding == QStringConverter::System;
}

// Runs `decode` twice: counting, then writing into a string of exactly that
// size. Growing the text as it comes would leave up to twice its size
// allocated, and a page of Cyrillic writes seven bytes a letter.
template <class Decode>
std::string CountedThenWritten(Decode decode) {
  TCp1252Sink counter(nullptr);
  decode(counter);
  std::string text;
  text.reserve(counter.Size());
  TCp1252Sink writer(&text);
  decode(writer);
  return text;
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

std::string DecodeToCp1252(std::string_view bytes, const std::string& charset) {
  return DecodeToCp1252(bytes, charset, kDecodePieceBytes);
}

std::string DecodeToCp1252(std::string_view bytes, const std::string& charset, size_t pieceBytes) {
  pieceBytes = std::max(pieceBytes, kMinDecodePieceBytes);
  if (charset == "utf-8" || IsQtUtf8(charset)) {
    return CountedThenWritten([&](TCp1252Sink& sink) { DecodeUtf8(bytes, pieceBytes, sink); });
  }
  return CountedThenWritten(
      [&](TCp1252Sink& sink) { DecodeInPieces(bytes, charset, pieceBytes, sink); });
}
