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
    case kHttpErrorBadPort:
      return "Invalid port number";
    case kHttpErrorUnsafeHeader:
      return "Line break or NUL in a request header";
    case kHttpErrorNoStatus:
      return "Answer without a status line";
    case kHttpErrorShortBody:
      return "Connection closed before the whole document came";
    case kHttpErrorNotArchived:
      return "Not in the web archive";
    case kHttpErrorBadChunk:
      return "Unreadable chunked answer";
    case kHttpErrorBadCoding:
      return "Unreadable compressed answer";
    default:
      return "HTTP error #" + std::to_string(Code);
  }
}

bool HttpFailureIsFinal(std::uint16_t Error, int Status) {
  switch (Error) {
    case 0:
      return Status >= 400;
    case kHttpErrorLineTooLong:
    case kHttpErrorBadStatus:
    case kHttpErrorDocTooLarge:
    case kHttpErrorTooManyRelocations:
    case kHttpErrorBadPort:
    case kHttpErrorUnsafeHeader:
    case kHttpErrorNotArchived:
    case kHttpErrorBadChunk:
    case kHttpErrorBadCoding:
      return true;
    default:
      return false;
  }
}
