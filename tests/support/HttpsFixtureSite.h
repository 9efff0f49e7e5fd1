// The fixture site (FixtureSite.h) on nginx over TLS with the shared test
// certificates, whose CA is TestCertificates::Shared().CaFile(); the plain
// port relocates every address to the same path on the https one, as most
// real sites do.
#pragma once

#include "FixtureSite.h"
#include "NginxServer.h"
#include "TlsCertificates.h"

namespace testsite {

// Fills, sets up and starts web; raises like NginxServer::Start.
inline void StartHttpsFixtureSite(testsupport::NginxServer& web) {
  const auto& certs = testsupport::TestCertificates::Shared();
  for (const auto& [path, body] : FixtureSite()) web.AddFile(path, body);
  web.UseTls(certs.Valid().cert, certs.Valid().key);
  web.RedirectPlainToTls();
  web.Start();
}

}  // namespace testsite
