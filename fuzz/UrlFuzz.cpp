// Addresses and "Location" values through SplitUrl, the other address and
// date helpers, and the client's relocation rules. The input is cut at its first byte 0x01 into the
// address and the value; the last byte's bit 0 chooses a proxy. The server
// answers with a relocation to the value, which the client computes; its
// next lookup is aborted, so that no name from the input is looked up.
// Through a proxy, an https address meets the relocation at its CONNECT.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "AsciiCase.h"
#include "FuzzServer.h"
#include "HttpErrors.h"
#include "HttpProt.h"
#include "HttpUtils.h"
#include "TextPositions.h"
#include "UrlParts.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// What must hold for the parts of any address.
void CheckSplit(const std::string& url) {
  TUrlParts parts = SplitUrl(url);
  std::string proto, user, pass, host, port, path;
  SplitUrl(url, proto, user, pass, host, port, path);
  Check(parts.Proto == proto && parts.User == user && parts.Pass == pass && parts.Host == host &&
        parts.Port == port && parts.Path == path);
  Check(path.empty() || path[0] == '/' || proto == "http");
  Check(host.size() <= url.size() && port.size() <= url.size() && path.size() <= url.size());
  std::string name = DocumentNameOf(path);
  Check(name.size() <= 255 + std::string("document.htm").size());
}

// The helpers that take any text or number.
void CheckHelpers(const uint8_t* data, size_t size, const std::string& text) {
  double date = 0;
  std::memcpy(&date, data, std::min(size, sizeof date));
  Check(FormatHttpDate(date).size() == std::string("Sun, 06 Dec 2026 17:27:53").size());
  Check(EncodeBase64(text).size() == (text.size() + 2) / 3 * 4);
  std::string name = text;
  ReplaceExtension(name, "htm");
  Check(name.ends_with(".htm") || name.ends_with("htm"));
  std::size_t last = LastPos(".", text);
  Check(last == 0 || text[last - 1] == '.');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string input(reinterpret_cast<const char*>(data), size - 1);
  const bool viaProxy = data[size - 1] & 1;
  const size_t cut = input.find('\x01');
  const std::string address = input.substr(0, cut);
  const std::string value = cut == std::string::npos ? "" : input.substr(cut + 1);
  CheckHelpers(data, size, input);
  CheckSplit(address);
  CheckSplit(value);
  // A header line ends at the first line end; a 0 byte hides the rest.
  if (value.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return 0;

  static TFuzzServer server;
  THttpCli http;
  TMemoryStream body;
  http.ReceiveStream = &body;
  if (viaProxy) {
    http.URL = address;
    http.Proxy = "127.0.0.1:" + server.PortText();
  } else {
    // Only addresses of the fuzzing server itself are fetched directly.
    http.URL = "http://127.0.0.1:" + server.PortText() + "/" + address;
    TUrlParts parts = SplitUrl(http.URL);
    if (parts.Host != "127.0.0.1" || parts.Port != server.PortText()) return 0;
  }
  // Through a proxy an https address is fetched through a tunnel: the answer
  // goes to the CONNECT request, and a relocation there refuses the tunnel.
  const bool tunnel = viaProxy && EqualIgnoringAsciiCase(SplitUrl(address).Proto, "https");
  int lookups = 0, relocations = 0, done = 0;
  std::uint16_t doneError = 0;
  http.OnStateChange = [&](TObject*) {
    if (http.State() == hsResolving && ++lookups > 1) http.Abort();
  };
  http.OnLocationChange = [&](TObject*) { ++relocations; };
  http.OnRequestDone = [&](TObject*, THttpRequest, std::uint16_t error) {
    ++done;
    doneError = error;
  };
  http.StartRequest(rqGet);

  auto gone = [&] { return http.State() == hsIdle || http.Socket().State() != wsConnected; };
  bool answered = false;
  if (server.Accept([&] { return http.State() == hsIdle; })) {
    // A tunnel stays in the connection's states until the proxy answers.
    if (tunnel)
      server.AwaitRequest(gone);
    else
      PumpUntil([&] { return http.State() != hsConnected && http.State() != hsResolved; });
    if (!gone()) {
      server.Feed("HTTP/1.0 302 Found\r\nLocation: " + value + "\r\n\r\n", http.Socket().HSocket(),
                  gone);
      answered = true;
    }
  }
  Check(server.Finish([&] { return done == 1; }));
  Check(http.State() == hsIdle);
  if (!answered) return 0;
  if (tunnel) {
    Check(relocations == 0 && doneError == kHttpErrorTunnelRefused);
    return 0;
  }
  // Any value is followed; one beginning with a single "/" keeps scheme and
  // server and ends the address ("//host/..." names another server).
  Check(relocations == 1 && lookups == 2);
  Check(!http.Location().empty());
  // Dot segments ("/../", "/./") are removed from the path, as a browser does.
  if (!value.empty() && value[0] == '/' && !value.starts_with("//") &&
      value.find("/.") == std::string::npos) {
    Check(http.Location().size() >= value.size());
    Check(http.Location().compare(http.Location().size() - value.size(), value.size(), value) == 0);
  }
  return 0;
}
