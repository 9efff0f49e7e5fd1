#include "VocabularyOutput.h"

#include <unicode/coll.h>
#include <unicode/sortkey.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <numeric>
#include <utility>

#include "Cp1252Case.h"
#include "Utf8Text.h"
#include "WordList.h"

namespace {

// The rows in the order they are written, by their places.
using TRowOrder = std::vector<std::size_t, TLargeAllocator<std::size_t>>;

// The counts of a TSV or reference line: digits only.
std::optional<std::uint64_t> CountField(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [at, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || at != end) return std::nullopt;
  return value;
}

void AppendTsvField(std::string& out, std::string_view utf8) {
  if (utf8.find_first_of("\\\t\n\r") == std::string_view::npos) {
    out += utf8;
    return;
  }
  for (char c : utf8) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

std::string TsvFieldText(std::string_view field) {
  std::string text;
  text.reserve(field.size());
  for (std::size_t at = 0; at < field.size(); ++at) {
    if (field[at] != '\\' || at + 1 == field.size()) {
      text += field[at];
      continue;
    }
    const char next = field[++at];
    text += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
  }
  return text;
}

// A TSV field as Windows-1252 text: as it stands when it is ASCII without
// escapes (most are), else made in `kept`.
std::string_view FieldText(std::string_view field, std::string& kept) {
  const bool plain = std::all_of(field.begin(), field.end(), [](char c) {
    return c != '\\' && static_cast<unsigned char>(c) < 0x80;
  });
  if (plain) return field;
  kept = Utf8ToCp1252(TsvFieldText(field));
  return kept;
}

void AppendCsvField(std::string& out, std::string_view utf8) {
  if (utf8.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += utf8;
    return;
  }
  out += '"';
  for (char c : utf8) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  out += '"';
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendNumber(std::string& out, std::uint64_t number) {
  char digits[24];
  const auto [end, failure] = std::to_chars(digits, digits + sizeof digits, number);
  out.append(digits, static_cast<std::size_t>(end - digits));
}

std::string KeyText(double key) {
  char text[64];
  auto [end, failure] = std::to_chars(text, text + sizeof text, key, std::chars_format::fixed, 3);
  if (failure != std::errc()) return "0";
  return std::string(text, end);
}

std::uint32_t WordsOf(std::string_view text) {
  return 1 + static_cast<std::uint32_t>(std::count(text.begin(), text.end(), ' '));
}

bool HasUmlaut(std::string_view text) {
  return text.find_first_of("\xE4\xF6\xFC\xC4\xD6\xDC\xDF") != std::string_view::npos;
}

// Lower case, then the umlauts as asked: the rows as they are written,
// kept by `spelled` when they change. A sum of spellings that stops at the
// largest count is written so: only figures read from files come near it,
// and --merge has refused those already.
TRowSource Spelled(const TRowSource& rows, const TVocabularyOutput& output, TRowMerge& spelled) {
  if (!output.Lowercase && output.Umlauts == TUmlauts::Keep) return rows;
  std::string text;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TVocabularyRow row = rows[i];
    TVocabularyRow respelled = row;
    text = output.Lowercase ? LowerCp1252(row.Text) : std::string(row.Text);
    if (output.Umlauts == TUmlauts::Keep || !HasUmlaut(text)) {
      respelled.Text = text;
      spelled.Add(respelled);
      continue;
    }
    const std::string ascii = TransliterateUmlauts(text);
    respelled.Text = output.Umlauts == TUmlauts::Ascii ? ascii : text;
    spelled.Add(respelled);
    if (output.Umlauts == TUmlauts::Both) {
      respelled.Text = ascii;
      spelled.Add(respelled);
    }
  }
  return TRowSource(spelled.Rows());
}

// Dictionary order of the words (Unicode collation, root locale), ties in
// order of first occurrence; without a collator, code point order.
void SortAlphabetically(const TRowSource& rows, TRowOrder& order) {
  std::vector<std::string> keys(rows.size());
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(icu::Locale::getRoot(), status));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string utf8 = Cp1252ToUtf8(rows[i].Text);
    if (!collator || U_FAILURE(status)) {
      keys[i] = utf8;
      continue;
    }
    icu::CollationKey key;
    UErrorCode keyStatus = U_ZERO_ERROR;
    collator->getCollationKey(icu::UnicodeString::fromUTF8(utf8), key, keyStatus);
    int32_t length = 0;
    const uint8_t* bytes = key.getByteArray(length);
    keys[i].assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
}

// Most occurrences first (with `pagesFirst`, most pages, then most
// occurrences), ties in order of first occurrence, which is the place.
// The counts are sorted beside the places: comparing the rows themselves
// would fetch each from anywhere in memory, many times over.
void SortByCounts(const TRowSource& rows, bool pagesFirst, TRowOrder& order) {
  // Most often each count and place fits 32 bits: both are then one number
  // sorted where the order is made, the fewer occurrences the higher.
  constexpr std::uint64_t kMost32 = UINT32_MAX;
  bool packed = !pagesFirst && rows.size() <= kMost32;
  for (std::size_t i = 0; packed && i < rows.size(); ++i) {
    const std::uint64_t count = rows[i].Count;
    packed = count <= kMost32;
    order[i] = (kMost32 - count) << 32 | i;
  }
  if (packed) {
    std::sort(order.begin(), order.end());
    for (std::size_t& place : order) place &= kMost32;
    return;
  }
  struct TKey {
    std::uint64_t First, Second;
    std::size_t Place;
  };
  std::vector<TKey, TLargeAllocator<TKey>> keys;
  keys.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TVocabularyRow row = rows[i];
    keys.push_back(pagesFirst ? TKey{row.Pages, row.Count, i} : TKey{row.Count, 0, i});
  }
  std::sort(keys.begin(), keys.end(), [](const TKey& a, const TKey& b) {
    if (a.First != b.First) return a.First > b.First;
    if (a.Second != b.Second) return a.Second > b.Second;
    return a.Place < b.Place;
  });
  for (std::size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].Place;
}

