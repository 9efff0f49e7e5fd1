// Real servers for tests and benchmarks: nginx and tinyproxy from the
// system, each started on a free port of 127.0.0.1 with a configuration,
// logs, pid file and temporary paths of its own in a fresh directory, and
// stopped (and the directory removed) when the fixture object goes away.
//
//   testsupport::NginxServer web;
//   web.AddFile("/a.html", "<html>...");
//   web.AddRedirect("/old", 301, "/a.html");   // before Start
//   web.Start();                                // throws with a clear message
//   ... web.Url("/old") ...
//
// A missing binary or a server that does not come up raises
// std::runtime_error naming the binary, the package and the server's log.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

// FNV-1a over a byte range; Fnv1a(b, n2, Fnv1a(a, n1)) equals the sum of a+b.
constexpr std::uint64_t kFnvOffset = 14695981039346656037ull;
std::uint64_t Fnv1a(const void* data, std::size_t size, std::uint64_t seed = kFnvOffset);

// Deterministic filler bytes: the same (offset, seed) always gives the same
// bytes, so a large file need not be kept in memory to be checked.
void FillPattern(char* out, std::size_t size, std::uint64_t offset, std::uint64_t seed = 1);

// A port on 127.0.0.1 that nobody listened on a moment ago.
std::uint16_t FreeLoopbackPort();
// True when 127.0.0.1:port accepts a connection.
bool PortAccepts(std::uint16_t port);

// A fresh directory, removed with everything in it on destruction.
class TempDirectory {
 public:
  explicit TempDirectory(const std::string& prefix = "tirasel-test");
  ~TempDirectory();
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::filesystem::path& file);
void WriteFile(const std::filesystem::path& file, const std::string& bytes);

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

// What the two servers share: a working directory, a port and a process.
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

// nginx serving the files of a fixture directory, with optional redirects.
class NginxServer : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/sbin/nginx";
  NginxServer();
  ~NginxServer() { Stop(); }

  // Files may be added at any time; path is the URL path ("/dir/a.html").
  void AddFile(const std::string& path, const std::string& bytes);
  // A file of FillPattern bytes, written in pieces; returns its Fnv1a.
  std::uint64_t AddPatternFile(const std::string& path, std::int64_t size, std::uint64_t seed = 1);
  // `location = path { return status location; }`; before Start only.
  // Locations are sent as written (no absolute rewriting by nginx), with
  // nginx's variables ("$server_port") filled in.
  void AddRedirect(const std::string& path, int status, const std::string& location);
  // Basic authorization for everything below the path prefix ("/private/"),
  // one user with a plain-text password (nginx reads it up to a colon, so it
  // must hold none); before Start only.
  void AddBasicAuth(const std::string& prefix, const std::string& user, const std::string& password);
  // A second server block with TLS on a port of its own (TlsPort), serving
  // the same files and redirects with this certificate; before Start only.
  void UseTls(const std::filesystem::path& cert, const std::filesystem::path& key);
  // The plain server answers every request with 301 to the same path on the
  // TLS server, as most real sites do; before Start, with UseTls.
  void RedirectPlainToTls();
  // The file at `path` goes out with "; charset=..." in its content type;
  // before Start only.
  void AddCharset(const std::string& path, const std::string& charset);
  void Start();

  std::string Url(const std::string& path = "/") const { return "http://" + HostPort() + path; }
  std::uint16_t TlsPort() const { return tlsPort_; }
  std::string TlsUrl(const std::string& path = "/") const {
    return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
  }
  std::filesystem::path Root() const { return dir_ / "root"; }
  std::filesystem::path AccessLog() const { return dir_ / "access.log"; }
  std::filesystem::path ErrorLog() const override { return dir_ / "error.log"; }

 protected:
  std::string Config(std::uint16_t port) const override;
  std::vector<std::string> CommandLine() const override;
  std::vector<std::uint16_t> OtherPorts() const override {
    return tlsCert_.empty() ? std::vector<std::uint16_t>{} : std::vector<std::uint16_t>{tlsPort_};
  }
  std::filesystem::path ConfigFile() const override { return dir_ / "nginx.conf"; }

 private:
  std::string ServerBody() const;

  std::vector<std::string> redirects_;
  std::filesystem::path tlsCert_, tlsKey_;
  bool plainRedirectsToTls_ = false;
  // Chosen anew with each start attempt, like the plain port.
  mutable std::uint16_t tlsPort_ = 0;
};

// tinyproxy in the foreground, allowing 127.0.0.1 only.
class TinyProxy : public ServerProcess {
 public:
  static constexpr const char* kBinary = "/usr/bin/tinyproxy";
  TinyProxy();
  ~TinyProxy() { Stop(); }

  // CONNECT tunnels only to these ports (none given: to any port).
  void AllowConnectTo(std::uint16_t port) { connectPorts_.push_back(port); }
  void Start() { Launch(); }
  // Clients must authorize (Basic) as this user; before Start only.
  void RequireBasicAuth(const std::string& user, const std::string& password) { basicAuth_ = user + " " + password; }
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
