// How the fuzz targets cut an input into pieces: the lengths follow a seed
// taken from the input, so that a crash replays with the same cuts.
#pragma once

#include <algorithm>
#include <string_view>

// Cuts text into pieces of 1 to 256 bytes whose lengths follow `seed`.
template <typename OnPiece>
void ForEachPiece(std::string_view text, unsigned seed, OnPiece&& onPiece) {
  unsigned state = seed * 2654435761u + 1;
  while (!text.empty()) {
    state = state * 1103515245u + 12345u;
    size_t length = 1 + (state >> 16) % 256;
    onPiece(text.substr(0, length));
    text.remove_prefix(std::min(length, text.size()));
  }
}