// The keyness of each row against the reference (groups against groups of
// as many words); empty without a reference.
std::vector<double> KeysOf(const TRowSource& rows,
                           const TReferenceCounts* reference) {
  std::vector<double> keys;
  if (!reference) return keys;
  std::vector<std::uint64_t> totals;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TVocabularyRow row = rows[i];
    if (totals.size() <= row.Words) totals.resize(row.Words + 1, 0);
    totals[row.Words] += row.Count;
  }
  keys.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const TVocabularyRow row = rows[i];
    keys.push_back(Keyness(row.Count, totals[row.Words], reference->CountOf(row.Text),
                           reference->Total(row.Words)));
  }
  return keys;
}

}  // namespace

double Keyness(std::uint64_t here, std::uint64_t totalHere, std::uint64_t there,
               std::uint64_t totalThere) {
  if (totalHere == 0 || totalThere == 0) return 0;
  const double a = static_cast<double>(here), b = static_cast<double>(there);
  const double c = static_cast<double>(totalHere), d = static_cast<double>(totalThere);
  const double expectedHere = c * (a + b) / (c + d);
  const double expectedThere = d * (a + b) / (c + d);
  double g2 = 0;
  if (a > 0) g2 += a * std::log(a / expectedHere);
  if (b > 0) g2 += b * std::log(b / expectedThere);
  g2 *= 2;
  return a / c < b / d ? -g2 : g2;
}

std::string TransliterateUmlauts(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 4);
  for (char c : text) {
    switch (static_cast<unsigned char>(c)) {
      case 0xE4: out += "ae"; break;
      case 0xF6: out += "oe"; break;
      case 0xFC: out += "ue"; break;
      case 0xC4: out += "Ae"; break;
      case 0xD6: out += "Oe"; break;
      case 0xDC: out += "Ue"; break;
      case 0xDF: out += "ss"; break;
      default: out += c;
    }
  }
  return out;
}

std::uint32_t TRowMerge::Find(std::string_view text, std::uint32_t hash) const {
  return index_.Find(hash, [&](std::uint32_t i) { return EqualIgnoringCase(rows_[i].Text, text); });
}

// `sum` plus `more`, at most the largest count; false when it had to stop there.
bool AddCount(std::uint64_t& sum, std::uint64_t more) {
  if (__builtin_add_overflow(sum, more, &sum)) {
    sum = std::numeric_limits<std::uint64_t>::max();
    return false;
  }
  return true;
}

bool TRowMerge::Add(const TVocabularyRow& row, std::uint32_t hash) {
  const std::uint32_t at = Find(row.Text, hash);
  if (at == TIndexTable::kNone) {
    TVocabularyRow kept = row;
    kept.Text = texts_.Keep(row.Words > 1 ? Respelled(row.Text) : std::string(row.Text));
    kept.FirstPage = KeptPage(row.FirstPage);
    kept.Context = texts_.Keep(row.Context);
    index_.Insert(hash, static_cast<std::uint32_t>(rows_.size()));
    rows_.push_back(kept);
    return true;
  }
  TVocabularyRow& first = rows_[at];
  const bool counted = AddCount(first.Count, row.Count);
  const bool paged = AddCount(first.Pages, row.Pages);
  if (first.FirstPage.empty() && !row.FirstPage.empty()) {
    first.FirstPage = KeptPage(row.FirstPage);
    first.Context = texts_.Keep(row.Context);
  }
  return counted && paged;
}

