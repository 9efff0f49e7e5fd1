// Arbitrary bytes from a SOCKS server, in arbitrary pieces, through the
// socket's SOCKS negotiation and on into the connection. Byte 0 chooses the
// setup (bits 0-1: SOCKS 5, 4, 4A, or 5 with username/password; bit 2: line
// mode), byte 1 how the messages are cut into pieces; the rest is what the
// server sends: messages, each a length byte and that many bytes (the last
// one takes what is left). Like a real server, the script begins only
// after the socket has sent its first request.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzPieces.h"
#include "FuzzServer.h"
#include "WSocket.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Configure(TWSocket& socket, std::uint8_t setup, const std::string& port) {
  static const char* const levels[] = {"5", "4", "4A", "5"};
  socket.SetSocksServer("127.0.0.1");
  socket.SetSocksPort(port);
  socket.SetSocksLevel(levels[setup & 3]);
  if ((setup & 3) == 3) {
    socket.SetSocksAuthentication(socksAuthenticateUsercode);
    socket.SetSocksUsercode("user");
    socket.SetSocksPassword("pass");
  }
  if (setup & 4) {
    socket.SetLineMode(true);
    socket.SetLineEnd("\n");
  }
  // The destination stays a numeric address: SOCKS 4 resolves it itself.
  socket.SetAddr("127.0.0.1");
  socket.SetPort("80");
  socket.SetProto("tcp");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static TFuzzServer server;
  const std::string sent(reinterpret_cast<const char*>(data) + 2, size - 2);

  TWSocket socket;
  Configure(socket, data[0], server.PortText());
  int connected = 0, closed = 0;
  std::uint16_t connectError = 0;
  std::string received;
  socket.OnSessionConnected = [&](TObject*, std::uint16_t error) {
    ++connected;
    connectError = error;
  };
  socket.OnSessionClosed = [&](TObject*, std::uint16_t) { ++closed; };
  socket.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buffer[256];
    int n;
    while ((n = socket.Receive(buffer, sizeof buffer)) > 0)
      received.append(buffer, static_cast<size_t>(n));
  };
  socket.Connect();

  auto gone = [&] { return socket.State() != wsConnected; };
  std::string_view script = sent;
  std::string afterReplies;
  bool first = true;
  if (server.Accept([&] { return closed > 0; })) {
    while (!script.empty() && !gone()) {
      size_t length = std::min<size_t>(static_cast<unsigned char>(script[0]), script.size() - 1);
      std::string_view message = script.substr(1, length);
      script.remove_prefix(1 + length);
      // The socket answers a complete reply at once: by the time it has
      // read one, its next request is on the way. Only the first request
      // needs waiting for.
      if (first) server.AwaitRequest(gone);
      first = false;
      if (connected != 0) afterReplies += message;
      ForEachPiece(message, data[1], [&](std::string_view piece) {
        if (!gone()) server.Feed(piece, socket.HSocket(), gone);
      });
    }
  }
  Check(server.Finish([&] { return closed > 0; }));

  // The application learns of the connection once, in success or failure,
  // and of its end once; after a success it reads what followed the reply.
  Check(connected == 1 && closed == 1);
  if (connectError != 0) Check(received.empty());
  // Messages after the reply reach the application whole, after any bytes
  // that came with the reply.
  Check(received.ends_with(afterReplies));
  return 0;
}
