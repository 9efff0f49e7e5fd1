// Plain byte files for the settings file and the word list files: POSIX
// descriptors, so that "cannot open" and "failed while reading or writing"
// stay apart (the callers treat them differently).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// An input/output failure; the message is the text the user is shown.
class EInOutError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The system's text for an errno value.
std::string ErrorText(int error);

class TInFile {
 public:
  // Opens for reading; IsOpen() is false when that fails (missing, no
  // permission, a directory).
  explicit TInFile(const std::string& path);
  ~TInFile();
  TInFile(const TInFile&) = delete;
  TInFile& operator=(const TInFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Reads up to `size` bytes; 0 at the end of the file. Throws EInOutError.
  size_t Read(char* buffer, size_t size);

 private:
  int fd_ = -1;
};

class TOutFile {
 public:
  // Creates or truncates; IsOpen() is false when that fails.
  explicit TOutFile(const std::string& path);
  ~TOutFile();
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // Why opening failed: the system's text.
  std::string OpenErrorText() const { return ErrorText(openError_); }
  // Writes all bytes. Throws EInOutError.
  void Write(std::string_view bytes);
  // Closes and reports a failure that shows only then. Throws EInOutError.
  void Close();

 private:
  int fd_ = -1;
  int openError_ = 0;
};
