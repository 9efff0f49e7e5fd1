// tinyproxy from the system in the foreground, started on a free port of
// 127.0.0.1 in a directory of its own and allowing 127.0.0.1 only,
// optionally with Basic authorization and limited CONNECT ports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace testsupport {

class TinyProxy : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/tinyproxy";
  TinyProxy();
  ~TinyProxy() { Stop(); }

  // CONNECT tunnels only to these ports (none given: to any port).
  void AllowConnectTo(std::uint16_t port) { connectPorts_.push_back(port); }
  void Start() { Launch(); }
  // Clients must authorize (Basic) as this user; before Start only.
  void RequireBasicAuth(const std::string& user, const std::string& password) {
    basicAuth_ = user + " " + password;
  }
  std::filesystem::path Log() const { return dir_ / "tinyproxy.log"; }
  std::filesystem::path ErrorLog() const override { return Log(); }

 protected:
  std::string Config(std::uint16_t port) const override;
  std::vector<std::string> CommandLine() const override;
  std::filesystem::path ConfigFile() const override { return dir_ / "tinyproxy.conf"; }

 private:
  std::string basicAuth_;  // "user password", or empty
  std::vector<std::uint16_t> connectPorts_;
};

}  // namespace testsupport
