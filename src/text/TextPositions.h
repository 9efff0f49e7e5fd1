// Positions in a text counted from 1, 0 meaning "not found", and the pieces
// they cut: the address splitting and the document names were written
// against them.
#pragma once

#include <cstddef>
#include <string>

// Position of the first occurrence of Sub in Text, or 0.
long Pos(const std::string& Sub, const std::string& Text);

// Position of the last occurrence of Sub in Text, or 0.
std::size_t LastPos(const std::string& Sub, const std::string& Text);

// A piece of a text, clamped: a start below 1 starts at 1, a negative count
// gives "", a piece running past the end stops there.
std::string Copy(const std::string& Text, long Start, long Count);
