// The socket error codes of the SOCKS layer (TCustomSocksWSocket), with their
// English texts. A failed negotiation reports one through OnSocksError (with
// the text), OnSessionConnected and OnSessionClosed; they lie below the TLS
// codes (TlsErrors.h) and travel as the 16-bit Error of the socket events.
// 20014 is not used.
#pragma once

#include <optional>
#include <string>

constexpr int SocksLogicError = 20001;  // a method reply at SOCKS level 4
constexpr int SocksVersionError = 20002;
constexpr int SocksMethodNotAcceptable = 20003;  // the server chose no method offered
constexpr int SocksServerFailure = 20004;        // also: the server closed before its reply
constexpr int SocksNotAllowedByRuleset = 20005;
constexpr int SocksNetworkUnreachable = 20006;
constexpr int SocksHostUnreachable = 20007;
constexpr int SocksConnectionRefused = 20008;
constexpr int SocksTtlExpired = 20009;
constexpr int SocksCommandNotSupported = 20010;
constexpr int SocksAddressTypeNotSupported = 20011;
constexpr int SocksUnassignedReply = 20012;  // a reply code without a meaning
constexpr int SocksInternalError = 20013;    // a request or reply too long for the areas
constexpr int SocksAuthenticationFailed = 20015;
constexpr int SocksRequestRejected = 20016;
constexpr int SocksDestinationUnresolved = 20017;  // SOCKS 4: the destination has no address

// The second cause of two codes has a text of its own.
// SocksLogicError: an authentication reply longer than 2 bytes.
constexpr const char* SocksTooMuchDataText = "too much data availaible";
// SocksAuthenticationFailed: the SOCKS 5 server refused username and password.
constexpr const char* Socks5AuthenticationFailedText = "socks authentication failed";

// The text of a SOCKS code (its first cause; SocksUnassignedReply's is
// followed by the reply code in decimal); nullopt for any other code and for
// SocksDestinationUnresolved, whose text is the resolution's exception.
std::optional<std::string> SocksErrorText(int Code);
