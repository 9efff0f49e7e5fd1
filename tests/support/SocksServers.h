// Real SOCKS servers from the system, started on a free loopback port in a
// directory of their own and stopped with the fixture object: microsocks
// (SOCKS 5, optionally with username/password) and dante (SOCKS 4 and 5).
// A missing binary raises std::runtime_error naming the Debian package.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace testsupport {

class MicroSocks : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/microsocks";
  explicit MicroSocks(std::string user = "", std::string password = "");
  ~MicroSocks() { Stop(); }
  void Start() { Launch(); }

 protected:
  // microsocks takes everything on its command line.
  std::string Config(std::uint16_t) const override { return ""; }
  std::vector<std::string> CommandLine() const override;
  std::filesystem::path ConfigFile() const override { return dir_ / "unused.conf"; }
  std::filesystem::path ErrorLog() const override { return dir_ / "output.log"; }

 private:
  std::string user_, password_;
};

class DanteServer : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/sbin/danted";
  DanteServer();
  ~DanteServer() { Stop(); }
  void Start() { Launch(); }

 protected:
  std::string Config(std::uint16_t port) const override;
  std::vector<std::string> CommandLine() const override;
  std::filesystem::path ConfigFile() const override { return dir_ / "danted.conf"; }
  std::filesystem::path ErrorLog() const override { return dir_ / "danted.log"; }
};

}  // namespace testsupport
