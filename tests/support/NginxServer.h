// nginx from the system serving the files of a fixture directory, started
// on a free port of 127.0.0.1 with a configuration, logs, pid file and
// temporary paths of its own, optionally with redirects, Basic
// authorization, character sets and a TLS server beside the plain one.
//
//   testsupport::NginxServer web;
//   web.AddFile("/a.html", "<html>...");
//   web.AddRedirect("/old", 301, "/a.html");   // before Start
//   web.Start();                                // throws with a clear message
//   ... web.Url("/old") ...
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ServerProcess.h"

namespace testsupport {

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
  void AddBasicAuth(const std::string& prefix, const std::string& user,
                    const std::string& password);
  // A second server block with TLS on a port of its own (TlsPort), serving
  // the same files and redirects with this certificate; before Start only.
  void UseTls(const std::filesystem::path& cert, const std::filesystem::path& key);
  // The plain server answers every request with 301 to the same path on the
  // TLS server, as most real sites do; before Start, with UseTls.
  void RedirectPlainToTls();
  // The file at `path` goes out with "; charset=..." in its content type;
  // before Start only.
  void AddCharset(const std::string& path, const std::string& charset);
  // Answers gzip-compressed to whoever asks for it; before Start only.
  void CompressAnswers() { gzip_ = true; }
  // The body bytes nginx sent, all requests logged so far together.
  std::int64_t LoggedBodyBytes() const;
  void Start();

  std::string Url(const std::string& path = "/") const { return "http://" + HostPort() + path; }
  std::uint16_t TlsPort() const { return tlsPort_; }
  std::string TlsUrl(const std::string& path = "/") const {
    return "https://127.0.0.1:" + std::to_string(tlsPort_) + path;
  }
  std::filesystem::path Root() const { return dir_ / "root"; }
  // One line per request in nginx's combined format, followed by the
  // number of the connection that carried it and its count of requests.
  std::filesystem::path AccessLog() const { return dir_ / "access.log"; }
  // Returns once every answer sent before the call is in the access log;
  // the Logged... readers call it first.
  void SettleLog() const;
  // The requests logged so far, and over how many connections they came.
  size_t LoggedRequests() const;
  size_t LoggedConnections() const;
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
  bool gzip_ = false;
  // Chosen anew with each start attempt, like the plain port.
  mutable std::uint16_t tlsPort_ = 0;
};

}  // namespace testsupport
