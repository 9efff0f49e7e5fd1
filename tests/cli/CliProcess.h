// tirasel-cli as a user runs it: a child process with its standard input,
// output and error captured.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace clitest {

struct Result {
  int status = -1;  // exit status, or -1 when it did not exit normally in time
  std::string out, err;
};

// Runs tirasel-cli with the arguments, feeding `input` to its standard input
// (then closed, or kept open until the program has ended: nobody answers).
// `onError` sees standard error as it grows, and again at each quiet moment,
// and may return a signal to send. `onStarted` learns the child's process
// id as soon as it exists.
inline Result RunCli(const std::vector<std::string>& args, const std::string& input = "",
                     const std::function<int(const std::string&)>& onError = nullptr,
                     bool keepInputOpen = false,
                     const std::function<void(pid_t)>& onStarted = nullptr) {
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) || ::pipe2(out, O_CLOEXEC) || ::pipe2(err, O_CLOEXEC)) return {};
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    std::vector<char*> argv = {const_cast<char*>(TIRASEL_CLI_PATH)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(TIRASEL_CLI_PATH, argv.data());
    ::_exit(127);
  }
  if (onStarted) onStarted(pid);
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (!input.empty()) [[maybe_unused]]
    ssize_t ignored = ::write(in[1], input.data(), input.size());
  if (!keepInputOpen) ::close(in[1]);

  Result result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  // At most 30 s, however the output comes (a round per read would cut a
  // long log short).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) {
      if (onError) {
        if (int signal = onError(result.err)) ::kill(pid, signal);
      }
      continue;
    }
    for (int i = 0; i < 2; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
      char buf[65536];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        fds[i].fd = -fds[i].fd - 1;  // stop polling it
        --open;
        continue;
      }
      (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
      if (i == 1 && onError) {
        if (int signal = onError(result.err)) ::kill(pid, signal);
      }
    }
  }
  ::close(out[0]);
  ::close(err[0]);
  if (keepInputOpen) ::close(in[1]);
  int status = 0;
  for (int tries = 0; tries < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++tries)
    ::usleep(50000);
  if (::waitpid(pid, &status, WNOHANG) == 0) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return result;
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace clitest
