// Writes what the crawl's HTTP client exchanged into a web archive file
// (WARC/1.1), as the exchanges end: a "request" record for the bytes sent, a
// "response" record for the bytes received (WARC-Concurrent-To the request),
// and for a failure a "metadata" record with the client's error code and
// reason (concurrent to the request), so that a replay can fail the same
// way. Every record carries a random WARC-Record-ID, the exchange's
// WARC-Date, SHA-1 block and payload digests and the WARC-Warcinfo-ID of the
// last warcinfo record.
//
// Each record is its own gzip member (or plain, if asked), and the records
// of one exchange go to the file in one write, so a run that is killed
// leaves an archive of every exchange written before. Several clients may
// share one writer: each hands over its exchanges whole, when they end, and
// the records of two exchanges never mix. One thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "WarcRecord.h"

class TGzipMemberWriter;

// One exchange of the crawl's HTTP client as it crossed the connection.
struct TWarcExchange {
  // The absolute address of this hop ("http://host[:port]/path?query").
  // Bytes that no address may hold as they are (controls, space, bytes
  // over 127) are written as %XX.
  std::string TargetUri;
  std::string IpAddress;      // of the peer connected to (server or proxy); may be empty
  std::string RequestBytes;   // the request exactly as sent; empty when nothing was sent
  std::string ResponseBytes;  // every byte received, status line to body; may be cut short or empty
  std::uint16_t Error = 0;    // the client's failure code; 0 when none
  std::string Reason;         // the failure's text
  // When the request started, in milliseconds since 1970 (UTC); 0 for the
  // time of writing. All records of the exchange carry it as WARC-Date.
  std::int64_t TimeMs = 0;
};

// The fields of a failure's metadata record ("application/warc-fields").
constexpr std::string_view kWarcErrorField = "tirasel-error";    // the code, in decimal
constexpr std::string_view kWarcReasonField = "tirasel-reason";  // the text

enum class TWarcCompression {
  GzipPerRecord,  // "name.warc.gz"
  None,           // "name.warc"
};

class TWarcWriter {
 public:
  // Creates the file, or empties the one there. Throws EWarcError when it
  // cannot be created or is no regular file.
  explicit TWarcWriter(const std::string& path,
                       TWarcCompression compression = TWarcCompression::GzipPerRecord);
  ~TWarcWriter();
  TWarcWriter(const TWarcWriter&) = delete;
  TWarcWriter& operator=(const TWarcWriter&) = delete;

  // A warcinfo record with these fields (software, format, the run's
  // options...) and WARC-Filename; the records after it refer to it.
  // Throws EWarcError when writing fails, as WriteExchange does.
  void WriteInfo(const TWarcFields& fields);
  // The exchange's records: the request when RequestBytes is not empty, the
  // response when ResponseBytes is not empty, the failure when Error is not
  // 0; nothing when all three are missing.
  void WriteExchange(const TWarcExchange& exchange);

  // The size of the file so far.
  std::uint64_t BytesWritten() const { return written_; }

 private:
  std::string StartHeader(std::string_view type, const std::string& recordId,
                          const std::string& date) const;
  void AppendRecord(std::string header, std::string_view contentType, std::string_view block,
                    bool httpBlock);
  std::string AppendHttpRecord(std::string_view type, const TWarcExchange& exchange,
                               const std::string& date, const std::string& concurrentTo);
  void AppendFailure(const TWarcExchange& exchange, const std::string& date,
                     const std::string& concurrentTo);
  void WritePending();

  std::string path_;
  int fd_ = -1;
  std::unique_ptr<TGzipMemberWriter> gzip_;  // none when writing plain
  std::string warcinfoId_;
  std::string pending_;  // the records of one call, written whole
  std::uint64_t written_ = 0;
};
