#include "CharsetDecode.h"

#include <QString>
#include <QStringDecoder>
#include <algorithm>
#include <utility>
#include <vector>

#include "ByteScan.h"
#include "Windows1252.h"

namespace {

// Texts are decoded this many bytes at a time (the last piece up to twice
// as many), so that no UTF-16 copy of a whole text is made.
constexpr size_t kDecodePieceBytes = 16 * 1024;
// A piece of a byte or two can leave a sequence cut twice, which ICU's
// decoders do not always join as in one piece.
constexpr size_t kMinDecodePieceBytes = 16;

bool HasOwnByte(char16_t unit) { return unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF); }

// Decoded text, piece by piece, as Windows-1252 bytes: appended to the
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

// UTF-8 texts: ASCII bytes are the same in UTF-8 and Windows-1252 and are
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

// Texts in the other sets, a piece at a time. The last piece is at least
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
