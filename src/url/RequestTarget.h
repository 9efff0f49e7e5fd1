// What of an address goes into the request line: HTTP allows only some
// ASCII bytes there, and browsers send every other character as the
// percent-encoded bytes of its UTF-8 form.
#pragma once

#include <string>
#include <string_view>

// The request target sent for a path or an absolute address. The fragment is
// cut off (it names a place inside the document and is never sent). A
// numeric character reference is the character it names, as a browser reads
// the attribute. Each character HTTP does not allow in a target (space,
// control bytes, '"', '<', '>', the bytes 128 to 255 and what is not ASCII,
// and a "#" that a reference names) is sent as the percent-encoded bytes of
// its UTF-8 form, as browsers send them; everything else, "%XX" already
// written included, stays as it is. Bytes are Windows-1252 characters.
std::string RequestTargetOf(std::string_view target);

// The absolute address a request asks for, as an archive names it:
// "scheme://host[:port]target", http for anything but https, the port only
// when it is not the scheme's default, the target as sent (RequestTargetOf;
// "/" for an empty path). RequestUriOf takes an address as the HTTP client
// does (user information and fragment left out).
std::string RequestUri(bool Tls, std::string_view Host, std::string_view Port,
                       std::string_view Path);
std::string RequestUriOf(const std::string& Address);
