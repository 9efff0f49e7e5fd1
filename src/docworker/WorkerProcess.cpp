#include "WorkerProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "DocumentWorker.h"

extern char** environ;

namespace {

using TDeadline = TWorkerProcess::TDeadline;

// Pipes larger than the default 64 KiB halve the system calls of a large
// document; a system that refuses keeps the default.
constexpr int kPipeBytes = 1 << 20;
constexpr int kExitPollMs = 5;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

double CpuSeconds(const rusage& usage) {
  auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) * 1e-6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Milliseconds to the deadline for poll: -1 for none, 0 once it has passed.
int RemainingMs(TDeadline deadline) {
  if (deadline == TDeadline::max()) return -1;
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TDeadline::clock::now());
  if (left.count() <= 0) return 0;
  return left.count() > INT_MAX ? INT_MAX : static_cast<int>(left.count());
}

// Both pipes of one exchange, blocking in poll until they are ready, the stop
// descriptor is readable or the deadline passes. `failure` tells why a call
// failed.
class TPipeExchange : public TFrameSource, public TFrameSink {
 public:
  TPipeExchange(int toWorker, int fromWorker, int stopFd, TDeadline deadline)
      : to_(toWorker), from_(fromWorker), stop_(stopFd), deadline_(deadline) {}

  TExchangeEnd failure = TExchangeEnd::eeWorkerEnded;

