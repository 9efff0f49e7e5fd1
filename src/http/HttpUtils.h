// Small text helpers of the HTTP client: the check of a header line's text,
// Base64, the HTTP date text and the names documents are saved under. The
// parts of an address are in the url layer (UrlParts.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Whether a text may stand in a request header: no CR, LF or NUL.
bool IsSafeHeaderText(std::string_view Text);

// The items of a header value that is a comma-separated list ("close",
// "gzip, chunked"), without the blanks around them; empty items dropped.
std::vector<std::string_view> HeaderListItems(std::string_view Value);
// Whether one of those items is Token, in any case of its letters.
bool HasHeaderToken(std::string_view Value, std::string_view Token);

// Standard Base64 (RFC 2045 alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const std::string& Data);

// Weekday, day, month, year and time of a date-time value (days since
// 30 December 1899, fraction = time of day), e.g. "Sun, 06 Dec 2026 17:27:53".
// A value before the year 1 (or NaN) gives 1 January 0001, one after the
// year 9999 the last second of 9999.
std::string FormatHttpDate(double DateTime);
// The date-time value of a calendar date and time.
double EncodeDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second);
// Unix seconds of a calendar date and time (UTC, proleptic Gregorian); the
// fields are not checked.
std::int64_t UnixTimeOf(int Year, int Month, int Day, int Hour, int Minute, int Second);

// Replaces the extension of Name (after its last ".") by NewExt, or appends
// "." + NewExt when Name has no dot.
void ReplaceExtension(std::string& Name, const std::string& NewExt);

// The name under which the document at a request path is saved.
std::string DocumentNameOf(const std::string& Path);
