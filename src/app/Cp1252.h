// Conversion between the program's 8-bit Windows-1252 texts and QString, used
// only where a text crosses into or out of a Qt widget.
//
// The mapping is exact both ways: the five bytes that have no character in
// Windows-1252 (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control characters
// of the same number, so every byte survives a round trip. Characters typed
// by the user that Windows-1252 cannot hold become '?'.
#pragma once

#include <QString>
#include <string>
#include <string_view>

QString FromCp1252(std::string_view bytes);
std::string ToCp1252(const QString& text);
