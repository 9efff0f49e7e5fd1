// The socket layer's exception, the loading of the socket library, and the
// resolution of host, port and protocol texts. The texts of error codes are
// in SocketErrors.h.
#pragma once

#include <cstdint>
#include <string>

#include "Component.h"

// The socket layer's exception, carrying a message text.
class ESocketException : public Exception {
 public:
  using Exception::Exception;
};

extern const char* const SocketLibraryName;  // "wsock32.dll"

// Starts the socket library on first use (every platform socket call of the
// layer goes through this). Raises ESocketException when start-up fails; the
// library then counts as loaded and start-up is not tried again.
void LoadSocketLibrary();
// Cleans the library up when it is loaded.
void UnloadSocketLibrary();
bool SocketLibraryLoaded();

// Delphi-style trim: drops leading and trailing bytes up to and including
// the blank (control characters and spaces).
std::string TrimBlanks(const std::string& s);
// Whether the text begins with a decimal digit.
bool StartsWithDigit(const std::string& s);
// Skips spaces, then takes decimal digits up to the first other character;
// no sign, wraps in 32 bits.
std::uint32_t LeadingNumber(const std::string& s);

// Host text to an IPv4 address in network order (dotted text or a name,
// the latter looked up with a blocking query).
std::uint32_t WSocketResolveHost(const std::string& InAddr);
// Port text (decimal or service name) to a port number in host order.
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
// Protocol text (decimal or protocol name) to the protocol number.
int WSocketResolveProto(const std::string& Proto);
