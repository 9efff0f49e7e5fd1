#include "FileIO.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "FileSizeLimit.h"
#include "TempDir.h"

namespace {

using Lines = std::vector<std::string>;

// The names in the directory: no temporary file may stay behind.
Lines Names(const TTempDir& dir) {
  Lines names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(OutFile, TheOldFileStaysWholeUntilTheNewOneIsComplete) {
  TTempDir dir;
  dir.Write("list.txt", "old contents");
  {
    TOutFile file(dir.Path("list.txt"));
    ASSERT_TRUE(file.IsOpen());
    file.Write("new ");
    // A process killed here (or a power cut) finds the old file unchanged.
    EXPECT_EQ(dir.Read("list.txt"), "old contents");
    file.Write("contents");
    EXPECT_EQ(dir.Read("list.txt"), "old contents");
    file.Close();
  }
  EXPECT_EQ(dir.Read("list.txt"), "new contents");
  EXPECT_EQ(Names(dir), Lines{"list.txt"});

  // Not closed: the write is abandoned, the old file stays.
  {
    TOutFile file(dir.Path("list.txt"));
    file.Write("abandoned");
  }
  EXPECT_EQ(dir.Read("list.txt"), "new contents");
  EXPECT_EQ(Names(dir), Lines{"list.txt"});
}

TEST(OutFile, AFailingWriteLeavesTheOldFileAndNoTemporaryFile) {
  TTempDir dir;
  std::string old(10'000, 'o');
  dir.Write("list.txt", old);
  {
    TFileSizeLimit limit(4096);  // the disk is full after 4 KiB
    TOutFile file(dir.Path("list.txt"));
    ASSERT_TRUE(file.IsOpen());
    EXPECT_THROW(file.Write(std::string(8192, 'n')), EInOutError);
  }
  EXPECT_EQ(dir.Read("list.txt"), old);
  EXPECT_EQ(Names(dir), Lines{"list.txt"});
}

TEST(OutFile, TheNewFileKeepsPermissionsAndLinks) {
  TTempDir dir;
  dir.Write("list.txt", "old");
  ASSERT_EQ(::chmod(dir.Path("list.txt").c_str(), 0640), 0);
  std::filesystem::create_symlink("list.txt", dir.Path("link.txt"));
  TOutFile file(dir.Path("link.txt"));
  file.Write("new");
  file.Close();
  struct stat status {};
  ASSERT_EQ(::stat(dir.Path("list.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("link.txt")));
  EXPECT_EQ(dir.Read("list.txt"), "new");

  // A new file gets the usual permissions of new files.
  mode_t mask = ::umask(022);
  TOutFile fresh(dir.Path("fresh.txt"));
  fresh.Close();
  ::umask(mask);
  ASSERT_EQ(::stat(dir.Path("fresh.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0644u);
}

TEST(OutFile, WhatIsNoRegularFileIsWrittenInPlace) {
  {
    TOutFile device("/dev/null");
    ASSERT_TRUE(device.IsOpen());
    device.Write("discarded");
    device.Close();
  }
  struct stat status {};
  ASSERT_EQ(::stat("/dev/null", &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));  // still the device, not a file put in its place

  TTempDir dir;
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  TOutFile pipe(dir.Path("pipe"));  // no reader: fails at once instead of waiting
  EXPECT_FALSE(pipe.IsOpen());
  EXPECT_FALSE(TOutFile(dir.Path("no/such/dir.txt")).IsOpen());
}

TEST(InFile, OnlyRegularFilesOpen) {
  TTempDir dir;
  dir.Write("list.txt", "x");
  EXPECT_TRUE(TInFile(dir.Path("list.txt")).IsOpen());
  EXPECT_FALSE(TInFile(dir.Path("missing.txt")).IsOpen());
  EXPECT_FALSE(TInFile(dir.Path()).IsOpen());
  EXPECT_FALSE(TInFile("/dev/zero").IsOpen());  // would never end
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  // Without a writer opening would wait for ever: a writer comes after a
  // generous bound, so that a fault fails the test instead of hanging it.
  std::atomic<bool> returned{false};
  std::thread writer([&] {
    for (int waited = 0; waited < 1000 && !returned; ++waited) ::usleep(10'000);
    if (returned) return;
    int fd = ::open(dir.Path("pipe").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) ::close(fd);
  });
  bool opened = TInFile(dir.Path("pipe")).IsOpen();
  returned = true;
  writer.join();
  EXPECT_FALSE(opened);
}

// Renaming needs only the directory's permission; a file made read-only
// still refuses to be replaced. Root may write anything, so the writer is
// a child process that gives up root first.
TEST(OutFile, AReadOnlyFileIsNotReplaced) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TTempDir dir;
  dir.Write("list.txt", "old");
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  ASSERT_EQ(::chmod(dir.Path("list.txt").c_str(), 0444), 0);
  dir.Write("free.txt", "old");
  ASSERT_EQ(::chmod(dir.Path("free.txt").c_str(), 0666), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    if (TOutFile(dir.Path("list.txt")).IsOpen()) ::_exit(1);
    TOutFile writable(dir.Path("free.txt"));  // the same directory serves a file it may write
    writable.Write("new");
    writable.Close();
    ::_exit(0);
  }
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(dir.Read("list.txt"), "old");
  EXPECT_EQ(dir.Read("free.txt"), "new");
}
