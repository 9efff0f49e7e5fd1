#include "SettingsLocation.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "OptionsFile.h"

const char* const kInstalledProgramDir = TIRASEL_INSTALLED_BINDIR;

namespace {

std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

bool IsInstalledProgramDir(const std::string& programDir) {
  std::error_code failed;
  return std::filesystem::equivalent(programDir, kInstalledProgramDir, failed) && !failed;
}

}  // namespace

std::string UserConfigDir(const char* xdgConfigHome, const char* home) {
  if (xdgConfigHome && xdgConfigHome[0] == '/')
    return WithSlash(xdgConfigHome) + kSettingsDirName + '/';
  if (home && home[0] != '\0') return WithSlash(home) + ".config/" + kSettingsDirName + '/';
  return "";
}

bool IsWritableDirectory(const std::string& dir) { return ::access(dir.c_str(), W_OK | X_OK) == 0; }

TSettingsPlace ChooseSettingsPlace(const std::string& programDir, bool programDirIsOurs,
                                   const std::string& configDir) {
  const std::string beside = programDir + std::string(kOptionsFileName);
  if (configDir.empty()) return {beside, ""};
  const std::string inConfig = configDir + std::string(kOptionsFileName);
  if (programDirIsOurs) return {beside, inConfig};
  return {inConfig, beside};
}

TSettingsPlace LocateSettings(const std::string& programDir) {
  bool ours = IsWritableDirectory(programDir) && !IsInstalledProgramDir(programDir);
  return ChooseSettingsPlace(programDir, ours,
                             UserConfigDir(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")));
}

void PrepareSettingsDir(const TSettingsPlace& place) {
  std::error_code failed;
  std::filesystem::create_directories(std::filesystem::path(place.File).parent_path(), failed);
  // A directory that cannot be made makes the write fail next, which the
  // settings rules skip without a message.
}
