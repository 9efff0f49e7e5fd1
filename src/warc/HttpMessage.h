// The HTTP response in an archived record's block, as a harvester of pages
// needs it: the status, the header lines, and the body with
// "Transfer-Encoding: chunked" and "Content-Encoding: gzip" or "deflate"
// undone. The block is every byte the server sent, so it may end anywhere:
// a message cut short is still handed out, marked as not Complete.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct THttpMessage {
  int Status = 0;  // 100 to 999
  std::string Reason;
  // The lines after the status line up to the blank line, as written,
  // without their line ends.
  std::vector<std::string> HeaderLines;
  std::string Body;  // decoded
  // The values of the first Content-Type and Location fields; empty when none.
  std::string ContentType, Location;
  // The header ended, the body is as long as its framing says (or runs to
  // the end of the block when nothing frames it), and it decoded whole
  // within the limit.
  bool Complete = false;
};

// The final response in `block` (interim "100 Continue" answers before it
// are passed over). nullopt, with `problem` saying why, when the block holds
// no HTTP response or its body has a coding other than gzip, deflate and
// identity. Otherwise the message, and `problem` empty when it is Complete,
// else what is missing: the header's end, body bytes that Content-Length or
// the chunks announced, the end of the compressed data, or all past
// maxBodyBytes. The body is never longer than maxBodyBytes: decompression
// stops there, so a compression bomb costs no more than that.
std::optional<THttpMessage> ParseHttpResponse(std::string_view block, std::int64_t maxBodyBytes,
                                              std::string& problem);
