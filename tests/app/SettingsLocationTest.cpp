#include "SettingsLocation.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <QCheckBox>
#include <QLineEdit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "Cp1252.h"
#include "MainUnit.h"
#include "OptionsFile.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"

namespace {

namespace fs = std::filesystem;

// A small tmpfs mounted read-only on a fresh directory, holding the files
// given, and unmounted afterwards: a program directory that not even root
// may write. Mounting needs the right to mount; without it the tests skip.
class TReadOnlyDir {
 public:
  explicit TReadOnlyDir(const TTempDir& base, const std::map<std::string, std::string>& files = {})
      : path_(base.Path("ro")) {
    fs::create_directory(path_);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=64k") != 0) {
      failure_ = errno;
      return;
    }
    mounted_ = true;
    for (const auto& [name, bytes] : files) testsupport::WriteFile(path_ + "/" + name, bytes);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") != 0)
      failure_ = errno;
  }
  ~TReadOnlyDir() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  bool Ready() const { return mounted_ && failure_ == 0; }
  std::string Why() const {
    return "cannot mount a read-only tmpfs: " + std::string(std::strerror(failure_));
  }
  std::string Dir() const { return path_ + "/"; }

 private:
  std::string path_;
  bool mounted_ = false;
  int failure_ = 0;
};

// Sets XDG_CONFIG_HOME for one test and puts the earlier value back.
class TConfigHome {
 public:
  explicit TConfigHome(const std::string& dir) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) old_ = old;
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
  }
  ~TConfigHome() { setenv("XDG_CONFIG_HOME", old_.c_str(), 1); }

 private:
  std::string old_;
};

}  // namespace

TEST(SettingsLocation, UserConfigDirFollowsTheBaseDirectoryRules) {
  EXPECT_EQ(UserConfigDir("/x/conf", "/home/u"), "/x/conf/tirasel/");
  EXPECT_EQ(UserConfigDir("/x/conf/", "/home/u"), "/x/conf/tirasel/");
  EXPECT_EQ(UserConfigDir(nullptr, "/home/u"), "/home/u/.config/tirasel/");
  EXPECT_EQ(UserConfigDir("", "/home/u"), "/home/u/.config/tirasel/");
  // A relative XDG_CONFIG_HOME is not used: it would depend on the current directory.
  EXPECT_EQ(UserConfigDir("conf", "/home/u"), "/home/u/.config/tirasel/");
  EXPECT_EQ(UserConfigDir(nullptr, nullptr), "");
  EXPECT_EQ(UserConfigDir("rel", ""), "");
}

TEST(SettingsLocation, OwnDirectoryFirstElseTheUsersAndTheOtherAsFallback) {
  auto place = ChooseSettingsPlace("/p/", true, "/c/tirasel/");
  EXPECT_EQ(place.File, "/p/options.dat");
  EXPECT_EQ(place.FallbackFile, "/c/tirasel/options.dat");
  place = ChooseSettingsPlace("/p/", false, "/c/tirasel/");
  EXPECT_EQ(place.File, "/c/tirasel/options.dat");
  EXPECT_EQ(place.FallbackFile, "/p/options.dat");
  // Without a home directory only the program's directory is left.
  place = ChooseSettingsPlace("/p/", false, "");
  EXPECT_EQ(place.File, "/p/options.dat");
  EXPECT_EQ(place.FallbackFile, "");
}

TEST(SettingsLocation, WritableIsTheKernelsAnswer) {
  TTempDir dir;
  EXPECT_TRUE(IsWritableDirectory(dir.Path()));
  EXPECT_FALSE(IsWritableDirectory(dir.Path("missing")));
  dir.Write("file", "x");
  EXPECT_FALSE(IsWritableDirectory(dir.Path("file")));
  TReadOnlyDir readOnly(dir);
  if (!readOnly.Ready()) GTEST_SKIP() << readOnly.Why();
  EXPECT_FALSE(IsWritableDirectory(readOnly.Dir()));
}

// Root may write the installed program's directory, but the settings still
// go to the user's directory, not among the system's programs.
TEST(SettingsLocation, InstalledProgramDirIsNeverOurs) {
  TTempDir config;
  TConfigHome home(config.Path());
  auto place = LocateSettings(std::string(kInstalledProgramDir) + "/");
  EXPECT_EQ(place.File, config.Path("tirasel/options.dat"));
  place = LocateSettings(config.Path());  // ends with its slash
  EXPECT_EQ(place.File, config.Path("options.dat"));
}

TEST(SettingsLocation, ReadOnlyProgramDirKeepsTheSettingsInTheUsersDirectory) {
  TTempDir base, config;
  TConfigHome home(config.Path());
  TReadOnlyDir program(base, {{"options.dat", EncodeOptions(true, "http://mitgeliefert/", "")}});
  if (!program.Ready()) GTEST_SKIP() << program.Why();
  TScriptedDialogs dialogs;
  {
    // The copy's own file is read while the user has none.
    TMainForm form(program.Dir() + "tirasel", &dialogs);
    EXPECT_EQ(ToCp1252(form.URLEdit->text()), "http://mitgeliefert/");
    EXPECT_TRUE(form.Autosaug->isChecked());
    EXPECT_FALSE(config.Exists("tirasel"));                 // nothing written at start
    form.ProxyEdit->setText(QStringLiteral("proxy:3128"));  // creates the directory and the file
  }
  EXPECT_EQ(config.Read("tirasel/options.dat"),
            EncodeOptions(true, "http://mitgeliefert/", "proxy:3128"));
  // After a restart the user's file wins over the copy's.
  TMainForm form(program.Dir() + "tirasel", &dialogs);
  EXPECT_EQ(ToCp1252(form.ProxyEdit->text()), "proxy:3128");
  EXPECT_TRUE(dialogs.Errors.empty());
}

TEST(SettingsLocation, WritableProgramDirReadsItsOwnFileBeforeTheUsers) {
  TTempDir program, config;
  TConfigHome home(config.Path());
  fs::create_directories(config.Path("tirasel"));
  config.Write("tirasel/options.dat", EncodeOptions(false, "http://benutzer/", ""));
  TScriptedDialogs dialogs;
  {
    // Without a file of its own the program starts from the user's.
    TMainForm form(program.Path("tirasel"), &dialogs);
    EXPECT_EQ(ToCp1252(form.URLEdit->text()), "http://benutzer/");
    form.URLEdit->setText(QStringLiteral("http://eigen/"));
  }
  EXPECT_EQ(program.Read("options.dat"), EncodeOptions(false, "http://eigen/", ""));
  EXPECT_EQ(config.Read("tirasel/options.dat"), EncodeOptions(false, "http://benutzer/", ""));
  TMainForm form(program.Path("tirasel"), &dialogs);
  EXPECT_EQ(ToCp1252(form.URLEdit->text()), "http://eigen/");
}
