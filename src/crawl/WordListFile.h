// Word list text files: one caption per line.
//
// Reading: a line ends at CR, an LF right after the CR belongs to that line
// end, an LF anywhere else is an ordinary byte. The end of the file ends the
// contents, and so does a byte 26 (Ctrl+Z) that only CR and LF bytes follow:
// the end-of-file mark of old files. A byte 26 anywhere else is an ordinary
// byte of its line. A last line needs no line end, and a line end at the
// very end adds no empty line. Writing puts CR LF after every caption, and a
// byte 26 at the very end when the bytes before would read as ending in the
// mark. Bytes are taken unchanged both ways: every list whose captions hold
// no CR reads back as it was written. The command line can write UTF-8
// instead: each line's characters in UTF-8, each ended by LF, no mark.
// Only a file in UTF-8 (a byte-order
// mark, or valid UTF-8 with a multi-byte sequence) is read into Windows-1252
// captions, a character without a byte as "&#N;"; in such a file a lone LF
// ends a line too, as other programs write UTF-8 lists.
#pragma once

#include <string>
#include <string_view>
#include <utility>

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

 private:
  // Cuts `piece` at its line ends; stops at a byte 26, which may be the
  // end-of-file mark (markPending_).
  template <typename OnLine>
  void FeedLines(std::string_view piece, OnLine&& onLine);
  // Bytes other than CR and LF follow the byte 26: it belongs to the line,
  // and the line ends held behind it are cut as usual.
  template <typename OnLine>
  void TakeMarkIntoLine(OnLine&& onLine);

  std::string line_;
  bool lineStarted_ = false;
  bool afterCr_ = false;
  bool ended_ = false;
  bool markPending_ = false;  // a byte 26 followed, so far, by line ends only
  std::string markTail_;      // those line ends
};

// Where a lone LF ends a line besides in UTF-8 files.
enum class TLineFeedRule {
  OnlyInUtf8,     // the window's open command: elsewhere an ordinary byte
  AlsoWithoutCr,  // the command line: also in a file without any CR, as its
                  // own UTF-8 lists are (ASCII ones included)
};

// Appends every line of the file as an unmarked entry. Returns false, adding
// nothing, when the file cannot be opened (also when it is no regular file).
// A read error ends the reading as the end of the file would; the lines read
// so far stay in the list. Throws EInOutError when the memory runs out; the
// lines read so far stay then too.
bool AppendWordListFile(const std::string& path, WordList& words,
                        TLineFeedRule lineFeeds = TLineFeedRule::OnlyInUtf8);

// The two forms in which lists are written.
enum class TListEncoding {
  Windows1252,  // the window's files: the bytes as they stand, CR LF, the mark where needed
  Utf8,         // each "&#N;" as its character, LF
};

// Turns lines (Windows-1252 texts, no line ends) into the bytes of a list
// file; the window's save and the command line's output both write through
// it. The bytes collect in Bytes() until the caller writes and clears them.
class TWordListWriter {
 public:
  explicit TWordListWriter(TListEncoding encoding) : encoding_(encoding) {}

  void AddLine(std::string_view line);
  // After the last line: adds the end-of-file mark when the Windows-1252
  // bytes would otherwise read as ending in one.
  void Finish();

  const std::string& Bytes() const { return bytes_; }
  // Forgets the bytes made so far, keeping their memory for the next ones.
  void ClearBytes() { bytes_.clear(); }
  // Hands the bytes made so far over; the writer goes on with none.
  std::string TakeBytes() { return std::exchange(bytes_, {}); }
  void Reserve(size_t bytes) { bytes_.reserve(bytes); }

 private:
  TListEncoding encoding_;
  std::string bytes_;
  bool endsLikeTheMark_ = false;
};

// Writes every caption plus CR LF. Throws EInOutError when the file cannot
// be created or written.
void WriteWordListFile(const std::string& path, const WordList& words);

// ---------------------------------------------------------------------------

template <typename OnLine>
void TWordLineReader::Feed(std::string_view piece, OnLine&& onLine) {
  if (ended_) return;
  if (markPending_) {
    size_t other = piece.find_first_not_of("\r\n");
    if (other == std::string_view::npos) {
      markTail_.append(piece);
      return;
    }
    TakeMarkIntoLine(onLine);
  }
  FeedLines(piece, onLine);
}

template <typename OnLine>
void TWordLineReader::FeedLines(std::string_view piece, OnLine&& onLine) {
  size_t at = 0;
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
    at = stop + 1;
    if (piece[stop] == '\x1A') {
      size_t other = piece.find_first_not_of("\r\n", at);
      if (other == std::string_view::npos) {
        markPending_ = true;
        markTail_.assign(piece.substr(at));
        return;
      }
      line_ += '\x1A';
      lineStarted_ = true;
      continue;
    }
    onLine(std::move(line_));
    line_.clear();
    lineStarted_ = false;
    if (at == piece.size()) {
      afterCr_ = true;
    } else if (piece[at] == '\n') {
      ++at;
    }
  }
}

template <typename OnLine>
void TWordLineReader::TakeMarkIntoLine(OnLine&& onLine) {
  markPending_ = false;
  line_ += '\x1A';
  lineStarted_ = true;
  std::string tail = std::move(markTail_);
  markTail_.clear();
  FeedLines(tail, onLine);  // line ends only: no byte 26 in there
}

template <typename OnLine>
void TWordLineReader::Finish(OnLine&& onLine) {
  // A pending byte 26 was the end-of-file mark: the line before it ends
  // there, and the line ends behind it add nothing.
  if (lineStarted_) onLine(std::move(line_));
  line_.clear();
  markTail_.clear();
  lineStarted_ = false;
  markPending_ = false;
  ended_ = true;
}
