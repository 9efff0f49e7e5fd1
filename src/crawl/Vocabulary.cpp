#include "Vocabulary.h"

#include <algorithm>
#include <utility>

#include "WordList.h"

namespace {

bool IsSpace(unsigned char c) { return c <= ' ' || c == 0xA0; }

// "&#N;" ending just before `end`: its length, else 0 (a reference is one
// character and is never cut).
std::size_t ReferenceEndingAt(std::string_view text, std::size_t end) {
  if (end < 4 || text[end - 1] != ';') return 0;
  std::size_t at = end - 1;
  while (at > 0 && end - at < 12 && text[at - 1] >= '0' && text[at - 1] <= '9') --at;
  if (at == end - 1 || at < 2 || text[at - 1] != '#' || text[at - 2] != '&') return 0;
  return end - (at - 2);
}

std::size_t ReferenceStartingAt(std::string_view text, std::size_t at) {
  if (at + 3 >= text.size() || text[at] != '&' || text[at + 1] != '#') return 0;
  std::size_t end = at + 2;
  while (end < text.size() && end - at < 12 && text[end] >= '0' && text[end] <= '9') ++end;
  if (end == at + 2 || end >= text.size() || text[end] != ';') return 0;
  return end + 1 - at;
}

// Moves `at` back (or on) by up to `chars` characters.
std::size_t StepBack(std::string_view text, std::size_t at, std::size_t chars) {
  for (; chars > 0 && at > 0; --chars) {
    const std::size_t reference = ReferenceEndingAt(text, at);
    at -= reference ? reference : 1;
  }
  return at;
}

std::size_t StepOn(std::string_view text, std::size_t at, std::size_t chars) {
  for (; chars > 0 && at < text.size(); --chars) {
    const std::size_t reference = ReferenceStartingAt(text, at);
    at += reference ? reference : 1;
  }
  return at;
}

std::size_t Characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); ++count) {
    const std::size_t reference = ReferenceStartingAt(text, at);
    at += reference ? reference : 1;
  }
  return count;
}

// Steps through a text by characters. Where no reference is near, as
// around most words, a character is a byte, and walking each byte to look
// for references would cost a fifth of a run that keeps contexts.
class TCharacterWalk {
 public:
  // Characters from `from` - `reach` to `to` + `reach`, and no further.
  TCharacterWalk(std::string_view text, std::size_t from, std::size_t to, std::size_t reach)
      : text_(text) {
    constexpr std::size_t kLongestReference = 12;
    const std::size_t lo = from > reach + kLongestReference ? from - reach - kLongestReference : 0;
    const std::size_t hi = std::min(text.size(), to + reach + kLongestReference);
    plain_ = text.substr(lo, hi - lo).find('&') == std::string_view::npos;
  }
  std::size_t Back(std::size_t at, std::size_t chars) const {
    return plain_ ? at - std::min(at, chars) : StepBack(text_, at, chars);
  }
  std::size_t On(std::size_t at, std::size_t chars) const {
    return plain_ ? std::min(text_.size(), at + chars) : StepOn(text_, at, chars);
  }
  std::size_t Count(std::size_t from, std::size_t to) const {
    return plain_ ? to - from : Characters(text_.substr(from, to - from));
  }

 private:
  std::string_view text_;
  bool plain_ = false;
};

// Where up to `limit` characters of `text` around [offset, offset + length)
// begin and end, whole words only (ContextLine makes them one line).
std::pair<std::size_t, std::size_t> ContextAround(std::string_view text, std::size_t offset,
                                                  std::size_t length, std::size_t limit) {
  const TCharacterWalk walk(text, offset, offset + length, limit);
  const std::size_t wordChars = walk.Count(offset, offset + length);
  std::size_t begin = offset;
  std::size_t end = offset + length;
  if (wordChars < limit) {
    const std::size_t spare = limit - wordChars;
    begin = walk.Back(offset, spare / 2);
    end = walk.On(end, spare - walk.Count(begin, offset));
    // What the left side left unused goes to the right and back.
    begin = walk.Back(begin, limit - walk.Count(begin, end));
    // A word cut at either edge is left out.
    if (begin > 0 && !IsSpace(static_cast<unsigned char>(text[begin - 1]))) {
      while (begin < offset && !IsSpace(static_cast<unsigned char>(text[begin]))) ++begin;
    }
    if (end < text.size() && !IsSpace(static_cast<unsigned char>(text[end]))) {
      while (end > offset + length && !IsSpace(static_cast<unsigned char>(text[end - 1]))) --end;
    }
  }
  return {begin, end};
}

bool IsLineBreakOrBlank(unsigned char c) { return c <= ' ' || c == 0x7F; }

}  // namespace

std::string_view ContextLine(std::string_view text, std::string& line) {
  bool oneLine = text.empty() || (!IsLineBreakOrBlank(static_cast<unsigned char>(text.front())) &&
                                  !IsLineBreakOrBlank(static_cast<unsigned char>(text.back())));
  for (std::size_t at = 0; oneLine && at < text.size(); ++at) {
    const auto c = static_cast<unsigned char>(text[at]);
    oneLine = !IsLineBreakOrBlank(c) || (c == ' ' && at + 1 < text.size() && text[at + 1] != ' ');
  }
  if (oneLine) return text;
  line.clear();
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsLineBreakOrBlank(c)) {
      if (!line.empty() && line.back() != ' ') line += ' ';
    } else {
      line += ch;
    }
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

