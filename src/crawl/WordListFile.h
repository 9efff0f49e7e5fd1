// Word list text files: one caption per line.
//
// Reading: a line ends at CR, an LF right after the CR belongs to that line
// end, an LF anywhere else is an ordinary byte. Byte 26 (Ctrl+Z) or the end
// of the file ends the contents; a last line needs no line end, and a line
// end at the very end adds no empty line. Writing puts CR LF after every
// caption. Bytes are taken unchanged both ways.
#pragma once

#include <string>
#include <string_view>

#include "WordList.h"

// Cuts text file contents into lines. Feed the contents in pieces, then
// Finish(); each complete line goes to the callback.
class TWordLineReader {
 public:
  template <typename OnLine>
  void Feed(std::string_view piece, OnLine&& onLine);
  // The end of the contents: hands over a last line without a line end.
  template <typename OnLine>
  void Finish(OnLine&& onLine);
  bool Ended() const { return ended_; }  // byte 26 was seen

 private:
  std::string line_;
  bool lineStarted_ = false;
  bool afterCr_ = false;
  bool ended_ = false;
};

// Appends every line of the file as an unmarked entry. Returns false, adding
// nothing, when the file cannot be opened. A read error ends the reading as
// the end of the file would; the lines read so far stay in the list.
bool AppendWordListFile(const std::string& path, WordList& words);

// Writes every caption plus CR LF. Throws EInOutError when the file cannot
// be created or written.
void WriteWordListFile(const std::string& path, const WordList& words);

// ---------------------------------------------------------------------------

template <typename OnLine>
void TWordLineReader::Feed(std::string_view piece, OnLine&& onLine) {
  size_t at = 0;
  if (ended_) return;
  if (afterCr_ && !piece.empty()) {
    afterCr_ = false;
    if (piece[0] == '\n') at = 1;
  }
  while (at < piece.size()) {
    size_t stop = piece.find_first_of(std::string_view("\r\x1A", 2), at);
    size_t end = stop == std::string_view::npos ? piece.size() : stop;
    if (end > at) {
      line_.append(piece.substr(at, end - at));
      lineStarted_ = true;
    }
    if (stop == std::string_view::npos) return;
    if (piece[stop] == '\x1A') {
      ended_ = true;
      return;
    }
    onLine(std::move(line_));
    line_.clear();
    lineStarted_ = false;
    at = stop + 1;
    if (at == piece.size()) {
      afterCr_ = true;
    } else if (piece[at] == '\n') {
      ++at;
    }
  }
}

template <typename OnLine>
void TWordLineReader::Finish(OnLine&& onLine) {
  if (lineStarted_) onLine(std::move(line_));
  line_.clear();
  lineStarted_ = false;
  ended_ = true;
}
