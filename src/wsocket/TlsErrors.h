// The socket error codes of the TLS layer (TCustomSslWSocket), with their
// English texts. They lie above the SOCKS codes (20001..20017) and below
// 65536, so that they travel as the 16-bit Error of the socket events.
//
//   20100..20107  failures named below
//   20200..20399  the certificate was not accepted: 20200 + the library's
//                 verification result (X509_V_ERR_...)
//   20400..20655  the peer sent a fatal TLS alert: 20400 + its description
//
// The texts of the two ranges are the TLS library's own words for the
// verification result or the alert, so a log line says what went wrong.
#pragma once

#include <optional>
#include <string>

constexpr int TlsHandshakeFailed = 20100;
constexpr int TlsPeerSpeaksNoTls = 20101;
constexpr int TlsClosedInHandshake = 20102;
constexpr int TlsClosedWithoutAlert = 20103;
constexpr int TlsProtocolError = 20104;
constexpr int TlsCAFileUnreadable = 20105;
constexpr int TlsLibraryFailure = 20106;
constexpr int TlsCertificateBase = 20200;
constexpr int TlsCertificateLast = 20399;
constexpr int TlsAlertBase = 20400;
constexpr int TlsAlertLast = 20655;

// Well-known certificate verdicts, as codes of the certificate range.
constexpr int TlsCertificateExpired = TlsCertificateBase + 10;  // X509_V_ERR_CERT_HAS_EXPIRED
constexpr int TlsCertificateSelfSigned =
    TlsCertificateBase + 18;  // ..._DEPTH_ZERO_SELF_SIGNED_CERT
constexpr int TlsCertificateIssuerUnknown =
    TlsCertificateBase + 20;  // ..._UNABLE_TO_GET_ISSUER_CERT_LOCALLY
constexpr int TlsCertificateNameMismatch = TlsCertificateBase + 62;  // X509_V_ERR_HOSTNAME_MISMATCH
constexpr int TlsCertificateAddressMismatch =
    TlsCertificateBase + 64;  // X509_V_ERR_IP_ADDRESS_MISMATCH

// True for every code of the TLS layer.
bool IsTlsErrorCode(int Code);
// The text of a TLS code; nullopt for any other code.
std::optional<std::string> TlsErrorText(int Code);