TVocabulary::TVocabulary(TVocabularyOptions options) : options_(std::move(options)) {
  options_.Groups = std::max<std::size_t>(options_.Groups, 1);
  totals_.assign(options_.Groups + 1, 0);
}

void TVocabulary::AddListEntries(const WordList& words) {
  const auto& entries = words.Entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EntryOfListIndex(*words.FindWord(entries[i].Caption), entries[i].Caption);
  }
}

void TVocabulary::StartPage(std::string_view address) {
  ++pageSerial_;
  pageAddress_.assign(address);
  pageStored_ = false;
}

void TVocabulary::StartText(std::string_view text) {
  text_ = text;
  ++textSerial_;
  run_.clear();
  runStart_.clear();
}

std::uint32_t TVocabulary::EntryOf(std::string_view key, std::uint32_t words, std::uint32_t hash,
                                   bool& added) {
  added = false;
  std::uint32_t id = index_.Find(hash, [&](std::uint32_t at) {
    return entries_[at].Words == words && EqualIgnoringCase(entries_[at].Text, key);
  });
  if (id != TIndexTable::kNone) return id;
  id = static_cast<std::uint32_t>(entries_.size());
  TVocabularyEntry& entry = entries_.emplace_back();
  entry.Text = texts_.Keep(key);
  entry.Words = words;
  index_.Insert(hash, id);
  added = true;
  return id;
}

std::uint32_t TVocabulary::EntryOfListIndex(std::size_t listIndex, std::string_view caption) {
  if (entryOfList_.size() <= listIndex) entryOfList_.resize(listIndex + 1, kUnknown);
  std::uint32_t& id = entryOfList_[listIndex];
  if (id != kUnknown) return id;
  std::optional<std::string> key;
  if (options_.KeyOf) {
    key = options_.KeyOf(caption);
  } else {
    key.emplace(caption);
  }
  bool added = false;
  id = key && !key->empty() ? EntryOf(*key, 1, WordKeyHash(*key), added) : kDropped;
  return id;
}

void TVocabulary::Occurred(std::size_t listIndex, std::string_view caption, std::size_t offset,
                           std::size_t length) {
  const std::uint32_t id = EntryOfListIndex(listIndex, caption);
  if (id == kDropped) {
    run_.clear();
    runStart_.clear();
    return;
  }
  Count(id, offset, length);
  if (options_.Groups < 2) return;
  if (run_.size() == options_.Groups) {
    run_.erase(run_.begin());
    runStart_.erase(runStart_.begin());
  }
  run_.push_back(id);
  runStart_.push_back(offset);
  CountGroups(offset, length);
}

// The groups ending with the word just counted: the last two words of the
// run, the last three, and so on. Their keys are made first and their
// slots of the index fetched together: most groups are new, and each
// lookup would wait for memory on its own.
void TVocabulary::CountGroups(std::size_t offset, std::size_t length) {
  if (groupKeys_.size() < run_.size() + 1) groupKeys_.resize(run_.size() + 1);
  if (groupHashes_.size() < run_.size() + 1) groupHashes_.resize(run_.size() + 1);
  for (std::size_t n = 2; n <= run_.size(); ++n) {
    std::string& key = groupKeys_[n];
    key.clear();
    for (std::size_t i = run_.size() - n; i < run_.size(); ++i) {
      if (!key.empty()) key += ' ';
      key += entries_[run_[i]].Text;
    }
    groupHashes_[n] = WordKeyHash(key);
    index_.Prefetch(groupHashes_[n]);
  }
  for (std::size_t n = 2; n <= run_.size(); ++n) {
    bool added = false;
    const std::uint32_t id =
        EntryOf(groupKeys_[n], static_cast<std::uint32_t>(n), groupHashes_[n], added);
    const std::size_t start = runStart_[run_.size() - n];
    Count(id, start, offset + length - start);
  }
}

void TVocabulary::Count(std::uint32_t id, std::size_t offset, std::size_t length) {
  TVocabularyEntry& entry = entries_[id];
  if (entry.Count != UINT64_MAX) ++entry.Count;
  ++totals_[entry.Words];
  if (entry.Pages != 0 && entry.LastPage == pageSerial_) return;
  entry.LastPage = pageSerial_;
  if (entry.Pages != UINT32_MAX) ++entry.Pages;
  if (entry.FirstPage != TVocabularyEntry::kNoPage) return;
  if (!pageStored_) {
    pages_.push_back(texts_.Keep(pageAddress_));
    pageStored_ = true;
  }
  entry.FirstPage = static_cast<std::uint32_t>(pages_.size() - 1);
  if (options_.Context > 0 && offset + length <= text_.size()) KeepContext(entry, offset, length);
}

// The contexts of neighbouring entries overlap: a word's, its groups', the
// next word's. Each is a piece of a stretch of the text node kept once,
// which reaches a few contexts ahead of the first that needed it.
void TVocabulary::KeepContext(TVocabularyEntry& entry, std::size_t offset, std::size_t length) {
  const auto [begin, end] = ContextAround(text_, offset, length, options_.Context);
  const bool inStretch = stretchText_ == textSerial_ && begin >= stretchBegin_ &&
                         end <= stretchBegin_ + stretch_.size();
  if (!inStretch) {
    const std::size_t stop = std::min(text_.size(), std::max(end, begin + 2 * options_.Context + 64));
    stretch_ = texts_.Keep(text_.substr(begin, stop - begin));
    stretchBegin_ = begin;
    stretchText_ = textSerial_;
  }
  entry.Context = stretch_.substr(begin - stretchBegin_, end - begin);
}
