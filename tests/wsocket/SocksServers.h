// Real SOCKS servers from the system, started on a free loopback port in a
// directory of their own and stopped with the fixture object: microsocks
// (SOCKS 5, optionally with username/password) and dante (SOCKS 4 and 5).
// A missing binary raises std::runtime_error naming the Debian package.
#pragma once

#include <string>
#include <unistd.h>
#include <vector>

#include "ServerFixtures.h"

namespace sockstest {

class MicroSocks : public testsupport::ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/microsocks";
  explicit MicroSocks(std::string user = "", std::string password = "")
      : ServerProcess(kBinary, "microsocks", "tirasel-microsocks"),
        user_(std::move(user)),
        password_(std::move(password)) {}
  ~MicroSocks() { Stop(); }
  void Start() { Launch(); }

 protected:
  // microsocks takes everything on its command line.
  std::string Config(std::uint16_t) const override { return ""; }
  std::vector<std::string> CommandLine() const override {
    std::vector<std::string> argv{kBinary, "-i", "127.0.0.1", "-p", std::to_string(port_)};
    if (!user_.empty()) argv.insert(argv.end(), {"-u", user_, "-P", password_});
    return argv;
  }
  std::filesystem::path ConfigFile() const override { return dir_ / "unused.conf"; }
  std::filesystem::path ErrorLog() const override { return dir_ / "output.log"; }

 private:
  std::string user_, password_;
};

class DanteServer : public testsupport::ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/sbin/danted";
  DanteServer() : ServerProcess(kBinary, "dante-server", "tirasel-dante") {}
  ~DanteServer() { Stop(); }
  void Start() { Launch(); }

 protected:
  std::string Config(std::uint16_t port) const override {
    return "logoutput: " + (dir_ / "danted.log").string() + "\n" +
           "internal: 127.0.0.1 port = " + std::to_string(port) + "\n" +
           "external: 127.0.0.1\n"
           "clientmethod: none\n"
           "socksmethod: none\n" +
           // Run as root, dante wants to know whom to become.
           std::string(::geteuid() == 0 ? "user.privileged: root\nuser.unprivileged: nobody\n" : "") +
           "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
           "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
  }
  std::vector<std::string> CommandLine() const override {
    return {kBinary, "-f", ConfigFile().string(), "-N", "1", "-p", (dir_ / "danted.pid").string()};
  }
  std::filesystem::path ConfigFile() const override { return dir_ / "danted.conf"; }
  std::filesystem::path ErrorLog() const override { return dir_ / "danted.log"; }
};

}  // namespace sockstest
