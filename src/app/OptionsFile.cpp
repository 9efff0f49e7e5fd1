#include "OptionsFile.h"

#include "FileIO.h"

namespace {
constexpr size_t kLongestContents = 3 + 2 * kMaxOptionText;

void AppendShortString(std::string& out, std::string_view text) {
  text = text.substr(0, kMaxOptionText);
  out += static_cast<char>(text.size());
  out += text;
}
}  // namespace

std::optional<std::string> ReadOptionsBytes(const std::string& path) {
  TInFile file(path);
  if (!file.IsOpen()) return std::nullopt;
  std::string bytes(kLongestContents, '\0');
  size_t have = 0;
  for (int reads = 0; have < bytes.size() && reads < 1000; ++reads) {
    size_t got = file.Read(bytes.data() + have, bytes.size() - have);
    if (got == 0) break;
    have += got;
  }
  bytes.resize(have);
  return bytes;
}

unsigned char TOptionsReader::ReadByte() {
  if (at_ >= bytes_.size()) throw EInOutError(std::string(kReadBeyondEnd));
  return static_cast<unsigned char>(bytes_[at_++]);
}

bool TOptionsReader::ReadFlag() { return ReadByte() != 0; }

std::string TOptionsReader::ReadString() {
  size_t length = ReadByte();
  if (bytes_.size() - at_ < length) throw EInOutError(std::string(kReadBeyondEnd));
  std::string text = bytes_.substr(at_, length);
  at_ += length;
  return text;
}

std::string EncodeOptions(bool autoMode, std::string_view address, std::string_view proxy) {
  std::string out(1, autoMode ? '\1' : '\0');
  AppendShortString(out, address);
  AppendShortString(out, proxy);
  return out;
}

bool WriteOptionsFile(const std::string& path, std::string_view contents) {
  // The proxy may be given as "user:password@host": a new file is the
  // user's alone. One whose permissions the user chose keeps them.
  TOutFile file(path, kPrivateFileMode);
  if (!file.IsOpen()) return false;
  file.Write(contents);
  file.Close();
  return true;
}
