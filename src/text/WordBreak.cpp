#include "WordBreak.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/ubrk.h>
#include <unicode/unistr.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "Windows1252.h"

namespace {

constexpr char16_t kSoftHyphen = 0x00AD;

// The text as ICU reads it, with the byte offset each UTF-16 unit came from;
// Offsets has one more entry, the text's length, so that a boundary at the
// end maps too. Both halves of a surrogate pair carry the reference's offset.
struct TUtf16Text {
  std::u16string Units;
  std::vector<std::uint32_t> Offsets;
};

void AppendUnits(TUtf16Text& out, char32_t ch, std::size_t offset) {
  auto from = static_cast<std::uint32_t>(offset);
  if (ch > 0xFFFF) {
    out.Units.push_back(static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10)));
    out.Units.push_back(static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
    out.Offsets.insert(out.Offsets.end(), 2, from);
    return;
  }
  out.Units.push_back(static_cast<char16_t>(ch));
  out.Offsets.push_back(from);
}

// A reference is at least four bytes and gives at most two units, so the
// copy never holds more units than the text has bytes.
TUtf16Text ToUtf16(std::string_view text) {
  TUtf16Text out;
  out.Units.reserve(text.size());
  out.Offsets.reserve(text.size() + 1);
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 0;
    if (text[at] == '&') {
      if (std::optional<char32_t> ch = DecimalCharReference(text, at, length)) {
        AppendUnits(out, *ch, at);
        at += length;
        continue;
      }
    }
    AppendUnits(out, Cp1252Char(static_cast<unsigned char>(text[at])), at);
    ++at;
  }
  out.Offsets.push_back(static_cast<std::uint32_t>(text.size()));
  return out;
}

// Making a word break iterator loads and compiles rules, far too costly per
// text: each thread keeps the one it made, or remembers that ICU refused.
icu::BreakIterator* ThreadWordIterator() {
  struct TThreadIterator {
    std::unique_ptr<icu::BreakIterator> iterator;
    bool tried = false;
  };
  thread_local TThreadIterator kept;
  if (!kept.tried) {
    kept.tried = true;
    UErrorCode status = U_ZERO_ERROR;
    kept.iterator.reset(icu::BreakIterator::createWordInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) kept.iterator.reset();
  }
  return kept.iterator.get();
}

bool IsHyphen(char16_t unit) {
  return unit == u'-' || unit == 0x2010 || unit == 0x2011 || unit == kSoftHyphen;
}

// Collects ICU's word segments, in UTF-16 units, into words: a segment that
// follows the current word across exactly one hyphen extends it.
class TWordCollector {
 public:
  explicit TWordCollector(const TUtf16Text& text) : text_(text) {}

  void AddSegment(std::int32_t start, std::int32_t end, bool isWord) {
    if (isWord) {
      if (hyphenAfterWord_) {
        wordEnd_ = end;
      } else {
        Flush();
        wordStart_ = start;
        wordEnd_ = end;
      }
      hyphenAfterWord_ = false;
      return;
    }
    hyphenAfterWord_ =
        HasWord() && start == wordEnd_ && end - start == 1 && IsHyphen(text_.Units[start]);
  }

  std::vector<TWordSpan> Finish() {
    Flush();
    return std::move(words_);
  }

 private:
  bool HasWord() const { return wordEnd_ > wordStart_; }

  // A soft hyphen only says where a line may break: "Haus\xAD" is "Haus".
  void Flush() {
    while (HasWord() && text_.Units[wordEnd_ - 1] == kSoftHyphen) --wordEnd_;
    if (HasWord()) {
      std::size_t from = text_.Offsets[wordStart_];
      words_.push_back({from, text_.Offsets[wordEnd_] - from});
    }
    wordStart_ = wordEnd_ = 0;
  }

  const TUtf16Text& text_;
  std::vector<TWordSpan> words_;
  std::int32_t wordStart_ = 0, wordEnd_ = 0;
  bool hyphenAfterWord_ = false;
};

std::vector<TWordSpan> BreakIntoWords(icu::BreakIterator& iterator, const TUtf16Text& text) {
  // An alias, not a copy: the iterator reads the units where they are. It
  // keeps pointing at them after this call, but every call sets its own text
  // before it reads.
  icu::UnicodeString alias(false, text.Units.data(), static_cast<std::int32_t>(text.Units.size()));
  iterator.setText(alias);
  TWordCollector collector(text);
  std::int32_t start = iterator.first();
  for (std::int32_t end = iterator.next(); end != icu::BreakIterator::DONE;
       start = end, end = iterator.next()) {
    collector.AddSegment(start, end, iterator.getRuleStatus() >= UBRK_WORD_NONE_LIMIT);
  }
  return collector.Finish();
}

bool IsSeparatorByte(char byte) {
  switch (static_cast<unsigned char>(byte)) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
    case 0xA0:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<TWordSpan> UnicodeWords(std::string_view text) {
  icu::BreakIterator* iterator = ThreadWordIterator();
  if (iterator == nullptr || text.size() > std::numeric_limits<std::int32_t>::max()) {
    return SpaceSeparatedWords(text);
  }
  return BreakIntoWords(*iterator, ToUtf16(text));
}

std::vector<TWordSpan> SpaceSeparatedWords(std::string_view text) {
  std::vector<TWordSpan> words;
  std::size_t at = 0;
  while (at < text.size()) {
    while (at < text.size() && IsSeparatorByte(text[at])) ++at;
    std::size_t start = at;
    while (at < text.size() && !IsSeparatorByte(text[at])) ++at;
    if (at > start) words.push_back({start, at - start});
  }
  return words;
}
