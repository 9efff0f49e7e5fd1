#include "ChunkedBody.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kMaxChunkSize = std::uint64_t{1} << 60;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view WithoutLineEnd(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

TChunkedBody::TStep TChunkedBody::Take(std::string_view bytes, std::size_t& used,
                                       const TData& data) {
  std::size_t at = 0;
  TStep step = TStep::More;
  while (step == TStep::More && at < bytes.size() && phase_ != TPhase::Done) {
    bool tooLong = false;
    switch (phase_) {
      case TPhase::Size:
        if (CollectLine(bytes, at, tooLong) && !TakeSizeLine()) step = TStep::Bad;
        break;
      case TPhase::Data: {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(left_, bytes.size() - at));
        left_ -= n;
        if (left_ == 0) phase_ = TPhase::DataEnd;
        const std::string_view piece = bytes.substr(at, n);
        at += n;
        if (!data(piece)) step = TStep::Held;
        break;
      }
      case TPhase::DataEnd:
        if (CollectLine(bytes, at, tooLong)) {
          if (!WithoutLineEnd(line_).empty()) step = TStep::Bad;
          line_.clear();
          phase_ = TPhase::Size;
        }
        break;
      case TPhase::Trailer:
        if (CollectLine(bytes, at, tooLong) && !TakeTrailerLine()) step = TStep::Bad;
        break;
      case TPhase::Done:
        break;
    }
    if (tooLong) step = TStep::Bad;
  }
  used = at;
  if (step == TStep::More && phase_ == TPhase::Done) step = TStep::End;
  return step;
}

bool TChunkedBody::CollectLine(std::string_view bytes, std::size_t& at, bool& tooLong) {
  const std::size_t lf = bytes.find('\n', at);
  const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
  line_.append(bytes.substr(at, end - at));
  at = end;
  tooLong = line_.size() > kChunkLineLimit;
  return !tooLong && lf != std::string_view::npos;
}

// "1a3f;name=value": the size, then the chunk's data, or at 0 the trailer.
bool TChunkedBody::TakeSizeLine() {
  const std::string_view line = WithoutLineEnd(line_);
  std::size_t at = 0;
  std::uint64_t size = 0;
  for (; at < line.size() && HexDigit(line[at]) >= 0; ++at) {
    size = size * 16 + static_cast<std::uint64_t>(HexDigit(line[at]));
    if (size > kMaxChunkSize) return false;
  }
  if (at == 0) return false;
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
  if (at < line.size() && line[at] != ';') return false;
  line_.clear();
  left_ = size;
  phase_ = size == 0 ? TPhase::Trailer : TPhase::Data;
  return true;
}

// Trailer fields are not used; the empty line ends the body.
bool TChunkedBody::TakeTrailerLine() {
  trailerBytes_ += line_.size();
  const bool last = WithoutLineEnd(line_).empty();
  line_.clear();
  if (last) phase_ = TPhase::Done;
  return trailerBytes_ <= kChunkTrailerLimit;
}
