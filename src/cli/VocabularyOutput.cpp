#include "VocabularyOutput.h"

#include <unicode/coll.h>
#include <unicode/sortkey.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <numeric>

#include "Cp1252Case.h"
#include "Utf8Text.h"
#include "WordList.h"

namespace {

// The counts of a TSV or reference line: digits only.
std::optional<std::uint64_t> CountField(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  auto [at, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || at != end) return std::nullopt;
  return value;
}

std::vector<std::string_view> SplitAt(std::string_view line, char separator) {
  std::vector<std::string_view> fields;
  for (std::size_t start = 0;;) {
    const std::size_t end = line.find(separator, start);
    fields.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return fields;
    start = end + 1;
  }
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
const std::vector<TVocabularyRow>& Spelled(const std::vector<TVocabularyRow>& rows,
                                           const TVocabularyOutput& output, TRowMerge& spelled) {
  if (!output.Lowercase && output.Umlauts == TUmlauts::Keep) return rows;
  std::string text;
  for (const TVocabularyRow& row : rows) {
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
  return spelled.Rows();
}

// Dictionary order of the words (Unicode collation, root locale), ties in
// order of first occurrence; without a collator, code point order.
void SortAlphabetically(const std::vector<TVocabularyRow>& rows, std::vector<std::size_t>& order) {
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

// The keyness of each row against the reference (groups against groups of
// as many words); empty without a reference.
std::vector<double> KeysOf(const std::vector<TVocabularyRow>& rows,
                           const TReferenceCounts* reference) {
  std::vector<double> keys;
  if (!reference) return keys;
  std::vector<std::uint64_t> totals;
  for (const TVocabularyRow& row : rows) {
    if (totals.size() <= row.Words) totals.resize(row.Words + 1, 0);
    totals[row.Words] += row.Count;
  }
  keys.reserve(rows.size());
  for (const TVocabularyRow& row : rows) {
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

std::vector<TVocabularyRow> RowsOf(const TVocabulary& vocabulary) {
  std::vector<TVocabularyRow> rows;
  rows.reserve(vocabulary.Entries().size());
  for (const TVocabularyEntry& entry : vocabulary.Entries()) {
    TVocabularyRow& row = rows.emplace_back();
    row.Text = entry.Text;
    row.Count = entry.Count;
    row.Pages = entry.Pages;
    row.FirstPage = vocabulary.PageAddress(entry.FirstPage);
    row.Context = entry.Context;
    row.Words = entry.Words;
  }
  return rows;
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

bool TRowMerge::Add(const TVocabularyRow& row) {
  const std::uint32_t hash = WordKeyHash(row.Text);
  const std::uint32_t at = Find(row.Text, hash);
  if (at == TIndexTable::kNone) {
    TVocabularyRow kept = row;
    kept.Text = texts_.Keep(row.Words > 1 ? Respelled(row.Text) : std::string(row.Text));
    kept.FirstPage = texts_.Keep(row.FirstPage);
    kept.Context = texts_.Keep(row.Context);
    index_.Insert(hash, static_cast<std::uint32_t>(rows_.size()));
    rows_.push_back(kept);
    return true;
  }
  TVocabularyRow& first = rows_[at];
  const bool counted = AddCount(first.Count, row.Count);
  const bool paged = AddCount(first.Pages, row.Pages);
  if (first.FirstPage.empty() && !row.FirstPage.empty()) {
    first.FirstPage = texts_.Keep(row.FirstPage);
    first.Context = texts_.Keep(row.Context);
  }
  return counted && paged;
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

std::optional<std::string> TRowMerge::AddTsvFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path;
  std::string line;
  if (!std::getline(in, line) || !line.starts_with("word\tcount\tpages\tfirst_page")) {
    return path + " is no vocabulary in TSV (its first line is not the header)";
  }
  const std::vector<std::string_view> header = SplitAt(line, '\t');
  const auto contextAt = std::find(header.begin(), header.end(), "context") - header.begin();
  for (std::size_t number = 2; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string_view> fields = SplitAt(line, '\t');
    std::optional<std::uint64_t> count, pages;
    if (fields.size() >= 4) {
      count = CountField(fields[1]);
      pages = CountField(fields[2]);
    }
    if (!count || !pages) return path + ":" + std::to_string(number) + ": no entry of a vocabulary";
    std::string textKept, firstPageKept, contextKept;
    TVocabularyRow row;
    row.Text = FieldText(fields[0], textKept);
    row.Count = *count;
    row.Pages = *pages;
    row.FirstPage = FieldText(fields[3], firstPageKept);
    if (contextAt < static_cast<std::ptrdiff_t>(fields.size())) {
      row.Context = FieldText(fields[static_cast<std::size_t>(contextAt)], contextKept);
    }
    row.Words = WordsOf(row.Text);
    if (!Add(row)) {
      return path + ":" + std::to_string(number) + ": the counts of \"" + std::string(fields[0]) +
             "\" add up to more than " + std::to_string(std::numeric_limits<std::uint64_t>::max());
    }
  }
  if (in.bad()) return "cannot read " + path;
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

std::size_t WriteVocabulary(const std::vector<TVocabularyRow>& original,
                            const TVocabularyOutput& output,
                            const std::function<void(std::string_view)>& write) {
  TRowMerge spelled;
  const std::vector<TVocabularyRow>& rows = Spelled(original, output, spelled);
  const std::vector<double> keys = KeysOf(rows, output.Reference);
  // Each order breaks its ties by first occurrence.
  std::vector<std::size_t> order(rows.size());
  std::iota(order.begin(), order.end(), 0);
  auto sortBy = [&](auto before) { std::stable_sort(order.begin(), order.end(), before); };
  switch (output.Sort) {
    case TVocabularySort::First:
      break;
    case TVocabularySort::Alpha:
      SortAlphabetically(rows, order);
      break;
    case TVocabularySort::Count:
      sortBy([&](std::size_t a, std::size_t b) { return rows[a].Count > rows[b].Count; });
      break;
    case TVocabularySort::Pages:
      sortBy([&](std::size_t a, std::size_t b) {
        return rows[a].Pages != rows[b].Pages ? rows[a].Pages > rows[b].Pages
                                              : rows[a].Count > rows[b].Count;
      });
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
      line = rows[i].Text;
      if (output.Format == TVocabularyFormat::Count) line += ", " + std::to_string(rows[i].Count);
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
  std::string utf8;
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
    const TVocabularyRow& row = rows[i];
    if (output.Format == TVocabularyFormat::Jsonl) {
      out += "{\"word\":";
      json(row.Text);
      out += ",\"count\":" + std::to_string(row.Count) + ",\"pages\":" + std::to_string(row.Pages) +
             ",\"first_page\":";
      json(row.FirstPage);
      if (output.Context) {
        out += ",\"context\":";
        json(row.Context);
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
        field(row.Context);
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

std::string FormatVocabulary(const std::vector<TVocabularyRow>& rows,
                             const TVocabularyOutput& output) {
  std::string bytes;
  WriteVocabulary(rows, output, [&bytes](std::string_view piece) { bytes += piece; });
  return bytes;
}
