#include "HttpMessage.h"

#include <algorithm>
#include <charconv>
#include <memory>

#include "AsciiCase.h"
#include "ContentDecoding.h"
#include "HeaderLines.h"

namespace {

// Interim answers passed over before a block counts as no response.
constexpr int kMaxInterimAnswers = 8;
// Codings stacked on one body: more are no real server's.
constexpr std::size_t kMaxCodings = 4;

// What frames and encodes the body, from the header.
struct TFraming {
  std::optional<std::uint64_t> contentLength;
  std::vector<std::string> transferCodings, contentCodings;  // lower case, in the order applied
};

bool ParseStatusLine(std::string_view line, THttpMessage& message) {
  if (!line.starts_with("HTTP/")) return false;
  std::size_t space = line.find(' ');
  if (space == std::string_view::npos) return false;
  std::string_view rest = TrimBlanks(line.substr(space + 1));
  int status = 0;
  auto [end, error] =
      std::from_chars(rest.data(), rest.data() + std::min<std::size_t>(rest.size(), 3), status);
  if (error != std::errc() || end != rest.data() + 3 || status < 100) return false;
  message.Status = status;
  message.Reason.assign(TrimBlanks(rest.substr(3)));
  return true;
}

void AppendCodings(std::string_view value, std::vector<std::string>& codings) {
  while (!value.empty()) {
    std::size_t comma = std::min(value.find(','), value.size());
    std::string_view coding = TrimBlanks(value.substr(0, comma));
    if (!coding.empty()) codings.push_back(LowerAscii(coding));
    value.remove_prefix(std::min(comma + 1, value.size()));
  }
}

std::optional<std::uint64_t> ParseLength(std::string_view value) {
  std::uint64_t length = 0;
  auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), length);
  if (error != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return length;
}

// The header lines after the status line, and what they say of the body.
void ReadHeaderLines(std::string_view header, THttpMessage& message, TFraming& framing) {
  std::string_view line;
  TakeLine(header, line);  // the status line
  bool typeSeen = false, locationSeen = false, lengthSeen = false;
  while (TakeLine(header, line) && !line.empty()) {
    message.HeaderLines.emplace_back(line);
    std::string_view name, value;
    if (IsContinuationLine(line) || !SplitField(line, name, value)) continue;
    if (!typeSeen && EqualIgnoringAsciiCase(name, "Content-Type")) {
      typeSeen = true;
      message.ContentType.assign(value);
    } else if (!locationSeen && EqualIgnoringAsciiCase(name, "Location")) {
      locationSeen = true;
      message.Location.assign(value);
    } else if (!lengthSeen && EqualIgnoringAsciiCase(name, "Content-Length")) {
      lengthSeen = true;
      framing.contentLength = ParseLength(value);
    } else if (EqualIgnoringAsciiCase(name, "Transfer-Encoding")) {
      AppendCodings(value, framing.transferCodings);
    } else if (EqualIgnoringAsciiCase(name, "Content-Encoding")) {
      AppendCodings(value, framing.contentCodings);
    }
  }
}

// The size on a chunk's line ("1a3f", "1a3f;name=value"); nullopt when it
// is none.
std::optional<std::uint64_t> ChunkSize(std::string_view line) {
  line = TrimBlanks(line.substr(0, std::min(line.find(';'), line.size())));
  std::uint64_t size = 0;
  auto [end, error] = std::from_chars(line.data(), line.data() + line.size(), size, 16);
  if (line.empty() || line.size() > 15 || error != std::errc() ||
      end != line.data() + line.size()) {
    return std::nullopt;
  }
  return size;
}

// Appends the data of the chunks in `raw` to `body`; false, with the
// problem, when they end before the last chunk.
bool Dechunk(std::string_view raw, std::string& body, std::string& problem) {
  for (;;) {
    std::string_view line;
    if (!TakeLine(raw, line)) break;
    std::optional<std::uint64_t> size = ChunkSize(line);
    if (!size) {
      problem = "bad chunk size in the HTTP body";
      return false;
    }
    if (*size == 0) return true;  // trailer fields, if any, are of no use here
    if (raw.size() < *size) {
      body.append(raw);
      break;
    }
    body.append(raw.substr(0, *size));
    raw.remove_prefix(*size);
    if (raw.starts_with("\r\n"))
      raw.remove_prefix(2);
    else if (raw.starts_with("\n"))
      raw.remove_prefix(1);
    else if (!raw.empty()) {
      problem = "chunk data longer than its size in the HTTP body";
      return false;
    }
  }
  problem = "chunked HTTP body cut short";
  return false;
}

