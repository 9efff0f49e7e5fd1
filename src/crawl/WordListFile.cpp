#include "WordListFile.h"

#include <new>
#include <vector>

#include "FileIO.h"
#include "Utf8Text.h"
#include "WordListCommands.h"

namespace {
constexpr size_t kChunkSize = 1 << 20;
constexpr std::string_view kOutOfMemory = "Not enough memory to read the whole file";

// Whether the bytes written so far, ending with `caption` and its CR LF,
// would read as ending in the end-of-file mark: after the caption's last
// byte other than CR and LF comes nothing but line ends. A caption of those
// bytes only (or none) leaves the answer as it was.
bool EndsLikeTheMark(std::string_view caption, bool before) {
  size_t last = caption.find_last_not_of("\r\n");
  if (last == std::string_view::npos) return before;
  return caption[last] == '\x1A';
}
}  // namespace

namespace {

// The whole contents, as far as the memory allows: a file's encoding shows
// only in all of its bytes. False when the memory ran out; `contents` then
// holds what fit.
bool ReadContents(TInFile& file, std::string& contents) {
  try {
    std::vector<char> buffer(kChunkSize);
    for (;;) {
      size_t got = 0;
      try {
        got = file.Read(buffer.data(), buffer.size());
      } catch (const EInOutError&) {
        got = 0;  // a read error ends the contents like the end of the file
      }
      if (got == 0) return true;
      contents.append(buffer.data(), got);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Makes every lone LF a CR, the line end the reader knows; CR LF stays.
void EndLinesAtLineFeeds(std::string& contents) {
  bool afterCr = false;  // the byte before was a CR of the file, not one made here
  for (char& c : contents) {
    bool lineFeed = c == '\n';
    if (lineFeed && !afterCr) c = '\r';
    afterCr = !lineFeed && c == '\r';
  }
}

// A UTF-8 file becomes Windows-1252 text whose lines also end at lone LFs.
void PrepareContents(std::string& contents, TLineFeedRule lineFeeds) {
  const bool utf8 = IsUtf8Text(contents);
  if (utf8) contents = Utf8ToCp1252(contents);
  const bool noCr = contents.find('\r') == std::string::npos;
  if (utf8 || (lineFeeds == TLineFeedRule::AlsoWithoutCr && noCr)) EndLinesAtLineFeeds(contents);
}

}  // namespace

bool AppendWordListFile(const std::string& path, WordList& words, TLineFeedRule lineFeeds) {
  TInFile file(path);
  if (!file.IsOpen()) return false;
  TWordBatch batch(words);
  TWordLineReader reader;
  auto addWord = [&](std::string line) { words.AddWord(std::move(line)); };
  std::string contents;
  bool whole = ReadContents(file, contents);
  try {
    PrepareContents(contents, lineFeeds);
    reader.Feed(contents, addWord);
    // Of contents cut short by the memory, the unfinished last line is dropped.
    if (whole) reader.Finish(addWord);
  } catch (const std::bad_alloc&) {
    whole = false;
  }
  // A line longer than the memory, or more lines than fit: the list keeps
  // what was read, and the user learns that the file was not read whole.
  if (!whole) throw EInOutError(std::string(kOutOfMemory));
  return true;
}

void TWordListWriter::AddLine(std::string_view line) {
  if (encoding_ == TListEncoding::Utf8) {
    bytes_ += Cp1252ToUtf8(line);
    bytes_ += '\n';
    return;
  }
  bytes_ += line;
  bytes_ += "\r\n";
  endsLikeTheMark_ = EndsLikeTheMark(line, endsLikeTheMark_);
}

void TWordListWriter::Finish() {
  // The last byte 26 then ends the contents, and the one in the caption is
  // read as part of it.
  if (endsLikeTheMark_) bytes_ += '\x1A';
  endsLikeTheMark_ = false;
}

void WriteWordListFile(const std::string& path, const WordList& words) {
  TOutFile file(path);
  if (!file.IsOpen()) throw EInOutError(file.OpenErrorText());
  TWordListWriter writer(TListEncoding::Windows1252);
  writer.Reserve(kChunkSize + 64);
  for (const WordEntry& entry : words.Entries()) {
    writer.AddLine(entry.Caption);
    if (writer.Bytes().size() >= kChunkSize) {
      file.Write(writer.Bytes());
      writer.ClearBytes();
    }
  }
  writer.Finish();
  file.Write(writer.Bytes());
  file.Close();
}
