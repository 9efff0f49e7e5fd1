#include "SocksServers.h"

#include <unistd.h>

namespace testsupport {

MicroSocks::MicroSocks(std::string user, std::string password)
    : ServerProcess(kBinary, "microsocks", "tirasel-microsocks"),
      user_(std::move(user)),
      password_(std::move(password)) {}

std::vector<std::string> MicroSocks::CommandLine() const {
  std::vector<std::string> argv{kBinary, "-i", "127.0.0.1", "-p", std::to_string(port_)};
  if (!user_.empty()) argv.insert(argv.end(), {"-u", user_, "-P", password_});
  return argv;
}

DanteServer::DanteServer() : ServerProcess(kBinary, "dante-server", "tirasel-dante") {}

std::string DanteServer::Config(std::uint16_t port) const {
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

std::vector<std::string> DanteServer::CommandLine() const {
  return {kBinary, "-f", ConfigFile().string(), "-N", "1", "-p", (dir_ / "danted.pid").string()};
}

}  // namespace testsupport
