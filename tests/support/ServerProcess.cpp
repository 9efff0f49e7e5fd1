#include "ServerProcess.h"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "BoundedWait.h"
#include "LoopbackPorts.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kLaunchAttempts = 3;

// The last bytes of a log, for error messages.
std::string Tail(const fs::path& file, std::size_t max = 2000) {
  std::string text = ReadFile(file);
  return text.size() > max ? "..." + text.substr(text.size() - max) : text;
}

}  // namespace

ServerProcess::ServerProcess(std::string binary, std::string package, const std::string& prefix)
    : binary_(std::move(binary)), package_(std::move(package)), dir_(prefix) {}

void ServerProcess::Launch() {
  if (process_.Running()) throw std::logic_error(binary_ + " is already running");
  if (::access(binary_.c_str(), X_OK) != 0) {
    throw std::runtime_error(binary_ + " not found: install the Debian package " + package_);
  }
  std::string failure;
  for (int attempt = 0; attempt < kLaunchAttempts; ++attempt) {
    if (TryLaunch(failure)) return;
  }
  throw std::runtime_error(binary_ + " did not start on 127.0.0.1: " + failure);
}

// One start on a fresh port. Between the port's probe and the server's bind
// another process may take the port; the server then exits and we try again.
bool ServerProcess::TryLaunch(std::string& failure) {
  port_ = FreeLoopbackPort();
  WriteFile(ConfigFile(), Config(port_));
  process_.Start(CommandLine(), dir_ / "output.log");
  auto deadline = After(kStartTimeoutMs);
  while (!Expired(deadline)) {
    if (!process_.Running()) {
      failure = "exited early; log:\n" + Tail(ErrorLog()) + Tail(dir_ / "output.log");
      return false;
    }
    if (PortAccepts(port_)) {
      std::vector<std::uint16_t> others = OtherPorts();
      if (std::all_of(others.begin(), others.end(),
                      [](std::uint16_t other) { return PortAccepts(other); })) {
        return true;
      }
    }
    PauseMs(kPollMs);
  }
  process_.Stop();
  failure = "port " + std::to_string(port_) + " not accepting after " +
            std::to_string(kStartTimeoutMs) + " ms; log:\n" + Tail(ErrorLog());
  return false;
}

}  // namespace testsupport
