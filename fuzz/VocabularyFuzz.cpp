// Vocabularies read from files that anybody may hand over (--merge,
// --reference) and written again in every format. Whatever the bytes: no
// crash; a TSV file either is refused or its rows come back from our own
// TSV of them, counts and pages added up per equal word; JSON lines hold
// one object per line and no raw control byte; CSV rows end by CR LF.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzFile.h"
#include "VocabularyOutput.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string error;
  std::optional<TReferenceCounts> reference =
      TReferenceCounts::Read(ScratchFileWith(bytes), error);
  Check(reference.has_value() || !error.empty());

  TRowMerge merge;
  if (merge.AddTsvFile(ScratchFileWith(bytes))) return 0;
  const TVocabularyRows& rows = merge.Rows();
  std::uint64_t total = 0;
  for (const TVocabularyRow& row : rows) total += row.Count;

  TVocabularyOutput output;
  output.Context = true;
  output.Reference = reference ? &*reference : nullptr;
  output.Sort = TVocabularySort::First;
  for (TVocabularyFormat format : {TVocabularyFormat::Csv, TVocabularyFormat::Jsonl,
                                   TVocabularyFormat::List, TVocabularyFormat::Count}) {
    output.Format = format;
    const std::string text = FormatVocabulary(rows, output);
    if (format == TVocabularyFormat::Jsonl) {
      std::size_t lines = 0;
      for (char c : text) {
        Check(static_cast<unsigned char>(c) >= 0x20 || c == '\n');
        lines += c == '\n';
      }
      Check(lines == rows.size());
    }
    if (format == TVocabularyFormat::Csv) Check(text.ends_with("\r\n"));
  }

  // Our own TSV of the rows reads back as the same rows.
  output.Format = TVocabularyFormat::Tsv;
  output.Reference = nullptr;
  TRowMerge again;
  Check(!again.AddTsvFile(ScratchFileWith(FormatVocabulary(rows, output))));
  const TVocabularyRows& back = again.Rows();
  std::uint64_t totalBack = 0;
  for (const TVocabularyRow& row : back) totalBack += row.Count;
  Check(back.size() == rows.size() && totalBack == total);
  return 0;
}
