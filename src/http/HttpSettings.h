// Everything a request of the crawl is made with, apart from its address:
// one copyable value that several clients share, applied to a client in one
// place, so that a new setting cannot go missing from some of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "HttpDefaults.h"
#include "HttpProt.h"

struct THttpSettings {
  std::string RequestVersion = "1.0";  // "1.1": persistent connections (see THttpCli)
  std::string Agent = kDefaultUserAgent;
  std::string Accept = kDefaultAccept;
  std::string AcceptEncoding;  // empty: no compression asked for
  // "host" or "host:port" (ProxyPort when the text names none); empty: direct.
  std::string Proxy;
  std::string ProxyPort = kDefaultProxyPort;
  std::string ProxyUsername, ProxyPassword;
  // Site credentials and the origin they are for (see THttpCli::AuthOrigin).
  std::string Username, Password, AuthOrigin;
  bool NoCache = false;
  // The run's cookie jar (not owned); nullptr: no cookies kept.
  TCookieJar* Cookies = nullptr;
  // Further request lines (see THttpCli::ExtraHeaders).
  std::vector<std::string> ExtraHeaders;
  std::string SslCAFile;
  bool SslVerifyPeer = true;
  std::int64_t MaxDocSize = kDefaultMaxDocSize;  // 0: no limit
  // A request that shows no progress for this long is aborted; 0: never.
  int TimeoutMs = 0;

  // The credentials a client holds after a request (an address's user
  // information sets them): what the next request in the run's order uses.
  void TakeCredentialsOf(const THttpCli& client);
  bool SameCredentialsAs(const THttpCli& client) const;
  bool operator==(const THttpSettings&) const = default;
};

// Sets every field of `settings` on the client (synchronous pumping).
void ApplyTo(const THttpSettings& settings, THttpCli& client);
