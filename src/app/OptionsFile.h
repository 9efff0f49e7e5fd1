// The settings file options.dat in the program's directory: the automatic
// mode flag and two length-prefixed strings (address, proxy), no header.
//
//   offset 0        1 byte   auto flag (non-zero: ticked)
//   offset 1        1 byte   L1, then L1 bytes: the start address
//   offset 2 + L1   1 byte   L2, then L2 bytes: the proxy
//
// Bytes after the proxy are ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kOptionsFileName = "options.dat";
inline constexpr size_t kMaxOptionText = 255;  // what one length byte can hold

// The text shown when the file ends inside a field.
inline constexpr std::string_view kReadBeyondEnd = "Read beyond end of file";

// The file's bytes up to the longest possible contents (later bytes do not
// count); nullopt when the file cannot be opened. Throws EInOutError when
// reading fails.
std::optional<std::string> ReadOptionsBytes(const std::string& path);

// Reads the fields in file order; a field the bytes do not complete throws
// EInOutError(kReadBeyondEnd), leaving the fields read before it usable.
class TOptionsReader {
 public:
  explicit TOptionsReader(std::string bytes) : bytes_(std::move(bytes)) {}
  bool ReadFlag();
  std::string ReadString();

 private:
  unsigned char ReadByte();
  std::string bytes_;
  size_t at_ = 0;
};

// The file's contents for these settings. Texts longer than 255 bytes keep
// their first 255 (the edit fields do not take more).
std::string EncodeOptions(bool autoMode, std::string_view address, std::string_view proxy);

// Replaces the file with one of these contents, the old one staying as it
// was until the new one is complete (see TOutFile); a new file may be read
// by its owner only. Returns false when the file cannot be created; throws
// EInOutError when writing fails.
bool WriteOptionsFile(const std::string& path, std::string_view contents);
