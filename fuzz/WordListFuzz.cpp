// Arbitrary bytes as a word list file: read whole, read in pieces, read
// from a file, and written back. Byte 0 chooses how the pieces are cut.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzFile.h"
#include "FuzzPieces.h"
#include "Utf8Text.h"
#include "WordListFile.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> Lines(std::string_view contents, unsigned seed, bool inPieces) {
  std::vector<std::string> lines;
  auto keep = [&](std::string line) { lines.push_back(std::move(line)); };
  TWordLineReader reader;
  if (inPieces) {
    ForEachPiece(contents, seed, [&](std::string_view piece) { reader.Feed(piece, keep); });
  } else {
    reader.Feed(contents, keep);
  }
  reader.Finish(keep);
  return lines;
}

std::vector<std::string> Captions(const WordList& words) {
  std::vector<std::string> captions;
  for (size_t i = 0; i < words.WordCount(); ++i) captions.push_back(words.WordAt(i));
  return captions;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view contents(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string> lines = Lines(contents, data[0], false);
  // Where the pieces are cut does not change the lines.
  Check(Lines(contents, data[0], true) == lines);
  for (const std::string& line : lines) Check(line.find('\r') == std::string::npos);

  WordList words;
  Check(AppendWordListFile(ScratchFileWith(contents), words));
  // A UTF-8 file is read as text in its own encoding, not line by line as bytes.
  if (IsUtf8Text(contents)) return 0;
  Check(Captions(words) == lines);

  // Captions without CR and byte 26 come back from a save as they were.
  for (const std::string& line : lines) {
    if (line.find('\x1A') != std::string::npos) return 0;
  }
  const std::string& path = ScratchFileWith("");
  WriteWordListFile(path, words);
  WordList reread;
  Check(AppendWordListFile(path, reread));
  Check(Captions(reread) == lines);
  return 0;
}
