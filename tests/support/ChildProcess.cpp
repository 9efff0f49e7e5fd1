#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "BoundedWait.h"

namespace testsupport {

namespace fs = std::filesystem;

namespace {

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecChild(char* const* argv, const char* log) {
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  int in = ::open("/dev/null", O_RDONLY);
  int out = ::open(log, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (in >= 0) ::dup2(in, 0);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  // The test's own sockets must not live on in the server.
  if (::syscall(SYS_close_range, 3u, ~0u, 0u) != 0) {
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
  }
  ::execv(argv[0], argv);
  ::_exit(127);
}

}  // namespace

void ChildProcess::Start(const std::vector<std::string>& argv, const fs::path& log) {
  if (Running()) throw std::logic_error("process already running");
  if (argv.empty() || ::access(argv[0].c_str(), X_OK) != 0) {
    throw std::runtime_error((argv.empty() ? std::string("(none)") : argv[0]) +
                             " is missing or not executable");
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::string logPath = log.string();
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) ExecChild(args.data(), logPath.c_str());
  pid_ = pid;
  status_ = 0;
}

bool ChildProcess::Running() {
  if (pid_ <= 0) return false;
  if (::waitpid(pid_, &status_, WNOHANG) == 0) return true;
  pid_ = -1;
  return false;
}

int ChildProcess::WaitExit(int timeoutMs) {
  // A process descriptor wakes us at the exit itself (timing of benchmark
  // peers depends on it); polling is the fallback on older kernels.
  int pidfd = pid_ > 0 ? static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0)) : -1;
  auto deadline = After(timeoutMs);
  while (Running()) {
    if (Expired(deadline)) break;
    if (pidfd >= 0) {
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(std::max<long>(1, left)));
    } else {
      PauseMs(kPollMs);
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return Running() ? -1 : status_;
}

void ChildProcess::Stop(int signal, int graceMs) {
  if (!Running()) return;
  ::kill(pid_, signal);
  if (WaitExit(graceMs) != -1) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status_, 0);
  pid_ = -1;
}

int RunProgram(const std::vector<std::string>& argv, int timeoutMs) {
  ChildProcess child;
  try {
    child.Start(argv, "/dev/null");
  } catch (const std::exception&) {
    return -1;
  }
  int status = child.WaitExit(timeoutMs);
  if (status == -1) {
    child.Stop(SIGKILL, 0);
    return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testsupport
