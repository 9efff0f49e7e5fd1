#include "NginxServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "LoopbackPorts.h"
#include "PatternBytes.h"

namespace testsupport {

namespace fs = std::filesystem;

NginxServer::NginxServer() : ServerProcess(kBinary, "nginx-light", "tirasel-nginx") {
  fs::create_directories(Root());
  fs::create_directories(dir_ / "temp");
}

namespace {

// The connection numbers of the access log's lines, in order.
std::vector<std::string> LoggedConnectionNumbers(const fs::path& log) {
  std::vector<std::string> numbers;
  std::ifstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line.substr(line.rfind('"') + 1));
    std::string connection;
    if (fields >> connection) numbers.push_back(connection);
  }
  return numbers;
}

// One request to the unlogged settle location, read to its close.
bool AskToSettle(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  bool closed = false;
  const std::string request = "GET /.settle HTTP/1.0\r\n\r\n";
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char buffer[512];
    for (int reads = 0; reads < 64 && !closed; ++reads) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) != 1) break;
      const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) closed = n == 0;
    }
  }
  ::close(fd);
  return closed;
}

}  // namespace

void NginxServer::SettleLog() const {
  // nginx logs a request in the same turn of its single event loop that
  // sends the answer's last bytes, so once a later request has been
  // answered every earlier answer a client has seen is in the log.
  if (!AskToSettle(Port())) throw std::runtime_error("nginx did not answer the settle request");
}

std::int64_t NginxServer::LoggedBodyBytes() const {
  SettleLog();
  std::int64_t bytes = 0;
  std::ifstream in(AccessLog());
  for (std::string line; std::getline(in, line);) {
    // After the request's quoted line: the status, then the body's bytes.
    const size_t request = line.find("\" ");
    if (request == std::string::npos) continue;
    std::istringstream fields(line.substr(request + 2));
    int status = 0;
    std::int64_t sent = 0;
    if (fields >> status >> sent) bytes += sent;
  }
  return bytes;
}

size_t NginxServer::LoggedRequests() const {
  SettleLog();
  return LoggedConnectionNumbers(AccessLog()).size();
}

size_t NginxServer::LoggedConnections() const {
  SettleLog();
  const std::vector<std::string> numbers = LoggedConnectionNumbers(AccessLog());
  return std::set<std::string>(numbers.begin(), numbers.end()).size();
}

void NginxServer::AddFile(const std::string& path, const std::string& bytes) {
  WriteFile(Root() / path.substr(1), bytes);
}

std::uint64_t NginxServer::AddPatternFile(const std::string& path, std::int64_t size,
                                          std::uint64_t seed) {
  fs::path file = Root() / path.substr(1);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  std::vector<char> piece(1 << 20);
  std::uint64_t sum = kFnvOffset;
  for (std::int64_t offset = 0; offset < size;) {
    auto n = static_cast<std::size_t>(
        std::min<std::int64_t>(size - offset, static_cast<std::int64_t>(piece.size())));
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
  redirects_.push_back("    location = " + path + " { return " + std::to_string(status) + " \"" +
                       location + "\"; }\n");
}

void NginxServer::AddBasicAuth(const std::string& prefix, const std::string& user,
                               const std::string& password) {
  if (process_.Running()) throw std::logic_error("nginx authorization must be added before Start");
  fs::path users = dir_ / ("htpasswd" + std::to_string(redirects_.size()));
  WriteFile(users, user + ":{PLAIN}" + password + "\n");
  redirects_.push_back("    location " + prefix +
                       " { auth_basic \"Tirasel\"; auth_basic_user_file " + users.string() +
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
  return {binary_,
          "-p",
          dir_.Path().string() + "/",
          "-c",
          ConfigFile().string(),
          "-e",
          ErrorLog().string()};
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
  // The combined format, and which connection carried each request.
  conf += "  log_format withconnection '$remote_addr - $remote_user [$time_local] \"$request\" "
          "$status $body_bytes_sent \"$http_referer\" \"$http_user_agent\" "
          "$connection $connection_requests';\n";
  conf += "  access_log " + d + "/access.log withconnection;\n";
  for (const char* temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"}) {
    conf += std::string("  ") + temp + "_temp_path " + d + "/temp/" + temp + ";\n";
  }
  conf += "  types { text/html html htm; text/plain txt; application/octet-stream bin; }\n";
  conf += "  default_type application/octet-stream;\n";
  conf += "  sendfile on;\n  tcp_nopush on;\n  keepalive_timeout 5;\n";
  if (gzip_) conf += "  gzip on;\n  gzip_min_length 1;\n  gzip_comp_level 6;\n";
  // Redirect locations go out exactly as the test wrote them.
  conf += "  absolute_redirect off;\n";
  conf += "  server {\n    listen 127.0.0.1:" + std::to_string(port) +
          ";\n    server_name localhost;\n";
  conf += "    location = /.settle { access_log off; return 204; }\n";
  if (plainRedirectsToTls_) {
    conf += "    location / { return 301 https://127.0.0.1:" + std::to_string(tlsPort_) +
            "$request_uri; }\n";
  } else {
    conf += ServerBody();
  }
  conf += "  }\n";
  if (!tlsCert_.empty()) {
    conf += "  server {\n    listen 127.0.0.1:" + std::to_string(tlsPort_) +
            " ssl;\n    server_name localhost;\n";
    conf += "    ssl_certificate " + tlsCert_.string() + ";\n    ssl_certificate_key " +
            tlsKey_.string() + ";\n";
    // Sessions resume, as on most real sites.
    conf += "    ssl_session_cache shared:TLS:1m;\n";
    conf += ServerBody();
    conf += "  }\n";
  }
  conf += "}\n";
  return conf;
}

std::string NginxServer::ServerBody() const {
  std::string body =
      "    root " + Root().string() + ";\n    index index.html;\n    autoindex on;\n";
  for (const std::string& r : redirects_) body += r;
  return body;
}

}  // namespace testsupport
