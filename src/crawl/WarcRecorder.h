// What a run's requests exchange with the servers, written into a web
// archive as it happens (TWarcWriter): each client's exchange is gathered
// from its recorder events and handed over whole when its connection ends,
// a relocation's and a failure's included. Several clients may share it.
#pragma once

#include <map>

#include "HttpProt.h"
#include "WarcWriter.h"

class TWarcRecorder : public THttpRecorder {
 public:
  // `writer` must outlive the recorder. A write that fails (a full disk)
  // ends the recording, not the run: Failure() tells why afterwards.
  explicit TWarcRecorder(TWarcWriter& writer) : writer_(writer) {}

  // Empty while every exchange was written; else why the recording ended.
  const std::string& Failure() const { return failure_; }

  void RequestSent(const THttpCli& client, const std::string& targetUri,
                   const std::string& ipAddress, std::string_view bytes) override;
  void AnswerData(const THttpCli& client, std::string_view bytes) override;
  void ExchangeEnded(const THttpCli& client, std::uint16_t error,
                     const std::string& reason) override;

 private:
  TWarcWriter& writer_;
  std::map<const THttpCli*, TWarcExchange> open_;  // by client, from request to end
  std::string failure_;
};

// The warcinfo fields of an archive Tirasel writes: the program and the
// options of the run (name, value).
TWarcFields TiraselWarcInfo(const TWarcFields& options);
