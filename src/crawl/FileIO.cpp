#include "FileIO.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ErrorText(int error) { return std::strerror(error); }

TInFile::TInFile(const std::string& path) {
  do {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  // A directory opens on Linux but is no byte file: it cannot be opened.
  struct stat status {};
  if (fd_ >= 0 && (::fstat(fd_, &status) != 0 || S_ISDIR(status.st_mode))) {
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

TOutFile::TOutFile(const std::string& path) {
  do {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) openError_ = errno;
}

TOutFile::~TOutFile() {
  if (fd_ >= 0) ::close(fd_);
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
  int fd = fd_;
  fd_ = -1;
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR) throw EInOutError(ErrorText(errno));
}
