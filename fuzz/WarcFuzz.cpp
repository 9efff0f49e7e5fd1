// Arbitrary bytes as a web archive file, through TWarcReader, and as the
// block of a response record, through ParseHttpResponse. Byte 0 chooses the
// setup (bit 0: the rest as it is, or cut into gzip members, so that the
// inflating paths see valid members too; bits 1-2: the block limit), byte 1
// where the members are cut.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "FuzzPieces.h"
#include "HttpMessage.h"
#include "WarcReader.h"
#include "ZlibStreams.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::int64_t kBlockLimits[] = {0, 16, 4096, 1 << 20};
constexpr std::int64_t kBodyLimit = 1000;

std::string GzipMembers(std::string_view bytes, unsigned seed) {
  TGzipMemberWriter gzip(1);
  std::string file;
  ForEachPiece(bytes, seed, [&](std::string_view piece) { gzip.AppendMember({piece}, file); });
  return file;
}

void CheckResponse(std::string_view block) {
  std::string problem;
  std::optional<THttpMessage> message = ParseHttpResponse(block, kBodyLimit, problem);
  if (!message) {
    Check(!problem.empty());
    return;
  }
  Check(message->Body.size() <= static_cast<std::size_t>(kBodyLimit));
  Check(message->Status >= 100 && message->Status <= 999);
  Check(message->Complete == problem.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view bytes(reinterpret_cast<const char*>(data) + 2, size - 2);
  const std::string file = data[0] & 1 ? GzipMembers(bytes, data[1]) : std::string(bytes);
  const std::int64_t limit = kBlockLimits[(data[0] >> 1) & 3];

  std::size_t damage = 0;
  TWarcReader reader(ScratchFileWith(file), limit,
                     [&](std::uint64_t offset, const std::string& problem) {
                       Check(offset <= file.size());
                       Check(!problem.empty());
                       ++damage;
                     });
  TWarcRecord record;
  std::size_t records = 0;
  std::uint64_t lastStart = 0;
  while (reader.Next(record)) {
    // Every record takes bytes of its own: there are never more than bytes.
    Check(++records <= file.size());
    Check(records == 1 || record.DecodedOffset > lastStart);
    lastStart = record.DecodedOffset;
    Check(record.Offset <= file.size());
    Check(record.Version.starts_with("WARC/1."));
    Check(record.Block.size() <= static_cast<std::size_t>(limit));
    CheckResponse(record.Block);
  }
  Check(damage <= file.size());
  CheckResponse(bytes);
  return 0;
}
