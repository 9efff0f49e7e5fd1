#include "HttpErrors.h"

std::string HttpErrorText(std::uint16_t Code) {
  switch (Code) {
    case kHttpErrorBusy:
      return "HTTP component is busy";
    case kHttpErrorNothingToPost:
      return "HTTP component has nothing to post";
    case kHttpErrorAborted:
      return "Connection aborted on request";
    case kHttpErrorLineTooLong:
      return "HTTP line too long";
    case kHttpErrorBadStatus:
      return "Unreadable status line";
    case kHttpErrorDocTooLarge:
      return "Document larger than the size limit";
    case kHttpErrorTooManyRelocations:
      return "Too many relocations (more than " + std::to_string(HttpMaxRelocations) + ")";
    case kHttpErrorTunnelRefused:
      return "Proxy refused the tunnel";
    default:
      return "HTTP error #" + std::to_string(Code);
  }
}
