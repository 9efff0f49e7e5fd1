// The header of a WARC record or of an HTTP message: lines ended by CR LF,
// or by LF alone as some tools write them, "Name: value" fields, and a blank
// line at the end.
#pragma once

#include <cstddef>
#include <string_view>

// The next line of `text` without its line end, with `text` moved past it;
// false when `text` holds no complete line (it is then left as it was).
bool TakeLine(std::string_view& text, std::string_view& line);

// The offset just past the blank line that ends the header at the start of
// `text`, or npos. The search starts at `from`, an offset the caller has
// searched before without success, so a header that arrives in pieces is not
// searched again from its start.
std::size_t HeaderEnd(std::string_view text, std::size_t from = 0);

// `text` without the spaces and tabs at either end.
std::string_view TrimBlanks(std::string_view text);

// "Name: value" with the blanks around both taken off; false when the line
// holds no colon.
bool SplitField(std::string_view line, std::string_view& name, std::string_view& value);

// A line that continues the field above it (it starts with a space or tab).
inline bool IsContinuationLine(std::string_view line) {
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}
