// Arbitrary bytes as a document of each kind, through ReadDocument. Byte 0
// picks the kind (PDF, DOCX, XLSX, PPTX, ODT, ODS, ODP) and, in its high
// bits, how small the limits are. Whatever the bytes, a failure says why,
// and a success keeps its text, people and links within MaxText together,
// with no empty or repeated person or link.
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "DocumentReader.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckOnceEach(const std::vector<std::string>& items, std::size_t& given) {
  const std::set<std::string> distinct(items.begin(), items.end());
  Check(distinct.size() == items.size());
  for (const std::string& item : items) {
    Check(!item.empty());
    given += item.size();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const auto kind = static_cast<TDocumentKind>((data[0] & 7) % 7);
  TDocumentLimits limits;
  // Small limits, so that the fuzzer reaches them; the largest still read
  // a bomb within a few MiB.
  limits.MaxText = data[0] & 8 ? 256 : 1 << 20;
  limits.MaxUnpacked = data[0] & 16 ? 4096 : 8 << 20;
  limits.MaxEntries = data[0] & 32 ? 4 : 1000;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::string error;
  const std::optional<TDocumentContent> content = ReadDocument(kind, bytes, limits, error);
  if (!content) {
    Check(!error.empty());
    return 0;
  }
  std::size_t given = content->Text.size();
  CheckOnceEach(content->People, given);
  CheckOnceEach(content->Links, given);
  Check(given <= limits.MaxText);
  return 0;
}
