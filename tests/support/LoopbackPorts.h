// Ports on 127.0.0.1 for the servers and peers that tests start.
#pragma once

#include <cstdint>

namespace testsupport {

// A port on 127.0.0.1 that nobody listened on a moment ago.
std::uint16_t FreeLoopbackPort();
// True when 127.0.0.1:port accepts a connection.
bool PortAccepts(std::uint16_t port);
// A listening socket on 127.0.0.1 at a port the system chose (set in `port`).
int ListenOnLoopback(std::uint16_t& port, int backlog);

}  // namespace testsupport
