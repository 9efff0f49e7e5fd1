#include "TlsErrors.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>

bool IsTlsErrorCode(int Code) {
  return (Code >= TlsHandshakeFailed && Code <= TlsLibraryFailure) ||
         (Code >= TlsCertificateBase && Code <= TlsAlertLast);
}

std::optional<std::string> TlsErrorText(int Code) {
  switch (Code) {
    case TlsHandshakeFailed:
      return "TLS handshake failed";
    case TlsPeerSpeaksNoTls:
      return "TLS handshake failed: the peer does not speak TLS";
    case TlsClosedInHandshake:
      return "TLS handshake failed: the peer closed the connection";
    case TlsClosedWithoutAlert:
      return "TLS connection closed by the peer without a close alert";
    case TlsProtocolError:
      return "TLS protocol error in the received data";
    case TlsCAFileUnreadable:
      return "TLS CA file cannot be read";
    case TlsLibraryFailure:
      return "TLS library failure";
    default:
      break;
  }
  if (Code >= TlsCertificateBase && Code <= TlsCertificateLast) {
    return std::string("TLS certificate not accepted: ") +
           X509_verify_cert_error_string(Code - TlsCertificateBase);
  }
  if (Code >= TlsAlertBase && Code <= TlsAlertLast) {
    return std::string("TLS alert from the peer: ") +
           SSL_alert_desc_string_long(Code - TlsAlertBase);
  }
  return std::nullopt;
}
