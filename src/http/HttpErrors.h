// The error codes of the HTTP client (THttpCli) for failures it finds itself,
// with their English texts. They lie below the socket codes, so OnRequestDone's
// Error tells them apart from a Windows Sockets, SOCKS or TLS code.
//
// StartRequest raises the first two as EHttpException (ErrorCode: the code).
// The others end a request with StatusCode 404 and the code as
// OnRequestDone's Error; ReasonPhrase is the code's text, except for
// kHttpErrorTunnelRefused, whose ReasonPhrase is the proxy's own answer.
#pragma once

#include <cstdint>
#include <string>

constexpr std::uint16_t kHttpErrorBusy = 1;           // a request is running
constexpr std::uint16_t kHttpErrorNothingToPost = 2;  // a POST without PostStream
constexpr std::uint16_t kHttpErrorAborted = 3;        // Abort
constexpr std::uint16_t kHttpErrorLineTooLong = 4;    // a header line past HttpLineBufferSize
constexpr std::uint16_t kHttpErrorBadStatus = 5;
constexpr std::uint16_t kHttpErrorDocTooLarge = 6;         // past MaxDocSize
constexpr std::uint16_t kHttpErrorTooManyRelocations = 7;  // more than HttpMaxRelocations
constexpr std::uint16_t kHttpErrorTunnelRefused = 8;  // the proxy did not answer CONNECT with 200
constexpr std::uint16_t kHttpErrorBadPort = 9;        // a port that is no number from 1 to 65535
constexpr std::uint16_t kHttpErrorUnsafeHeader = 10;  // a request line would carry CR, LF or NUL
constexpr std::uint16_t kHttpErrorNoStatus = 11;      // the answer ended without a status line
constexpr std::uint16_t kHttpErrorShortBody = 12;     // closed before Content-Length bytes came
constexpr std::uint16_t kHttpErrorNotArchived = 13;   // a replay's archives hold nothing for it
constexpr std::uint16_t kHttpErrorBadChunk = 14;      // a chunked body's framing is unreadable
constexpr std::uint16_t kHttpErrorBadCoding = 15;     // a compressed body cannot be undone

// The status a failure found by the client reports (see above).
constexpr int kHttpFailureStatus = 404;

// Relocations followed in one request; the next one ends it with
// kHttpErrorTooManyRelocations.
constexpr int HttpMaxRelocations = 20;

// Whether a failed request would fail again the same way: the server
// answered with a status of 400 or more (Error 0), or its answer could not
// be used (an overlong line, no readable status, too large, too many
// relocations), or the address cannot be sent. A failure of the connection
// (refused, reset, timed out, aborted, cut short) may pass on another try.
bool HttpFailureIsFinal(std::uint16_t Error, int Status);

// The text of one of the codes above; "HTTP error #" and the number for any
// other.
std::string HttpErrorText(std::uint16_t Code);
