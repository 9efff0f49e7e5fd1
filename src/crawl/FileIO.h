// Plain byte files for the settings file and the word list files: POSIX
// descriptors, so that "cannot open" and "failed while reading or writing"
// stay apart (the callers treat them differently).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/stat.h>

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
  // permission) and for anything but a regular file: a directory, a pipe or
  // a device is no byte file, and reading one could wait for ever or never
  // end.
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

// The permissions a new file is created with, before the umask: the usual
// ones, and those of a file with secrets (passwords) in it.
inline constexpr mode_t kNewFileMode = 0666;
inline constexpr mode_t kPrivateFileMode = 0600;

// Writes a new version of a file. The bytes go to a temporary file beside
// the target, which takes the target's place only in Close(), once every
// byte has been written: a write that fails (a full disk) or is cut short
// (the process killed) leaves the old file as it was. Until then only its
// owner may read it; then it gets the old file's permissions and owner, or
// for a new file `newFileMode` less the umask.
//
// A file is saved exactly when opening its path for writing would be
// allowed. A symbolic link stays and its file is replaced (a dangling one:
// its file is created), but a link in a sticky directory that everyone may
// write (/tmp) is followed only when it belongs to this process's user or to
// the directory's owner, as the kernel's protected-symlink rule has it even
// where that rule is switched off: otherwise anyone could plant a link that
// makes root's save replace a file of their choosing. A target that exists
// and is no regular file (a device, a pipe) is written directly, as there is
// nothing to keep.
class TOutFile {
 public:
  // Creates the temporary file; IsOpen() is false when that fails.
  explicit TOutFile(const std::string& path, mode_t newFileMode = kNewFileMode);
  // Without a successful Close(), removes the temporary file: the target
  // stays untouched.
  ~TOutFile();
  TOutFile(const TOutFile&) = delete;
  TOutFile& operator=(const TOutFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  // The target itself is open (no regular file): no temporary file.
  bool WritesInPlace() const { return IsOpen() && temporary_.empty(); }
  // Why opening failed: the system's text.
  std::string OpenErrorText() const { return ErrorText(openError_); }
  // Writes all bytes. Throws EInOutError.
  void Write(std::string_view bytes);
  // Completes the file on the disk and puts it in place of the target.
  // Throws EInOutError; the target is then unchanged.
  void Close();

 private:
  void OpenTarget(const std::string& path);
  void OpenTemporary();
  void ApplyPermissions();

  std::string target_;
  std::string temporary_;  // empty when the target is written directly
  int fd_ = -1;
  int openError_ = 0;
  mode_t newFileMode_;
  bool oldExists_ = false;
  struct stat old_ {};  // the target's status when oldExists_
};