// A page is the first page of many entries, and in order of first
// occurrence they follow each other: such a run keeps the page once.
std::string_view TRowMerge::KeptPage(std::string_view address) {
  if (address != lastPage_) lastPage_ = texts_.Keep(address);
  return lastPage_;
}

// A run writes a group with the first spellings of its words: a group new
// to the merge takes the spellings of the words merged before it (its
// words come before it in every part).
std::string TRowMerge::Respelled(std::string_view group) const {
  std::string text;
  std::size_t start = 0;
  for (std::size_t end = 0; end <= group.size(); ++end) {
    if (end < group.size() && group[end] != ' ') continue;
    const std::string_view word = group.substr(start, end - start);
    const std::uint32_t at = Find(word, WordKeyHash(word));
    if (start > 0) text += ' ';
    text += at == TIndexTable::kNone ? word : rows_[at].Text;
    start = end + 1;
  }
  return text;
}

namespace {

// Where each field of a TSV line of a vocabulary is: the header's names.
struct TTsvColumns {
  std::size_t Context = std::string_view::npos;
  std::size_t Fields = 4;  // the fields read of each line
};

// The fields of `line` up to `fields`; fewer when the line has fewer.
std::size_t SplitFields(std::string_view line, std::string_view* out, std::size_t fields) {
  std::size_t count = 0;
  for (std::size_t start = 0; count < fields;) {
    const std::size_t end = line.find('\t', start);
    out[count++] = line.substr(start, end == std::string_view::npos ? end : end - start);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return count;
}

}  // namespace

// A row of a TSV file waiting in a batch, with room for the fields that had
// to be converted.
struct TRowMerge::TPendingRow {
  TVocabularyRow Row;
  std::uint32_t Hash = 0;
  std::size_t Line = 0;
  std::string Text, FirstPage, Context;
};

bool TRowMerge::Add(const TVocabularyRow& row) { return Add(row, WordKeyHash(row.Text)); }

// The lookups of a batch start by fetching their slots of the index all at
// once: the index of a large vocabulary is far larger than the caches.
// Returns the place of the first row whose sums stopped at the largest
// count, or `size`.
std::size_t TRowMerge::AddBatch(std::vector<TPendingRow>& batch, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    batch[i].Hash = WordKeyHash(batch[i].Row.Text);
    index_.Prefetch(batch[i].Hash);
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (!Add(batch[i].Row, batch[i].Hash)) return i;
  }
  return size;
}

// Room for the rows of all the files before the first is read, so that
// the rows are never moved as they grow: a row of our TSV takes more than
// 32 bytes. Room never filled costs no memory (its pages are never
// touched); without room the rows grow as usual.
std::optional<std::string> TRowMerge::AddTsvFiles(const std::vector<std::string>& paths) {
  constexpr std::uintmax_t kMostExpected = std::uintmax_t{1} << 25;
  std::uintmax_t bytes = 0;
  for (const std::string& path : paths) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error) bytes += size;
  }
  try {
    rows_.reserve(rows_.size() + static_cast<std::size_t>(std::min(bytes / 32, kMostExpected)));
  } catch (const std::bad_alloc&) {
  }
  for (const std::string& path : paths) {
    if (std::optional<std::string> error = AddTsvFile(path)) return error;
  }
  return std::nullopt;
}

