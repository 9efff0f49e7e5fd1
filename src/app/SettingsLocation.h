// Where the settings file options.dat lives. A copy of the program in a
// directory it may write (a build tree, a portable copy) keeps the file
// beside itself. An installed program cannot write there, and must not when
// it runs as root from the system's program directory: it keeps the file in
// the user's configuration directory, $XDG_CONFIG_HOME/tirasel/
// (~/.config/tirasel/ when that is not set), in the same format.
//
// The start reads the file it will write, and when that does not exist the
// other one: a read-only copy's options.dat then serves as the defaults
// until the first change, and changes are not shadowed by it after a
// restart.
#pragma once

#include <string>

inline constexpr const char* kSettingsDirName = "tirasel";
// The directory `cmake --install` puts the program into, fixed at build time.
extern const char* const kInstalledProgramDir;

struct TSettingsPlace {
  std::string File;          // read first; every change is written here
  std::string FallbackFile;  // read when File does not exist; may be empty
};

// "<XDG_CONFIG_HOME>/tirasel/" when that is an absolute path (the base
// directory rules ignore relative ones), else "<HOME>/.config/tirasel/";
// empty when neither is usable. Either argument may be null.
std::string UserConfigDir(const char* xdgConfigHome, const char* home);

// Whether the user may create files in `dir`, as the kernel answers it: a
// read-only file system says no also to root.
bool IsWritableDirectory(const std::string& dir);

// The decision from its facts: `programDirIsOurs` when the program may keep
// its settings beside itself. `programDir` and `configDir` end with '/';
// an empty `configDir` leaves only the program's directory.
TSettingsPlace ChooseSettingsPlace(const std::string& programDir, bool programDirIsOurs,
                                   const std::string& configDir);

// The decision for the running program: its directory is ours when it is
// writable and not the directory the program is installed into.
TSettingsPlace LocateSettings(const std::string& programDir);

// Creates the directory `place.File` is in when it is missing (the user's
// configuration directory before the first change). A failure is left to
// writing the file, which then fails as it would in a missing directory.
void PrepareSettingsDir(const TSettingsPlace& place);
