// A fresh directory for servers and tests, and whole-file reads and writes.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

// A fresh directory, removed with everything in it on destruction.
class TempDirectory {
 public:
  explicit TempDirectory(const std::string& prefix = "tirasel-test");
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// The whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);
// Creates the parent directories; raises std::runtime_error when writing fails.
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

}  // namespace testsupport
