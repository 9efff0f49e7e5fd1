// Arbitrary bytes as a compressed response body and as a WWW-Authenticate
// field. Byte 0 chooses the Content-Encoding (bits 0-2) and the size at
// which the sink stops (bits 3-4), byte 1 how the body is cut into pieces;
// the rest is the body and the field.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ContentDecoding.h"
#include "DigestAuth.h"
#include "FuzzPieces.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr const char* kEncodings[] = {"gzip", "deflate",  "br",           "zstd",
                                      "gzip, br", "zstd, deflate", "x-gzip, gzip", "deflate, br"};
constexpr std::size_t kLimits[] = {64, 4096, 1 << 20, 64 << 20};

struct TOutcome {
  std::string Bytes;
  bool Stopped = false, Corrupt = false, Truncated = false, Finished = false;
};

TOutcome Decoded(const char* encoding, std::string_view body, std::size_t limit, unsigned seed,
                 bool inPieces) {
  std::string error;
  auto decoder = TContentDecoder::For(encoding, error);
  Check(decoder != nullptr);
  TOutcome outcome;
  auto sink = [&](const char* data, std::size_t size) {
    Check(size > 0 && size <= kDecodedChunkSize);
    outcome.Bytes.append(data, size);
    return outcome.Bytes.size() <= limit;
  };
  bool going = true;
  if (inPieces) {
    ForEachPiece(body, seed, [&](std::string_view piece) {
      if (going) going = decoder->Feed(piece.data(), piece.size(), sink);
    });
  } else {
    going = decoder->Feed(body.data(), body.size(), sink);
  }
  outcome.Finished = going && decoder->Finish(sink);
  outcome.Stopped = decoder->Stopped();
  outcome.Corrupt = decoder->Corrupt();
  outcome.Truncated = decoder->Truncated();
  Check(outcome.Finished || !decoder->Error().empty() || outcome.Stopped);
  Check(outcome.Bytes.size() <= limit + kDecodedChunkSize);
  return outcome;
}

void CheckDecoding(const char* encoding, std::string_view body, std::size_t limit, unsigned seed) {
  TOutcome whole = Decoded(encoding, body, limit, seed, false);
  TOutcome pieces = Decoded(encoding, body, limit, seed, true);
  // Where the body is cut changes neither the bytes nor the outcome; only
  // the point at which the sink stops may differ by a chunk.
  std::size_t common = std::min(whole.Bytes.size(), pieces.Bytes.size());
  Check(whole.Bytes.compare(0, common, pieces.Bytes, 0, common) == 0);
  // Damage may be found a little earlier or later in the output, so one
  // run may stop at the limit where the other finds it first.
  if (whole.Stopped || pieces.Stopped) {
    Check((whole.Stopped || whole.Corrupt) && (pieces.Stopped || pieces.Corrupt));
    return;
  }
  Check(whole.Corrupt == pieces.Corrupt && whole.Truncated == pieces.Truncated);
  if (!whole.Corrupt) Check(whole.Bytes == pieces.Bytes);
}

void CheckChallenges(std::string_view field) {
  std::vector<TAuthChallenge> challenges = ParseAuthChallenges(field);
  Check(challenges.size() <= kMaxAuthChallenges);
  for (const TAuthChallenge& challenge : challenges) {
    Check(!challenge.Scheme.empty());
    Check(challenge.Params.size() <= kMaxAuthParams);
    auto digest = DigestChallengeOf(challenge);
    if (!digest) continue;
    std::string answer = DigestAuthorization(*digest, "user", "pw", "GET", "/x", "c0ffee", 1);
    Check(answer.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
  CheckDecoding(kEncodings[data[0] & 7], body, kLimits[(data[0] >> 3) & 3], data[1]);
  CheckChallenges(body);
  return 0;
}
