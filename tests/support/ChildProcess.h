// Programs started by tests and benchmarks: servers, peers and the
// programs under test, each a child process with its output in a log file.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// A child process with its output in a log file. It is killed if the parent
// dies, so a crashed test leaves no server behind.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { Stop(); }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // argv[0] is the absolute path of the program; raises when it cannot run.
  void Start(const std::vector<std::string>& argv, const std::filesystem::path& log);
  bool Running();
  // Sends the signal, waits up to graceMs for the exit, then kills.
  void Stop(int signal = 15 /* SIGTERM */, int graceMs = 3000);
  // Waits (bounded) for the exit; returns the wait status, or -1 on timeout.
  int WaitExit(int timeoutMs);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// Runs a program to its end with its output discarded; returns its exit
// status (or -1 when it could not run or did not end within timeoutMs).
int RunProgram(const std::vector<std::string>& argv, int timeoutMs);

}  // namespace testsupport