std::optional<std::string> TRowMerge::AddTsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path;
  constexpr std::size_t kBlock = 4 << 20;
  constexpr std::size_t kBatch = 32;
  std::vector<TPendingRow> batch(kBatch);
  std::size_t pending = 0;
  std::optional<TTsvColumns> columns;
  std::unique_ptr<char[]> buffer;
  std::size_t size = 0, filled = 0;
  std::size_t number = 0;
  // Adds the rows waiting; the error of a sum past the largest count, or
  // nullopt.
  auto addBatch = [&]() -> std::optional<std::string> {
    const std::size_t stopped = AddBatch(batch, pending);
    const std::size_t waiting = std::exchange(pending, 0);
    if (stopped == waiting) return std::nullopt;
    const TPendingRow& row = batch[stopped];
    return path + ":" + std::to_string(row.Line) + ": the counts of \"" +
           Cp1252ToUtf8(row.Row.Text) + "\" add up to more than " +
           std::to_string(std::numeric_limits<std::uint64_t>::max());
  };
  // Parses one line into the batch; the error, or nullopt.
  auto takeLine = [&](std::string_view line) -> std::optional<std::string> {
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view fields[8];
    if (!columns) {
      if (!line.starts_with("word\tcount\tpages\tfirst_page")) {
        return path + " is no vocabulary in TSV (its first line is not the header)";
      }
      columns.emplace();
      const std::size_t names = SplitFields(line, fields, std::size(fields));
      for (std::size_t i = 4; i < names; ++i) {
        if (fields[i] == "context") {
          columns->Context = i;
          columns->Fields = i + 1;
        }
      }
      return std::nullopt;
    }
    const std::size_t count = SplitFields(line, fields, columns->Fields);
    TPendingRow& row = batch[pending];
    std::optional<std::uint64_t> occurrences, pages;
    if (count >= 4) {
      occurrences = CountField(fields[1]);
      pages = CountField(fields[2]);
    }
    if (!occurrences || !pages) {
      return path + ":" + std::to_string(number) + ": no entry of a vocabulary";
    }
    row.Row = TVocabularyRow{};
    row.Row.Text = FieldText(fields[0], row.Text);
    row.Row.Count = *occurrences;
    row.Row.Pages = *pages;
    row.Row.FirstPage = FieldText(fields[3], row.FirstPage);
    if (columns->Context < count) row.Row.Context = FieldText(fields[columns->Context], row.Context);
    row.Row.Words = WordsOf(row.Row.Text);
    row.Line = number;
    if (++pending == kBatch) return addBatch();
    return std::nullopt;
  };
  // Blocks of the file, each line parsed where it lies; the rows of a block
  // are added before the next block moves the bytes.
  for (bool end = false; !end;) {
    if (size - filled < kBlock / 2) {  // a line as long as the block
      auto larger = std::make_unique_for_overwrite<char[]>(size + kBlock);
      if (filled > 0) std::memcpy(larger.get(), buffer.get(), filled);
      buffer = std::move(larger);
      size += kBlock;
    }
    in.read(buffer.get() + filled, static_cast<std::streamsize>(size - filled));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) return "cannot read " + path;
    filled += got;
    end = got == 0;
    std::size_t start = 0;
    while (start < filled) {
      const void* lineEnd = std::memchr(buffer.get() + start, '\n', filled - start);
      if (!lineEnd && !end) break;
      const std::size_t stop =
          lineEnd ? static_cast<std::size_t>(static_cast<const char*>(lineEnd) - buffer.get())
                  : filled;
      if (std::optional<std::string> error =
              takeLine(std::string_view(buffer.get() + start, stop - start))) {
        if (std::optional<std::string> stopped = addBatch()) return stopped;
        return error;
      }
      start = stop + 1;
    }
    if (std::optional<std::string> error = addBatch()) return error;
    start = std::min(start, filled);
    std::memmove(buffer.get(), buffer.get() + start, filled - start);
    filled -= start;
  }
  if (!columns) return path + " is no vocabulary in TSV (its first line is not the header)";
  return std::nullopt;
}

std::optional<TReferenceCounts> TReferenceCounts::Read(const std::string& path,
                                                       std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open the reference " + path;
    return std::nullopt;
  }
  TReferenceCounts reference;
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string_view word, count;
    if (const std::size_t tab = line.find('\t'); tab != std::string::npos) {
      word = std::string_view(line).substr(0, tab);
      count = std::string_view(line).substr(tab + 1);
      count = count.substr(0, count.find('\t'));
    } else if (const std::size_t comma = line.rfind(", "); comma != std::string::npos) {
      word = std::string_view(line).substr(0, comma);
      count = std::string_view(line).substr(comma + 2);
    }
    const std::optional<std::uint64_t> value = CountField(count);
    if (word.empty() || !value) continue;
    reference.Add(Utf8ToCp1252(TsvFieldText(word)), *value);
    any = true;
  }
  if (in.bad() || !any) {
    error = "the reference " + path + (any ? " cannot be read" : " holds no word counts");
    return std::nullopt;
  }
  return reference;
}

void TReferenceCounts::Add(std::string_view word, std::uint64_t count) {
  const std::uint32_t words = WordsOf(word);
  if (totals_.size() <= words) totals_.resize(words + 1, 0);
  totals_[words] += count;
  if (std::optional<std::size_t> at = words_.FindWord(word)) {
    counts_[*at] += count;
    return;
  }
  words_.AddWord(std::string(word));
  counts_.push_back(count);
}

std::uint64_t TReferenceCounts::CountOf(std::string_view word) const {
  const std::optional<std::size_t> at = words_.FindWord(word);
  return at ? counts_[*at] : 0;
}

