#include "SocketErrors.h"

#include <optional>

#include "TlsErrors.h"
#include "WinSockErrors.h"

std::string WSocketErrorText(int Code) {
  if (std::optional<std::string> tls = TlsErrorText(Code)) return *tls;
  return winsock::WinSockErrorText(Code).value_or("Not a WinSock error");
}
