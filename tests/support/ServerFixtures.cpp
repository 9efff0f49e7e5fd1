#include "ServerFixtures.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Interval at which the bounded waits below look again.
constexpr int kPollMs = 5;
constexpr int kStartTimeoutMs = 10000;
constexpr int kLaunchAttempts = 3;

void PauseMs(int ms) { ::poll(nullptr, 0, ms); }

bool Expired(Clock::time_point deadline) { return Clock::now() >= deadline; }

Clock::time_point After(int ms) { return Clock::now() + std::chrono::milliseconds(ms); }

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  return a;
}

// The last bytes of a log, for error messages.
std::string Tail(const fs::path& file, std::size_t max = 2000) {
  std::string text = ReadFile(file);
  return text.size() > max ? "..." + text.substr(text.size() - max) : text;
}

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

std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t seed) {
  auto p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) seed = (seed ^ p[i]) * 1099511628211ull;
  return seed;
}

void FillPattern(char* out, std::size_t size, std::uint64_t offset, std::uint64_t seed) {
  // Each 8-byte word is a hash of its index: cheap, and no run repeats.
  for (std::size_t i = 0; i < size; ++i) {
    std::uint64_t word = (offset + i) / 8;
    std::uint64_t x = (word + seed) * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    out[i] = static_cast<char>(x >> (8 * ((offset + i) % 8)));
  }
}

std::uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("socket() failed");
  sockaddr_in a = Loopback(0);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  ::close(fd);
  return ntohs(a.sin_port);
}

bool PortAccepts(std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a = Loopback(port);
  bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

// ---- Files

TempDirectory::TempDirectory(const std::string& prefix) {
  std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed for " + pattern);
  path_ = pattern;
}

TempDirectory::~TempDirectory() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

std::string ReadFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& file, const std::string& bytes) {
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

// ---- Processes

void ChildProcess::Start(const std::vector<std::string>& argv, const fs::path& log) {
  if (Running()) throw std::logic_error("process already running");
  if (argv.empty() || ::access(argv[0].c_str(), X_OK) != 0) {
    throw std::runtime_error((argv.empty() ? std::string("(none)") : argv[0]) + " is missing or not executable");
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
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
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

// ---- Servers

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
      if (std::all_of(others.begin(), others.end(), [](std::uint16_t other) { return PortAccepts(other); })) {
        return true;
      }
    }
    PauseMs(kPollMs);
  }
  process_.Stop();
  failure = "port " + std::to_string(port_) + " not accepting after " + std::to_string(kStartTimeoutMs) +
            " ms; log:\n" + Tail(ErrorLog());
  return false;
}

NginxServer::NginxServer() : ServerProcess(kBinary, "nginx-light", "tirasel-nginx") {
  fs::create_directories(Root());
  fs::create_directories(dir_ / "temp");
}

void NginxServer::AddFile(const std::string& path, const std::string& bytes) { WriteFile(Root() / path.substr(1), bytes); }

std::uint64_t NginxServer::AddPatternFile(const std::string& path, std::int64_t size, std::uint64_t seed) {
  fs::path file = Root() / path.substr(1);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  std::vector<char> piece(1 << 20);
  std::uint64_t sum = kFnvOffset;
  for (std::int64_t offset = 0; offset < size;) {
    auto n = static_cast<std::size_t>(std::min<std::int64_t>(size - offset, static_cast<std::int64_t>(piece.size())));
    FillPattern(piece.data(), n, static_cast<std::uint64_t>(offset), seed);
    sum = Fnv1a(piece.data(), n, sum);
    out.write(piece.data(), static_cast<std::streamsize>(n));
    offset += static_cast<std::int64_t>(n);
  }
  if (!out) throw std::runtime_error("cannot write " + file.string());
  return sum;
}

void NginxServer::AddRedirect(const std::string& path, int status, const std::string& location) {
  if (process_.Running()) throw std::logic_error("nginx redirects must be added before Start");
  redirects_.push_back("    location = " + path + " { return " + std::to_string(status) + " \"" + location +
                       "\"; }\n");
}

void NginxServer::AddBasicAuth(const std::string& prefix, const std::string& user, const std::string& password) {
  if (process_.Running()) throw std::logic_error("nginx authorization must be added before Start");
  fs::path users = dir_ / ("htpasswd" + std::to_string(redirects_.size()));
  WriteFile(users, user + ":{PLAIN}" + password + "\n");
  redirects_.push_back("    location " + prefix + " { auth_basic \"Tirasel\"; auth_basic_user_file " + users.string() +
                       "; }\n");
}

