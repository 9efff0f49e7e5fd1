// The text of any code a socket event carries as its Error: a Windows
// Sockets code (WinSockErrors.h) or a TLS code (TlsErrors.h). SOCKS codes
// have texts of their own (SocksErrors.h), which come with OnSocksError.
#pragma once

#include <string>

// English text of a socket error code: of a Windows Sockets code or a TLS
// code; "Not a WinSock error" for any other value, SOCKS codes included.
std::string WSocketErrorText(int Code);
