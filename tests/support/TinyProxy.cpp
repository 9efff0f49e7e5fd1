#include "TinyProxy.h"

namespace testsupport {

TinyProxy::TinyProxy() : ServerProcess(kBinary, "tinyproxy", "tirasel-tinyproxy") {}

std::vector<std::string> TinyProxy::CommandLine() const {
  return {binary_, "-d", "-c", ConfigFile().string()};
}

std::string TinyProxy::Config(std::uint16_t port) const {
  const std::string d = dir_.Path().string();
  std::string conf;
  conf += "Port " + std::to_string(port) + "\nListen 127.0.0.1\n";
  conf += "Timeout 30\nMaxClients 32\nAllow 127.0.0.1\n";
  conf += "Syslog Off\nLogFile \"" + d + "/tinyproxy.log\"\nLogLevel Info\n";
  conf += "PidFile \"" + d + "/tinyproxy.pid\"\n";
  if (!basicAuth_.empty()) conf += "BasicAuth " + basicAuth_ + "\n";
  for (std::uint16_t connectPort : connectPorts_)
    conf += "ConnectPort " + std::to_string(connectPort) + "\n";
  return conf;
}

}  // namespace testsupport
