// What every real server of the tests shares: a working directory of its
// own, a free port on 127.0.0.1 and a child process, stopped (and the
// directory removed) when the fixture object goes away. The servers
// themselves: NginxServer.h, TinyProxy.h, SocksServers.h.
//
// A missing binary or a server that does not come up raises
// std::runtime_error naming the binary, the package and the server's log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "TempDirectory.h"

namespace testsupport {

class ServerProcess {
 public:
  std::uint16_t Port() const { return port_; }
  std::string HostPort() const { return "127.0.0.1:" + std::to_string(port_); }
  const std::filesystem::path& Dir() const { return dir_.Path(); }
  bool Running() { return process_.Running(); }
  void Stop() { process_.Stop(); }

 protected:
  ServerProcess(std::string binary, std::string package, const std::string& prefix);
  ~ServerProcess() = default;

  // Writes the configuration for the chosen port, starts the server and waits
  // until the port accepts; retries with another port if it was taken.
  void Launch();
  virtual std::string Config(std::uint16_t port) const = 0;
  virtual std::vector<std::string> CommandLine() const = 0;
  virtual std::filesystem::path ConfigFile() const = 0;
  virtual std::filesystem::path ErrorLog() const = 0;
  // Further ports the server must accept on before it counts as started.
  // Waiting for all of them also guards against another process that took
  // the main port first: the server then exits instead of opening the rest.
  virtual std::vector<std::uint16_t> OtherPorts() const { return {}; }

  std::string binary_;
  std::string package_;
  TempDirectory dir_;
  ChildProcess process_;
  std::uint16_t port_ = 0;

 private:
  bool TryLaunch(std::string& failure);
};

}  // namespace testsupport
