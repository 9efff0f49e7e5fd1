#include "WordListFile.h"

#include <vector>

#include "FileIO.h"
#include "WordListCommands.h"

namespace {
constexpr size_t kChunkSize = 1 << 20;
}

bool AppendWordListFile(const std::string& path, WordList& words) {
  TInFile file(path);
  if (!file.IsOpen()) return false;
  TWordBatch batch(words);
  TWordLineReader reader;
  auto addWord = [&](std::string line) { words.AddWord(std::move(line)); };
  std::vector<char> buffer(kChunkSize);
  while (!reader.Ended()) {
    size_t got = 0;
    try {
      got = file.Read(buffer.data(), buffer.size());
    } catch (const EInOutError&) {
      got = 0;  // a read error ends the contents like the end of the file
    }
    if (got == 0) break;
    reader.Feed(std::string_view(buffer.data(), got), addWord);
  }
  reader.Finish(addWord);
  return true;
}

void WriteWordListFile(const std::string& path, const WordList& words) {
  TOutFile file(path);
  if (!file.IsOpen()) throw EInOutError(file.OpenErrorText());
  std::string out;
  out.reserve(kChunkSize + 64);
  for (const WordEntry& entry : words.Entries()) {
    out += entry.Caption;
    out += "\r\n";
    if (out.size() >= kChunkSize) {
      file.Write(out);
      out.clear();
    }
  }
  file.Write(out);
  file.Close();
}
