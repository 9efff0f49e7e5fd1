// Arbitrary bytes from a server, in arbitrary pieces, through THttpCli's
// receive side. Byte 0 chooses the setup (bit 0: through a proxy; bits 1-2:
// the size limit), byte 1 how the rest is cut into pieces; the rest is the
// response. A relocation is followed up to its new lookup and aborted there,
// so that no name from the input is ever looked up.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzPieces.h"
#include "FuzzServer.h"
#include "HttpProt.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

constexpr std::int64_t kLimits[] = {kDefaultMaxDocSize, 100, 1000, 0};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static TFuzzServer server;
  const std::string response(reinterpret_cast<const char*>(data) + 2, size - 2);

  THttpCli http;
  TMemoryStream body;
  http.ReceiveStream = &body;
  http.MaxDocSize = kLimits[(data[0] >> 1) & 3];
  if (data[0] & 1) {
    http.URL = "http://fuzz.invalid/dir/page.html";
    http.Proxy = "127.0.0.1:" + server.PortText();
  } else {
    http.URL = "http://127.0.0.1:" + server.PortText() + "/dir/page.html";
  }
  int lookups = 0, done = 0;
  http.OnStateChange = [&](TObject*) {
    if (http.State() == hsResolving && ++lookups > 1) http.Abort();
  };
  http.OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t) { ++done; };
  http.StartRequest(rqGet);

  auto gone = [&] { return http.State() == hsIdle || http.Socket().State() != wsConnected; };
  if (server.Accept([&] { return http.State() == hsIdle; })) {
    PumpUntil([&] { return http.State() != hsConnected && http.State() != hsResolved; });
    ForEachPiece(response, data[1], [&](std::string_view piece) {
      if (!gone()) server.Feed(piece, http.Socket().HSocket(), gone);
    });
  }
  // The server's close ends every request.
  Check(server.Finish([&] { return done == 1; }));

  Check(http.State() == hsIdle);
  Check(http.ReceivedBytes() == body.Size());
  if (http.MaxDocSize > 0) Check(body.Size() <= http.MaxDocSize);
  // The body is a stretch of the response as it was sent.
  Check(response.find(body.Data()) != std::string::npos);
  return 0;
}
