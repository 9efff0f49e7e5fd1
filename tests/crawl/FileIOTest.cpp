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

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
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
  // A dangling link stays too, and its file is created, as opening it would.
  std::filesystem::create_symlink("later.txt", dir.Path("dangling.txt"));
  TOutFile later(dir.Path("dangling.txt"));
  later.Write("made");
  later.Close();
  EXPECT_TRUE(std::filesystem::is_symlink(dir.Path("dangling.txt")));
  EXPECT_EQ(dir.Read("later.txt"), "made");

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

// A link in a sticky directory that everyone may write (/tmp) is followed
// only when it belongs to the writer or to the directory's owner, as the
// kernel's protected-symlink rule has it: otherwise anyone could make root's
// save replace a file of their choosing. Root's own exemption from
// permissions must not lift it, so the tests run as root.
TEST(OutFile, ALinkOfAStrangerInASharedStickyDirectoryIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant links of other users";
  constexpr uid_t kNobody = 65534;
  TTempDir dir;
  dir.Write("victim.txt", "secret");
  dir.Write("shared/.keep", "");
  const std::string shared = dir.Path("shared");
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  auto plant = [&](const std::string& name, const std::string& to, uid_t owner) {
    std::filesystem::create_symlink(to, shared + "/" + name);
    ASSERT_EQ(::lchown((shared + "/" + name).c_str(), owner, owner), 0);
  };
  auto save = [&](const std::string& name) {
    TOutFile file(shared + "/" + name);
    if (!file.IsOpen()) return file.OpenErrorText();
    file.Write("replaced");
    file.Close();
    return std::string("saved");
  };
  plant("stranger", "../victim.txt", kNobody);
  plant("mine", "../victim.txt", 0);
  plant("chain", "stranger", 0);  // every link on the way counts
  EXPECT_EQ(save("stranger"), ErrorText(EACCES));
  EXPECT_EQ(save("chain"), ErrorText(EACCES));
  EXPECT_EQ(dir.Read("victim.txt"), "secret");
  EXPECT_EQ(Names(dir), (Lines{"shared", "victim.txt"}));
  EXPECT_TRUE(std::filesystem::is_symlink(shared + "/stranger"));

  EXPECT_EQ(save("mine"), "saved");
  EXPECT_EQ(dir.Read("victim.txt"), "replaced");
  EXPECT_TRUE(std::filesystem::is_symlink(shared + "/mine"));

  // The directory's owner may plant links in it; without the sticky bit,
  // whoever may write the directory could replace the file anyway.
  ASSERT_EQ(::chown(shared.c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(save("stranger"), "saved");
  ASSERT_EQ(::chown(shared.c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);
  EXPECT_EQ(save("stranger"), "saved");
}

// The new contents are readable by the owner only until they are complete
// and in place (options.dat holds passwords of proxy addresses); then the
// file has the old file's permissions, or those of a plainly created one.
TEST(OutFile, TheTemporaryFileIsPrivateUntilTheNewFileIsInPlace) {
  TTempDir dir;
  dir.Write("list.txt", "old");
  ASSERT_EQ(::chmod(dir.Path("list.txt").c_str(), 0644), 0);
  {
    TOutFile file(dir.Path("list.txt"));
    file.Write("new");
    Lines names = Names(dir);
    ASSERT_EQ(names.size(), 2u);
    const std::string& temporary = names[0] == "list.txt" ? names[1] : names[0];
    EXPECT_EQ(ModeOf(dir.Path(temporary)), 0600u);
    file.Close();
  }
  EXPECT_EQ(ModeOf(dir.Path("list.txt")), 0644u);

  mode_t mask = ::umask(027);
  TOutFile fresh(dir.Path("fresh.txt"));
  fresh.Close();
  TOutFile secret(dir.Path("secret.txt"), kPrivateFileMode);
  secret.Close();
  ::umask(mask);
  EXPECT_EQ(ModeOf(dir.Path("fresh.txt")), 0640u);
  EXPECT_EQ(ModeOf(dir.Path("secret.txt")), 0600u);
}
