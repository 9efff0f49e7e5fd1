// The server side of the fuzz targets that take bytes from a connection: a
// listener on 127.0.0.1 served from the fuzzing thread itself, so that an
// input runs alone and needs no second thread. The component under test
// connects; the target writes the input in pieces and pumps the component's
// messages until it has read each piece.
#pragma once

#include <functional>
#include <string>
#include <string_view>

// Pumps the thread's messages, waiting for the next one between passes,
// until done() holds; false when it still does not after `rounds` passes.
bool PumpUntil(const std::function<bool()>& done, int rounds = 10000);

class TFuzzServer {
 public:
  TFuzzServer();  // aborts when no listener can be opened
  ~TFuzzServer();
  TFuzzServer(const TFuzzServer&) = delete;
  TFuzzServer& operator=(const TFuzzServer&) = delete;

  std::string PortText() const { return std::to_string(port_); }

  // Pumps until the component's connection has been accepted (true) or
  // gone() holds.
  bool Accept(const std::function<bool()>& gone);
  // Sends the piece, then pumps until the component has read all of it
  // from its socket clientFd, or gone() holds. A component that leaves the
  // bytes unread is given up on after a bounded wait.
  void Feed(std::string_view piece, int clientFd, const std::function<bool()>& gone);
  // Pumps until the component has sent bytes not read before (true), or
  // gone() holds, or a bounded wait has passed.
  bool AwaitRequest(const std::function<bool()>& gone);
  // The orderly end of the server's side; pumps until done() holds, then
  // closes. False when done() never came.
  bool Finish(const std::function<bool()>& done);

 private:
  size_t Drain();

  int listenFd_ = -1;
  int fd_ = -1;
  int port_ = 0;
};
