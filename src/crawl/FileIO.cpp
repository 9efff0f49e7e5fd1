#include "FileIO.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
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

// The directory part of `path`, with its slash; empty for a bare name.
std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The kernel's protected-symlink rule, kept here as well because a machine
// may have switched it off: in a sticky directory that everyone may write,
// only links of this process's user or of the directory's owner are
// followed.
bool MayFollowLink(const std::string& path, const struct stat& link) {
  const std::string directory = DirectoryOf(path);
  struct stat holder {};
  if (::stat(directory.empty() ? "." : directory.c_str(), &holder) != 0) return false;
  constexpr mode_t kSharedSticky = S_ISVTX | S_IWOTH;
  if ((holder.st_mode & kSharedSticky) != kSharedSticky) return true;
  return link.st_uid == ::geteuid() || link.st_uid == holder.st_uid;
}

// The kernel's own bound on the links of one path.
constexpr int kMaxLinkHops = 40;

// Where the bytes of `path` live: each link of the last component is
// followed, so that the link stays and the file it names is replaced.
// nullopt with `error` set when a link may not be followed or too many
// follow each other.
std::optional<std::string> FollowLinks(std::string path, int& error) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return path;
    if (!MayFollowLink(path, link)) {
      error = EACCES;
      return std::nullopt;
    }
    std::error_code failed;
    std::string next = std::filesystem::read_symlink(path, failed).string();
    if (failed) return path;  // gone meanwhile: the new file takes its place
    path = next.starts_with('/') ? next : DirectoryOf(path) + next;
  }
  error = ELOOP;
  return std::nullopt;
}

bool IsSameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The process's umask, read without changing it: setting it to learn it
// would for that moment also apply to the files other threads create.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("Umask:")) {
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
  }
  mode_t mask = ::umask(022);  // no /proc: the only other way to learn it
  ::umask(mask);
  return mask;
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

TOutFile::TOutFile(const std::string& path, mode_t newFileMode) : newFileMode_(newFileMode) {
  std::optional<std::string> target = FollowLinks(path, openError_);
  if (!target) return;
  target_ = *target;
  // As opening would see it. A link that only the kernel can follow
  // (/dev/stdout to a pipe: "pipe:[N]") ends elsewhere than our walk.
  oldExists_ = ::stat(path.c_str(), &old_) == 0;
  struct stat walked {};
  const bool walkedToIt = ::lstat(target_.c_str(), &walked) == 0 && IsSameFile(walked, old_);
  if (oldExists_ && (!S_ISREG(old_.st_mode) || !walkedToIt)) {
    OpenTarget(path);
  } else if (oldExists_ && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
    // Renaming needs only the directory's permission: a file its owner made
    // read-only is refused as opening it for writing would refuse it.
    openError_ = errno;
  } else {
    OpenTemporary();
  }
}

void TOutFile::OpenTarget(const std::string& path) {
  // A pipe without a reader fails at once instead of holding the program.
  fd_ = RetryInterrupted(
      [&] { return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK); });
  if (fd_ < 0) {
    openError_ = errno;
    return;
  }
  int flags = ::fcntl(fd_, F_GETFL);
  if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
}

void TOutFile::OpenTemporary() {
  // A name of its own, not the target's plus a suffix: it never grows beyond
  // what the directory can hold. Left behind only by a process killed while
  // writing, and then holding what had been written, readable by its owner
  // alone.
  const std::string directory = DirectoryOf(target_);
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    std::string name = directory + "tirasel-" + std::to_string(::getpid()) + "-" +
                       std::to_string(++g_temporaryCount) + ".tmp";
    fd_ = RetryInterrupted([&] {
      return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kPrivateFileMode);
    });
    if (fd_ >= 0) temporary_ = name;
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) openError_ = errno;
}

void TOutFile::ApplyPermissions() {
  if (oldExists_) {
    // Only root may hand a file to another owner; anyone else writes a
    // file that is theirs anyway, so a failure is no reason to stop. The
    // owner goes first: changing it clears the set-id bits.
    [[maybe_unused]] int owned = ::fchown(fd_, old_.st_uid, old_.st_gid);
  }
  // A file system without permissions (FAT) may refuse: the file then stays
  // its owner's alone, the safe side, and the words are saved all the same.
  const mode_t mode = oldExists_ ? old_.st_mode & 07777 : newFileMode_ & ~CurrentUmask();
  [[maybe_unused]] int moded = ::fchmod(fd_, mode);
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
  if (!temporary_.empty()) ApplyPermissions();
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
