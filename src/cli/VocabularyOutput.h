// What tirasel-cli writes of a vocabulary (a run's, or several merged): one
// row per entry with its count, pages, first page, context and keyness,
// sorted as asked, as a list, "word, n" lines, TSV, CSV or JSON lines.
//
// Rows hold Windows-1252 texts with "&#N;" references, as the crawl does;
// TSV, CSV and JSON lines are written (and TSV read back) in UTF-8.
//
// TSV: a header row, then one row per entry; the fields word, count, pages,
// first_page, then context (with --context) and key (with --reference).
// A backslash, tab, line feed or carriage return inside a field is written
// "\\", "\t", "\n", "\r". CSV (RFC 4180): the same header and fields, quoted
// where they hold a comma, quote or line break, rows ended by CR LF. JSON
// lines: one object per entry, {"word":..., "count":..., "pages":...,
// "first_page":..., "context":..., "key":...}.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "IndexTable.h"
#include "LargeMemory.h"
#include "OutputFilters.h"
#include "TextStore.h"
#include "Vocabulary.h"
#include "WordListFile.h"

enum class TVocabularyFormat { List, Count, Tsv, Csv, Jsonl };
enum class TVocabularySort { First, Count, Pages, Key, Alpha };
// German umlauts and ß: as they are, also as "ae", "oe", "ue", "ss" beside
// them, or only so.
enum class TUmlauts { Keep, Both, Ascii };

// An entry as it is written. The texts are views of what keeps them: the
// vocabulary, or the TRowMerge that gathered the rows.
struct TVocabularyRow {
  std::string_view Text;  // Windows-1252; a group's words joined by spaces
  std::string_view FirstPage;
  std::string_view Context;
  std::uint64_t Count = 0;
  std::uint64_t Pages = 0;
  std::uint32_t Words = 1;
};

using TVocabularyRows = std::vector<TVocabularyRow, TLargeAllocator<TVocabularyRow>>;

// The word counts of a reference text (ordinary language, another site):
// lines "word<TAB>count" (our TSV, its header skipped, or any such list) or
// "word, count" (our --format count), UTF-8; words compare as the list
// compares. Lines that hold no count are skipped.
class TReferenceCounts {
 public:
  // nullopt with `error` set when the file cannot be read or holds no count.
  static std::optional<TReferenceCounts> Read(const std::string& path, std::string& error);
  void Add(std::string_view word, std::uint64_t count);
  std::uint64_t CountOf(std::string_view word) const;
  // All counts of single words (groups: of groups of that many words).
  std::uint64_t Total(std::uint32_t words = 1) const;

 private:
  WordList words_;
  std::vector<std::uint64_t> counts_;
  std::vector<std::uint64_t> totals_;
};

// Dunning's log-likelihood G2 of a count `here` out of `totalHere` against
// `there` out of `totalThere`, signed: positive where the word is relatively
// more frequent here. 0 when either total is 0.
double Keyness(std::uint64_t here, std::uint64_t totalHere, std::uint64_t there,
               std::uint64_t totalThere);

// The German umlauts and ß of a Windows-1252 text as "ae", "Oe", "ss"...
std::string TransliterateUmlauts(std::string_view text);

// The rows to write, each made when it is asked for from what keeps it:
// rows made already, or a run's vocabulary in order of first occurrence
// (so its millions of entries are not copied). Valid while that is.
class TRowSource {
 public:
  explicit TRowSource(std::span<const TVocabularyRow> rows) : rows_(rows), size_(rows.size()) {}
  explicit TRowSource(const TVocabulary& vocabulary)
      : vocabulary_(&vocabulary), size_(vocabulary.Entries().size()) {}

  std::size_t size() const { return size_; }
  TVocabularyRow operator[](std::size_t i) const {
    return vocabulary_ ? RowOf(vocabulary_->Entries()[i]) : rows_[i];
  }

 private:
  TVocabularyRow RowOf(const TVocabularyEntry& entry) const {
    TVocabularyRow row;
    row.Text = entry.Text;
    row.FirstPage = vocabulary_->PageAddress(entry.FirstPage);
    row.Context = entry.Context;
    row.Count = entry.Count;
    row.Pages = entry.Pages;
    row.Words = entry.Words;
    return row;
  }

  std::span<const TVocabularyRow> rows_;
  const TVocabulary* vocabulary_ = nullptr;
  std::size_t size_ = 0;
};

// Rows gathered in order: a row of a text already there (without regard to
// case) adds its count and pages to it, and the first keeps its spelling,
// first page and context. So merging the rows of two sites, each in order
// of first occurrence, gives the figures of the two crawled as one run.
class TRowMerge {
 public:
  // The row's texts are copied: it may go once added. A sum that would pass
  // 2^64 - 1 stops there: false then, and the entry's figures are wrong.
  bool Add(const TVocabularyRow& row);
  // The rows of our TSV output, in file order; the error, or nullopt.
  std::optional<std::string> AddTsvFile(const std::string& path);
  // The files one after the other, the first error ending it.
  std::optional<std::string> AddTsvFiles(const std::vector<std::string>& paths);
  // Valid while the merge is.
  const TVocabularyRows& Rows() const { return rows_; }

 private:
  struct TPendingRow;

  bool Add(const TVocabularyRow& row, std::uint32_t hash);
  std::size_t AddBatch(std::vector<TPendingRow>& batch, std::size_t size);
  std::uint32_t Find(std::string_view text, std::uint32_t hash) const;
  std::string Respelled(std::string_view group) const;
  std::string_view KeptPage(std::string_view address);

  TVocabularyRows rows_;
  TIndexTable index_;
  TTextStore texts_;
  std::string_view lastPage_;
};

struct TVocabularyOutput {
  TVocabularyFormat Format = TVocabularyFormat::Tsv;
  TVocabularySort Sort = TVocabularySort::Count;
  bool Lowercase = false;
  TUmlauts Umlauts = TUmlauts::Keep;
  TListEncoding Encoding = TListEncoding::Utf8;  // list and count only
  bool Context = false;                          // the context column
  const TReferenceCounts* Reference = nullptr;   // the key column
};

// Writes the rows in pieces of about a MiB through `write`; returns the
// number of entries written.
std::size_t WriteVocabulary(const TRowSource& rows, const TVocabularyOutput& output,
                            const std::function<void(std::string_view)>& write);
inline std::size_t WriteVocabulary(std::span<const TVocabularyRow> rows,
                                   const TVocabularyOutput& output,
                                   const std::function<void(std::string_view)>& write) {
  return WriteVocabulary(TRowSource(rows), output, write);
}
// The same bytes in one string.
std::string FormatVocabulary(std::span<const TVocabularyRow> rows, const TVocabularyOutput& output);