// Undoes the codings, in the order they were applied; false, with the
// problem, when the body does not decode whole within the limit.
bool Decode(const std::vector<std::string>& codings, std::string& body, std::size_t limit,
            std::string& problem) {
  std::string list;
  for (const std::string& coding : codings) list += (list.empty() ? "" : ", ") + coding;
  std::string error;
  std::unique_ptr<TContentDecoder> decoder = TContentDecoder::For(list, error);
  if (!decoder) return true;  // identity only: the codings were checked before
  std::string decoded;
  bool tooLong = false;
  auto sink = [&](const char* data, std::size_t size) {
    tooLong = size > limit - decoded.size();
    decoded.append(data, tooLong ? limit - decoded.size() : size);
    return !tooLong;
  };
  const bool whole = decoder->Feed(body.data(), body.size(), sink) && decoder->Finish(sink);
  body.swap(decoded);
  if (tooLong) {
    problem = "decoded HTTP body longer than " + std::to_string(limit) + " bytes";
  } else if (!whole) {
    problem = decoder->Truncated() ? "compressed HTTP body cut short"
                                   : "damaged compressed HTTP body: " + decoder->Error();
  }
  return whole;
}

bool IsSupportedCoding(const std::string& coding) {
  std::string error;
  TContentDecoder::For(coding, error);
  return error.empty();
}

// The body framed by the header, with every coding undone. Returns whether
// it is whole; nullopt when a coding is one this reader cannot undo.
std::optional<bool> TakeBody(std::string_view raw, TFraming& framing, std::size_t limit,
                             THttpMessage& message, std::string& problem) {
  int status = message.Status;
  if (status / 100 == 1 || status == 204 || status == 304) return true;  // they have no body
  std::vector<std::string> codings = framing.transferCodings;
  bool chunked = !codings.empty() && codings.back() == "chunked";
  if (chunked) codings.pop_back();
  codings.insert(codings.end(), framing.contentCodings.begin(), framing.contentCodings.end());
  if (codings.size() > kMaxCodings) {
    problem = "HTTP body in more than " + std::to_string(kMaxCodings) + " codings";
    return std::nullopt;
  }
  for (const std::string& coding : codings) {
    if (!IsSupportedCoding(coding)) {
      problem = "HTTP body in a coding this reader cannot undo: " + coding;
      return std::nullopt;
    }
  }
  bool whole = true;
  if (chunked) {
    whole = Dechunk(raw, message.Body, problem);
  } else if (framing.contentLength) {
    whole = raw.size() >= *framing.contentLength;
    message.Body.assign(raw.substr(
        0, static_cast<std::size_t>(std::min<std::uint64_t>(raw.size(), *framing.contentLength))));
    if (!whole) problem = "HTTP body shorter than its Content-Length";
  } else {
    message.Body.assign(raw);
  }
  // A body cut short is decoded as far as it goes; the first problem is
  // the one to tell.
  std::string codingProblem;
  if (!Decode(codings, message.Body, limit, codingProblem) && whole) {
    whole = false;
    problem = codingProblem;
  }
  if (message.Body.size() > limit) {
    message.Body.resize(limit);
    if (whole) problem = "HTTP body longer than " + std::to_string(limit) + " bytes";
    whole = false;
  }
  return whole;
}

}  // namespace

std::optional<THttpMessage> ParseHttpResponse(std::string_view block, std::int64_t maxBodyBytes,
                                              std::string& problem) {
  problem.clear();
  auto limit = static_cast<std::size_t>(std::max<std::int64_t>(maxBodyBytes, 0));
  for (int answer = 0; answer <= kMaxInterimAnswers; ++answer) {
    THttpMessage message;
    std::string_view statusLine = block.substr(0, block.find('\n'));
    if (statusLine.ends_with('\r')) statusLine.remove_suffix(1);
    if (!ParseStatusLine(statusLine, message)) {
      problem = "no HTTP response";
      return std::nullopt;
    }
    std::size_t headerEnd = HeaderEnd(block);
    TFraming framing;
    if (headerEnd == std::string_view::npos) {
      ReadHeaderLines(block, message, framing);
      problem = "HTTP header cut short";
      return message;
    }
    ReadHeaderLines(block.substr(0, headerEnd), message, framing);
    // "101 Switching Protocols" is final: what follows is no HTTP any more.
    if (message.Status / 100 == 1 && message.Status != 101) {
      block.remove_prefix(headerEnd);
      continue;
    }
    std::optional<bool> whole = TakeBody(block.substr(headerEnd), framing, limit, message, problem);
    if (!whole) return std::nullopt;
    message.Complete = *whole;
    return message;
  }
  problem = "more than " + std::to_string(kMaxInterimAnswers) + " interim HTTP answers";
  return std::nullopt;
}
