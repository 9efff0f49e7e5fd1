// Where the run's pages come from: a page source gives the document of each
// queue entry the run reaches, in the run's order. The network gives them
// (TRequestPool), an archive of an earlier run can (TArchiveSource); the run
// treats every document the same, whichever source gave it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Streams.h"

// The site credentials a fetch left behind: an address with user
// information sets them for the requests after it in the run's order.
struct TPageCredentials {
  std::string Username, Password, AuthOrigin;
};

// One entry's document, or its failure, as one request of the HTTP client
// leaves them (a relocation followed to its end).
struct TFetchedPage {
  int StatusCode = 0;
  std::string ReasonPhrase;
  std::uint16_t Error = 0;  // the request-done code: 0, a socket, TLS or client code
  std::string Location;     // the final address after relocations
  std::string ContentType;
  std::int64_t ReceivedBytes = 0;
  TMemoryStream Body;
  std::optional<TPageCredentials> Credentials;  // set when the fetch changed them
};

class TPageSource {
 public:
  virtual ~TPageSource() = default;

  // The run has reached the entry at `position`, which it will fetch: the
  // source may start on it and on entries after it, waiting (events run
  // meanwhile) for the delay between requests. False when the run was
  // stopped meanwhile.
  virtual bool Reach(size_t position) = 0;
  // The entry's document, once it is there; events run while it waits.
  // `proxy` is the proxy field as the run reads it for this entry.
  virtual std::unique_ptr<TFetchedPage> Take(size_t position, const std::string& proxy) = 0;

  // "Abbrechen": every fetch under way ends as aborted, none starts after.
  virtual void StopAll() = 0;
  // "Aktuelle Datei abbrechen": the fetch Take waits for ends as aborted.
  virtual void SkipAwaited() = 0;
  // Called now and then: a fetch that has shown no progress for the
  // settings' timeout is aborted.
  virtual void AbortStalled() = 0;
};
