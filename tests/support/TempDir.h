// A fresh directory for one test, removed with everything in it afterwards,
// with helpers that read and write its files by name.
#pragma once

#include <filesystem>
#include <string>

#include "TempDirectory.h"

class TTempDir : public testsupport::TempDirectory {
 public:
  TTempDir() : TempDirectory("tirasel-test") {}
  ~TTempDir() {
    // Tests may take permissions away to provoke failures; give them back so
    // that everything can be removed.
    std::error_code ignored;
    std::filesystem::permissions(TempDirectory::Path(), std::filesystem::perms::owner_all, ignored);
  }

  std::string Path(const std::string& name = "") const {
    return (TempDirectory::Path() / name).string();
  }
  void Write(const std::string& name, const std::string& bytes) const {
    testsupport::WriteFile(Path(name), bytes);
  }
  std::string Read(const std::string& name) const { return testsupport::ReadFile(Path(name)); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }
};
