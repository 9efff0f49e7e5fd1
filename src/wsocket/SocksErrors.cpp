#include "SocksErrors.h"

std::optional<std::string> SocksErrorText(int Code) {
  switch (Code) {
    case SocksLogicError:
      return "TWSocket logic error";
    case SocksVersionError:
      return "socks version error";
    case SocksMethodNotAcceptable:
      return "authentification method not acceptable";
    case SocksServerFailure:
      return "general SOCKS server failure";
    case SocksNotAllowedByRuleset:
      return "connection not allowed by ruleset";
    case SocksNetworkUnreachable:
      return "network unreachable";
    case SocksHostUnreachable:
      return "host unreachable";
    case SocksConnectionRefused:
      return "connection refused";
    case SocksTtlExpired:
      return "time to live expired";
    case SocksCommandNotSupported:
      return "command not supported";
    case SocksAddressTypeNotSupported:
      return "address type not supported";
    case SocksUnassignedReply:
      return "unassigned error #";
    case SocksInternalError:
      return "internal error";
    case SocksAuthenticationFailed:
      return "authentification failed";
    case SocksRequestRejected:
      return "request rejected or failed";
    default:
      return std::nullopt;
  }
}
