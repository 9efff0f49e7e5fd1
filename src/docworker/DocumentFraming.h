// The wire format between the crawl and a document worker process (see
// DocumentWorker.h), and the answer both sides speak of. One request, then
// one answer, in turn, over the worker's standard input and output. Every
// number is little-endian.
//
//   Request (crawl -> worker)
//     1 byte    kind: which reader, passed to the worker's parse step as it is
//     8 bytes   N
//     N bytes   the document
//
//   Answer (worker -> crawl)
//     1 byte    status: 0 read, 1 unreadable, 2 too large to read
//     status 0: string text, list people, list links
//     status 1 and 2: string reason
//
//   string = 8 bytes L, then L bytes; list = 8 bytes C, then C strings.
//
// Lengths are declared before their bytes, so a reader bounds what it takes
// before it allocates: the answer's strings together (and 8 bytes per list
// entry) may not exceed the reader's limit, and no other status is valid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What became of one document. Only the first three travel on the wire; the
// others are the crawl side's reading of how the worker process ended.
enum class TDocumentStatus : std::uint8_t {
  dsRead = 0,
  dsUnreadable = 1,  // the reader refused it: a damaged or unknown document
  dsTooLarge = 2,    // out of memory, or its text passes the answer limit
  dsTooLong = 3,     // the CPU budget or the last-resort wall-clock bound
  dsCrashed = 4,     // the worker died another way, or answered garbage
  dsNoWorker = 5,    // the worker program could not be started
};

struct TDocumentAnswer {
  TDocumentStatus status = TDocumentStatus::dsRead;
  std::string text;
  std::vector<std::string> people;
  std::vector<std::string> links;
  // Empty when read; otherwise the status's text (DocumentStatusText), and
  // after ": " what the reader or the system said, if anything.
  std::string reason;

  bool Read() const { return status == TDocumentStatus::dsRead; }
  // The bytes the answer's strings hold: what the answer limit counts.
  std::uint64_t ContentBytes() const;
};

// "took too long", "the reader crashed on it", ...: what a log line says.
const char* DocumentStatusText(TDocumentStatus status);
// A failed answer of that status; detail, when given, follows the text.
TDocumentAnswer FailedDocument(TDocumentStatus status, const std::string& detail = {});

// The ends of a pipe as the framing sees them. Each call moves the whole
// buffer or fails (false): the end of the stream, an error, a stop, a bound.
class TFrameSource {
 public:
  virtual ~TFrameSource() = default;
  virtual bool ReadExact(char* data, std::size_t size) = 0;
};
class TFrameSink {
 public:
  virtual ~TFrameSink() = default;
  virtual bool WriteAll(const char* data, std::size_t size) = 0;
};

// The 9 bytes before a request's document.
std::string RequestHeader(std::uint8_t kind, std::uint64_t size);
// Takes a request's header; false at the end of the stream or on a short
// header. The caller then takes the `size` document bytes.
bool ReadRequestHeader(TFrameSource& source, std::uint8_t& kind, std::uint64_t& size);

// Writes an answer of status dsRead, dsUnreadable or dsTooLarge; false when
// the sink fails.
bool WriteAnswer(TFrameSink& sink, const TDocumentAnswer& answer);

enum class TAnswerRead { arAnswered, arStreamFailed, arGarbled, arTooLarge };
// Takes one answer, holding at most maxContentBytes of strings (see above).
// arStreamFailed: the source failed (the worker ended or was stopped);
// arGarbled: a status outside the wire's; arTooLarge: past the limit. On
// anything but arAnswered the stream is out of step and `answer` is unset.
TAnswerRead ReadAnswer(TFrameSource& source, std::uint64_t maxContentBytes,
                       TDocumentAnswer& answer);
