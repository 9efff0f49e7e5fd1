#include "FileIO.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Temporary files made by this process so far: part of their names.
unsigned g_temporaryCount = 0;

template <typename Call>
int RetryInterrupted(Call call) {
  int result = -1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    result = call();
    if (result >= 0 || errno != EINTR) break;
  }
  return result;
}

// Where the bytes of `path` live: a symbolic link is followed, so that the
// link stays and the file it names is replaced.
std::string ResolvedTarget(const std::string& path) {
  struct stat link {};
  if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return path;  // a dangling link: the new file takes its place
  std::string target(resolved);
  std::free(resolved);
  return target;
}

// The directory part of `path`, with its slash; empty for a bare name.
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string ErrorText(int error) { return std::strerror(error); }

TInFile::TInFile(const std::string& path) {
  // Without O_NONBLOCK, opening a pipe that has no writer would wait for one;
  // for a regular file the flag changes nothing.
  fd_ = RetryInterrupted([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); });
  struct stat status {};
  if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode))) {
    ::close(fd_);
    fd_ = -1;
  }
}

TInFile::~TInFile() {
  if (fd_ >= 0) ::close(fd_);
}

size_t TInFile::Read(char* buffer, size_t size) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    ssize_t got = ::read(fd_, buffer, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) throw EInOutError(ErrorText(errno));
  }
  throw EInOutError(ErrorText(EINTR));
}

TOutFile::TOutFile(const std::string& path) : target_(ResolvedTarget(path)) {
  struct stat old {};
  bool oldExists = ::stat(target_.c_str(), &old) == 0;
  if (oldExists && !S_ISREG(old.st_mode)) {
    OpenTarget();
  } else if (oldExists && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
    // Renaming needs only the directory's permission: a file its owner made
    // read-only is refused as opening it for writing would refuse it.
    openError_ = errno;
  } else {
    OpenTemporary(old, oldExists);
  }
}

void TOutFile::OpenTarget() {
  // A pipe without a reader fails at once instead of holding the program.
  fd_ = RetryInterrupted(
      [&] { return ::open(target_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK); });
  if (fd_ < 0) {
    openError_ = errno;
    return;
  }
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
}

void TOutFile::OpenTemporary(const struct stat& old, bool oldExists) {
  // A name of its own, not the target's plus a suffix: it never grows beyond
  // what the directory can hold. Left behind only by a process killed while
  // writing, and then holding what had been written.
  const std::string directory = DirectoryOf(target_);
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    std::string name = directory + "tirasel-" + std::to_string(::getpid()) + "-" +
                       std::to_string(++g_temporaryCount) + ".tmp";
    fd_ = RetryInterrupted(
        [&] { return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); });
    if (fd_ >= 0) temporary_ = name;
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    openError_ = errno;
    return;
  }
  if (oldExists) {
    // Only root may hand a file to another owner; anyone else writes a
    // file that is theirs anyway, so a failure is no reason to stop. The
    // owner goes first: changing it clears the set-id bits.
    [[maybe_unused]] int owned = ::fchown(fd_, old.st_uid, old.st_gid);
    [[maybe_unused]] int moded = ::fchmod(fd_, old.st_mode & 07777);
  }
}

TOutFile::~TOutFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void TOutFile::Write(std::string_view bytes) {
  size_t done = 0;
  int interrupts = 0;
  while (done < bytes.size()) {
    ssize_t put = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR && ++interrupts < 100) continue;
    if (put < 0) throw EInOutError(ErrorText(errno));
    if (put == 0) throw EInOutError(ErrorText(ENOSPC));
    done += static_cast<size_t>(put);
  }
}

void TOutFile::Close() {
  if (fd_ < 0) return;
  // The bytes reach the disk before the name does: after a power cut the
  // target holds the old version or the new one, never a part.
  if (!temporary_.empty() && ::fsync(fd_) != 0) throw EInOutError(ErrorText(errno));
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throw EInOutError(ErrorText(errno));
  if (temporary_.empty()) return;
  if (::rename(temporary_.c_str(), target_.c_str()) != 0) throw EInOutError(ErrorText(errno));
  temporary_.clear();
}
