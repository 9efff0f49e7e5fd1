// Small text helpers of the HTTP client: splitting an address, the last
// position of a text, Base64, the HTTP date text and document names.
// Positions count from 1; 0 means "not found".
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct TUrlParts {
  std::string Proto, User, Pass, Host, Port, Path;
};

// Splits Url into scheme, user information, host, port (as text) and path
// (with its leading "/" and any query). All six outputs are emptied first.
void SplitUrl(const std::string& Url, std::string& Proto, std::string& User, std::string& Pass,
              std::string& Host, std::string& Port, std::string& Path);
TUrlParts SplitUrl(const std::string& Url);

// The port of an address: decimal digits only, from 1 to 65535; nullopt
// for anything else (a name, a sign, trailing bytes, zero, too large).
std::optional<std::uint16_t> PortNumber(std::string_view Text);

// The origin an address belongs to, "scheme://host:port": the scheme and
// host in lower case, an empty scheme read as http, the scheme's default
// port filled in. Anything but https travels as http.
std::string OriginOf(bool Tls, std::string_view Host, std::string_view Port);
std::string UrlOrigin(const std::string& Url);

// The absolute address a request asks for, as an archive names it:
// "scheme://host[:port]target", http for anything but https, the port only
// when it is not the scheme's default, the target as sent
// (RequestTargetOf; "/" for an empty path). RequestUriOf takes an address
// as the client does (user information and fragment left out).
std::string RequestUri(bool Tls, std::string_view Host, std::string_view Port,
                       std::string_view Path);
std::string RequestUriOf(const std::string& Address);

// Whether a text may stand in a request header: no CR, LF or NUL.
bool IsSafeHeaderText(std::string_view Text);

// Position of the last occurrence of Sub in Text, or 0.
std::size_t LastPos(const std::string& Sub, const std::string& Text);

// Standard Base64 (RFC 2045 alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const std::string& Data);

// Weekday, day, month, year and time of a date-time value (days since
// 30 December 1899, fraction = time of day), e.g. "Sun, 06 Dec 2026 17:27:53".
// A value before the year 1 (or NaN) gives 1 January 0001, one after the
// year 9999 the last second of 9999.
std::string FormatHttpDate(double DateTime);
// The date-time value of a calendar date and time.
double EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second);

// Replaces the extension of Name (after its last ".") by NewExt, or appends
// "." + NewExt when Name has no dot.
void ReplaceExtension(std::string& Name, const std::string& NewExt);

// The name under which the document at a request path is saved.
std::string DocumentNameOf(const std::string& Path);

// A piece of a text, clamped: a start below 1 starts at 1, a negative count
// gives "", a piece running past the end stops there.
std::string Copy(const std::string& Text, long Start, long Count);

// A numeric character reference at `at`, "&#N;" (decimal) or "&#xH;"
// (hexadecimal): the character it names, U+FFFD for a number that names
// none, and its length in `length`; nullopt for anything else. Link values
// keep these as written, as a page wrote them.
std::optional<char32_t> NumericCharReference(std::string_view text, std::size_t at,
                                             std::size_t& length);

// Position (from 0) of the "#" that begins the fragment of an address, or
// npos. The "#" of a numeric character reference ("k&#228;se.html",
// "?a=1&#38;b=2") belongs to the text.
std::size_t FragmentStart(std::string_view address);

// The request target sent for a path or an absolute address. The fragment is
// cut off (it names a place inside the document and is never sent). A
// numeric character reference is the character it names, as a browser reads
// the attribute. Each character HTTP does not allow in a target (space,
// control bytes, '"', '<', '>', the bytes 128 to 255 and what is not ASCII,
// and a "#" that a reference names) is sent as the percent-encoded bytes of
// its UTF-8 form, as browsers send them; everything else, "%XX" already
// written included, stays as it is.
std::string RequestTargetOf(std::string_view target);
