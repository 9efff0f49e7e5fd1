#include "FuzzFile.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::string g_path;

void RemoveScratchFile() { ::unlink(g_path.c_str()); }

// Memory-backed when the system has such a directory: a fuzzing run
// rewrites the file thousands of times a minute.
std::string ScratchDirectory() {
  const char* dir = std::getenv("TMPDIR");
  if (dir && *dir) return dir;
  return ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
}

}  // namespace

const std::string& ScratchFileWith(std::string_view bytes) {
  if (g_path.empty()) {
    std::string pattern = ScratchDirectory() + "/tirasel-fuzz-XXXXXX";
    int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    ::close(fd);
    g_path = pattern;
    std::atexit(RemoveScratchFile);
  }
  // A new file rather than a truncated one: truncating a file with data
  // makes some file systems write it out at the close.
  ::unlink(g_path.c_str());
  int fd = ::open(g_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written <= 0) std::abort();
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  ::close(fd);
  return g_path;
}