  bool ReadExact(char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t got = ::read(from_, data, size);
      if (got > 0) {
        data += got;
        size -= static_cast<std::size_t>(got);
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        return Fail(TExchangeEnd::eeWorkerEnded);
      } else if (errno == EAGAIN && !Await(from_, POLLIN)) {
        return false;
      }
    }
    return true;
  }

  // A worker that dies takes its pipe's reading end with it: EPIPE here, and
  // no SIGPIPE, which the helper thread blocks.
  bool WriteAll(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t put = ::write(to_, data, size);
      if (put > 0) {
        data += put;
        size -= static_cast<std::size_t>(put);
      } else if (put == 0 || (errno != EINTR && errno != EAGAIN)) {
        return Fail(TExchangeEnd::eeWorkerEnded);
      } else if (errno == EAGAIN && !Await(to_, POLLOUT)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(TExchangeEnd why) {
    failure = why;
    return false;
  }

  // Output from the worker while the document is still being sent is its
  // end (or a broken protocol): the write is given up rather than waiting on
  // a reader that has stopped reading.
  bool Await(int fd, short events) {
    pollfd fds[3] = {{fd, events, 0}, {stop_, POLLIN, 0}, {from_, POLLIN, 0}};
    nfds_t count = fd == to_ ? 3 : 2;
    for (;;) {  // ends at the deadline, if not before
      int timeoutMs = RemainingMs(deadline_);
      if (timeoutMs == 0) return Fail(TExchangeEnd::eeTimedOut);
      int ready = ::poll(fds, count, timeoutMs);
      if (ready < 0 && errno != EINTR) return Fail(TExchangeEnd::eeWorkerEnded);
      if (ready <= 0) continue;
      if (fds[1].revents != 0) return Fail(TExchangeEnd::eeStopped);
      if (count == 3 && fds[2].revents != 0) return Fail(TExchangeEnd::eeWorkerEnded);
      if (fds[0].revents != 0) return true;  // an error or hang-up shows in the next call
    }
  }

  int to_;
  int from_;
  int stop_;
  TDeadline deadline_;
};

// The child's standard input and output are the pipes, its standard error
// the file or /dev/null; nothing else of the crawl's descriptors, signal
// mask or ignored signals reaches it.
class TSpawnSetup {
 public:
  TSpawnSetup(int input, int output, const std::string& stderrPath) {
    posix_spawn_file_actions_init(&actions_);
    posix_spawn_file_actions_adddup2(&actions_, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions_, output, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO,
                                     stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
    posix_spawnattr_init(&attr_);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr_, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGXCPU);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~TSpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  TSpawnSetup(const TSpawnSetup&) = delete;
  TSpawnSetup& operator=(const TSpawnSetup&) = delete;

  // 0 or the error of posix_spawn.
  int Spawn(pid_t& pid, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    return posix_spawn(&pid, argv[0], &actions_, &attr_, argv.data(), environ);
  }

 private:
  posix_spawn_file_actions_t actions_;
  posix_spawnattr_t attr_;
};

}  // namespace

bool TWorkerProcess::Start(const TDocumentWorkerSettings& settings, std::string& error) {
  Kill();
  int input[2], output[2];
  if (::pipe2(input, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (::pipe2(output, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    ::close(input[0]);
    ::close(input[1]);
    return false;
  }
  ::fcntl(input[1], F_SETPIPE_SZ, kPipeBytes);
  ::fcntl(output[0], F_SETPIPE_SZ, kPipeBytes);
  std::vector<std::string> arguments{settings.program};
  for (std::string& option : settings.limits.Arguments()) arguments.push_back(std::move(option));
  pid_t pid = -1;
  int spawned = TSpawnSetup(input[0], output[1], settings.stderrPath).Spawn(pid, arguments);
  ::close(input[0]);
  ::close(output[1]);
  toWorker_ = input[1];
  fromWorker_ = output[0];
  if (spawned != 0) {
    error = settings.program + ": " + std::strerror(spawned);
    ClosePipes();
    return false;
  }
  pid_ = pid;
  ::fcntl(toWorker_, F_SETFL, O_NONBLOCK);
  ::fcntl(fromWorker_, F_SETFL, O_NONBLOCK);
  // Without a process descriptor (an old kernel) WaitExit looks in short steps.
  pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return true;
}

TExchangeEnd TWorkerProcess::Exchange(std::uint8_t kind, const std::string& bytes,
                                      TDeadline deadline, int stopFd, std::uint64_t maxAnswerBytes,
                                      TDocumentAnswer& answer) {
  TPipeExchange pipes(toWorker_, fromWorker_, stopFd, deadline);
  std::string header = RequestHeader(kind, bytes.size());
  if (!pipes.WriteAll(header.data(), header.size()) ||
      !pipes.WriteAll(bytes.data(), bytes.size())) {
    bool gone = pipes.failure == TExchangeEnd::eeWorkerEnded;
    return gone ? TExchangeEnd::eeWorkerGone : pipes.failure;
  }
  switch (ReadAnswer(pipes, maxAnswerBytes, answer)) {
    case TAnswerRead::arAnswered:
      return TExchangeEnd::eeAnswered;
    case TAnswerRead::arGarbled:
      return TExchangeEnd::eeGarbled;
    case TAnswerRead::arTooLarge:
      return TExchangeEnd::eeAnswerTooLarge;
    case TAnswerRead::arStreamFailed:
      break;
  }
  return pipes.failure;
}

TWorkerEnd TWorkerProcess::End(int graceMs) {
  TWorkerEnd end;
  if (!Running()) return end;
  ClosePipes();
  if (WaitExit(graceMs, end)) return end;
  return KillAndReap();
}

void TWorkerProcess::Kill() {
  if (Running()) KillAndReap();
}

TWorkerEnd TWorkerProcess::KillAndReap() {
  ClosePipes();
  ::kill(pid_, SIGKILL);
  TWorkerEnd end;
  end.killedHere = true;
  rusage usage{};
  while (::wait4(pid_, &end.waitStatus, 0, &usage) < 0 && errno == EINTR) {
  }
  end.cpuSeconds = CpuSeconds(usage);
  pid_ = -1;
  CloseFd(pidFd_);
  return end;
}

bool TWorkerProcess::WaitExit(int timeoutMs, TWorkerEnd& end) {
  rusage usage{};
  auto reaped = [&] { return ::wait4(pid_, &end.waitStatus, WNOHANG, &usage) == pid_; };
  bool ended = false;
  if (pidFd_ >= 0) {
    pollfd exited{pidFd_, POLLIN, 0};
    ::poll(&exited, 1, timeoutMs);  // an interrupted wait only shortens the grace
    ended = reaped();
  } else {
    for (int waited = 0; !(ended = reaped()) && waited < timeoutMs; waited += kExitPollMs) {
      ::poll(nullptr, 0, kExitPollMs);
    }
  }
  if (!ended) return false;
  end.cpuSeconds = CpuSeconds(usage);
  pid_ = -1;
  CloseFd(pidFd_);
  return true;
}

void TWorkerProcess::ClosePipes() {
  CloseFd(toWorker_);
  CloseFd(fromWorker_);
}