void NginxServer::UseTls(const fs::path& cert, const fs::path& key) {
  if (process_.Running()) throw std::logic_error("nginx TLS must be set up before Start");
  tlsCert_ = cert;
  tlsKey_ = key;
}

void NginxServer::RedirectPlainToTls() {
  if (tlsCert_.empty()) throw std::logic_error("RedirectPlainToTls needs UseTls first");
  plainRedirectsToTls_ = true;
}

void NginxServer::AddCharset(const std::string& path, const std::string& charset) {
  if (process_.Running()) throw std::logic_error("nginx charsets must be added before Start");
  redirects_.push_back("    location = " + path + " { charset " + charset + "; }\n");
}

void NginxServer::Start() { Launch(); }

std::vector<std::string> NginxServer::CommandLine() const {
  // -e: the startup error log, before the configuration is read.
  return {binary_, "-p", dir_.Path().string() + "/", "-c", ConfigFile().string(), "-e", ErrorLog().string()};
}

std::string NginxServer::Config(std::uint16_t port) const {
  const std::string d = dir_.Path().string();
  if (!tlsCert_.empty()) {
    do {
      tlsPort_ = FreeLoopbackPort();
    } while (tlsPort_ == port);
  }
  std::string conf;
  // One process in the foreground; as root it would otherwise switch to
  // "nobody" for the temporary paths.
  if (::geteuid() == 0) conf += "user root;\n";
  conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
  conf += "pid " + d + "/nginx.pid;\nerror_log " + d + "/error.log warn;\n";
  conf += "events { worker_connections 256; }\n";
  conf += "http {\n";
  conf += "  access_log " + d + "/access.log;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf += std::string("  ") + temp + "_temp_path " + d + "/temp/" + temp + ";\n";
  }
  conf += "  types { text/html html htm; text/plain txt; application/octet-stream bin; }\n";
  conf += "  default_type application/octet-stream;\n";
  conf += "  sendfile on;\n  tcp_nopush on;\n  keepalive_timeout 5;\n";
  // Redirect locations go out exactly as the test wrote them.
  conf += "  absolute_redirect off;\n";
  conf += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n    server_name localhost;\n";
  if (plainRedirectsToTls_) {
    conf += "    location / { return 301 https://127.0.0.1:" + std::to_string(tlsPort_) + "$request_uri; }\n";
  } else {
    conf += ServerBody();
  }
  conf += "  }\n";
  if (!tlsCert_.empty()) {
    conf += "  server {\n    listen 127.0.0.1:" + std::to_string(tlsPort_) + " ssl;\n    server_name localhost;\n";
    conf += "    ssl_certificate " + tlsCert_.string() + ";\n    ssl_certificate_key " + tlsKey_.string() + ";\n";
    // Sessions resume, as on most real sites.
    conf += "    ssl_session_cache shared:TLS:1m;\n";
    conf += ServerBody();
    conf += "  }\n";
  }
  conf += "}\n";
  return conf;
}

std::string NginxServer::ServerBody() const {
  std::string body = "    root " + Root().string() + ";\n    index index.html;\n    autoindex on;\n";
  for (const std::string& r : redirects_) body += r;
  return body;
}

TinyProxy::TinyProxy() : ServerProcess(kBinary, "tinyproxy", "tirasel-tinyproxy") {}

std::vector<std::string> TinyProxy::CommandLine() const { return {binary_, "-d", "-c", ConfigFile().string()}; }

std::string TinyProxy::Config(std::uint16_t port) const {
  const std::string d = dir_.Path().string();
  std::string conf;
  conf += "Port " + std::to_string(port) + "\nListen 127.0.0.1\n";
  conf += "Timeout 30\nMaxClients 32\nAllow 127.0.0.1\n";
  conf += "Syslog Off\nLogFile \"" + d + "/tinyproxy.log\"\nLogLevel Info\n";
  conf += "PidFile \"" + d + "/tinyproxy.pid\"\n";
  if (!basicAuth_.empty()) conf += "BasicAuth " + basicAuth_ + "\n";
  for (std::uint16_t connectPort : connectPorts_) conf += "ConnectPort " + std::to_string(connectPort) + "\n";
  return conf;
}

}  // namespace testsupport