std::uint64_t TReferenceCounts::Total(std::uint32_t words) const {
  return words < totals_.size() ? totals_[words] : 0;
}

std::size_t WriteVocabulary(const TRowSource& original, const TVocabularyOutput& output,
                            const std::function<void(std::string_view)>& write) {
  TRowMerge spelled;
  const TRowSource rows = Spelled(original, output, spelled);
  const std::vector<double> keys = KeysOf(rows, output.Reference);
  // Each order breaks its ties by first occurrence, which is the place:
  // sorting by both needs no stable sort and its buffer.
  TRowOrder order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  auto sortBy = [&](auto before) {
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      if (before(a, b)) return true;
      return !before(b, a) && a < b;
    });
  };
  switch (output.Sort) {
    case TVocabularySort::First:
      break;
    case TVocabularySort::Alpha:
      SortAlphabetically(rows, order);
      break;
    case TVocabularySort::Count:
      SortByCounts(rows, false, order);
      break;
    case TVocabularySort::Pages:
      SortByCounts(rows, true, order);
      break;
    case TVocabularySort::Key:
      if (!keys.empty()) sortBy([&](std::size_t a, std::size_t b) { return keys[a] > keys[b]; });
      break;
  }

  constexpr std::size_t kPiece = 1 << 20;
  if (output.Format == TVocabularyFormat::List || output.Format == TVocabularyFormat::Count) {
    TWordListWriter writer(output.Encoding);
    std::string line;
    for (std::size_t i : order) {
      const TVocabularyRow row = rows[i];
      line = row.Text;
      if (output.Format == TVocabularyFormat::Count) line += ", " + std::to_string(row.Count);
      writer.AddLine(line);
      if (writer.Bytes().size() >= kPiece) {
        write(writer.Bytes());
        writer.ClearBytes();
      }
    }
    writer.Finish();
    write(writer.Bytes());
    return order.size();
  }

  std::string out;
  out.reserve(kPiece + 4096);
  const bool csv = output.Format == TVocabularyFormat::Csv;
  const char* separator = csv ? "," : "\t";
  const char* end = csv ? "\r\n" : "\n";
  if (output.Format != TVocabularyFormat::Jsonl) {
    out += std::string("word") + separator + "count" + separator + "pages" + separator +
           "first_page";
    if (output.Context) out += std::string(separator) + "context";
    if (output.Reference) out += std::string(separator) + "key";
    out += end;
  }
  std::string utf8, line;
  auto field = [&](std::string_view cp1252) {
    // Most fields are ASCII with nothing to escape: as they stand.
    const bool plain = std::all_of(cp1252.begin(), cp1252.end(), [csv](char c) {
      const auto byte = static_cast<unsigned char>(c);
      return byte >= 0x20 && byte < 0x80 && c != '&' && c != '\\' && c != '"' && (c != ',' || !csv);
    });
    if (plain) {
      out += cp1252;
      return;
    }
    utf8 = Cp1252ToUtf8(cp1252);
    if (csv) {
      AppendCsvField(out, utf8);
    } else {
      AppendTsvField(out, utf8);
    }
  };
  auto json = [&](std::string_view cp1252) {
    utf8 = Cp1252ToUtf8(cp1252);
    AppendJsonString(out, utf8);
  };
  for (std::size_t i : order) {
    const TVocabularyRow row = rows[i];
    if (output.Format == TVocabularyFormat::Jsonl) {
      out += "{\"word\":";
      json(row.Text);
      out += ",\"count\":" + std::to_string(row.Count) + ",\"pages\":" + std::to_string(row.Pages) +
             ",\"first_page\":";
      json(row.FirstPage);
      if (output.Context) {
        out += ",\"context\":";
        json(ContextLine(row.Context, line));
      }
      if (output.Reference) out += ",\"key\":" + KeyText(keys[i]);
      out += "}\n";
    } else {
      field(row.Text);
      out += separator;
      AppendNumber(out, row.Count);
      out += separator;
      AppendNumber(out, row.Pages);
      out += separator;
      field(row.FirstPage);
      if (output.Context) {
        out += separator;
        field(ContextLine(row.Context, line));
      }
      if (output.Reference) out += separator + KeyText(keys[i]);
      out += end;
    }
    if (out.size() >= kPiece) {
      write(out);
      out.clear();
    }
  }
  write(out);
  return order.size();
}

std::string FormatVocabulary(std::span<const TVocabularyRow> rows,
                             const TVocabularyOutput& output) {
  std::string bytes;
  WriteVocabulary(rows, output, [&bytes](std::string_view piece) { bytes += piece; });
  return bytes;
}
