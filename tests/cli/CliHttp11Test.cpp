// tirasel-cli over HTTP/1.1 against nginx: the log and the word list are
// those of --http1.0, byte for byte, with one request at a time and four,
// plain and over TLS, while nginx's log shows the requests sharing no more
// connections than requests in flight; and pages a server sends in brotli.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "CompressedText.h"
#include "FixtureSite.h"
#include "LoopbackPeer.h"
#include "NginxServer.h"
#include "RandomSite.h"
#include "TinyProxy.h"
#include "TlsCertificates.h"

namespace {

using clitest::Result;
using clitest::RunCli;

struct Site {
  explicit Site(const std::map<std::string, std::string>& pages, bool tls = false,
                bool gzip = false) {
    for (const auto& [path, body] : pages) web.AddFile(path, body);
    if (gzip) web.CompressAnswers();
    if (tls) {
      const auto& certs = testsupport::TestCertificates::Shared();
      web.UseTls(certs.SelfSigned().cert, certs.SelfSigned().key);
    }
    web.Start();
  }
  testsupport::NginxServer web;
};

// Runs the crawl over HTTP/1.0 and over HTTP/1.1 at the same parallel count:
// same status, log and list (and, one at a time, the same requests); the
// HTTP/1.1 run's requests come over at most `parallel` connections, each of
// the HTTP/1.0 run's over its own.
void ExpectSameCrawl(Site& site, const std::string& start, const std::string& parallel,
                     std::vector<std::string> args = {}) {
  args.insert(args.end(), {"--insecure", "--parallel", parallel, start});
  std::vector<std::string> old = args;
  old.insert(old.begin(), "--http1.0");
  const Result before = RunCli(old);
  const size_t requests10 = site.web.LoggedRequests();
  const size_t connections10 = site.web.LoggedConnections();
  EXPECT_EQ(connections10, requests10);
  const Result after = RunCli(args);
  const size_t requests11 = site.web.LoggedRequests() - requests10;
  EXPECT_EQ(after.status, before.status) << parallel;
  EXPECT_EQ(after.err, before.err) << parallel;
  EXPECT_EQ(after.out, before.out) << parallel;
  // With requests ahead, how many a relocation or the run's end leaves
  // unneeded depends on which answer comes first.
  if (parallel == "1") {
    EXPECT_EQ(requests11, requests10);
  }
  EXPECT_LE(site.web.LoggedConnections() - connections10, std::stoul(parallel)) << parallel;
}

TEST(CliHttp11, TheFixtureSiteGivesTheWordsOfHttp10OverFewConnections) {
  for (bool tls : {false, true}) {
    for (const char* parallel : {"1", "4"}) {
      Site site(testsite::FixtureSite(), tls);
      const std::string start =
          tls ? site.web.TlsUrl("/a/index.html") : site.web.Url("/a/index.html");
      ExpectSameCrawl(site, start, parallel, {"--encoding", "windows-1252"});
    }
  }
}

// A tunnel through the proxy carries the next https pages of its origin.
TEST(CliHttp11, TunnelsThroughAProxyStayOpenForTheNextPages) {
  for (const char* parallel : {"1", "4"}) {
    Site site(testsite::FixtureSite(), true);
    testsupport::TinyProxy proxy;
    proxy.AllowConnectTo(site.web.TlsPort());
    proxy.Start();
    ExpectSameCrawl(site, site.web.TlsUrl("/a/index.html"), parallel,
                    {"--encoding", "windows-1252", "--proxy", proxy.HostPort()});
  }
}

TEST(CliHttp11, RandomSitesGiveTheWordsOfHttp10) {
  for (std::uint64_t seed = 201; seed <= 204; ++seed) {
    const testsite::RandomSite random = testsite::MakeRandomSite(seed, 60);
    for (const char* parallel : {"1", "4"}) {
      Site site(random.pages);
      ExpectSameCrawl(site, site.web.Url(random.start), parallel);
    }
  }
}

TEST(CliHttp11, CompressedPagesGiveTheSameWordsForFewerBytes) {
  Site site(testsite::FixtureSite(), false, true);
  const std::string start = site.web.Url("/a/index.html");
  const Result plain = RunCli({"--encoding", "windows-1252", "--http1.0", start});
  const std::int64_t plainBytes = site.web.LoggedBodyBytes();
  const Result compressed = RunCli({"--encoding", "windows-1252", start});
  const std::int64_t compressedBytes = site.web.LoggedBodyBytes() - plainBytes;
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(compressed.err, plain.err);
  EXPECT_EQ(compressed.out, plain.out);
  EXPECT_LT(compressedBytes, plainBytes);
  // Asked for nothing, nginx sends the pages as they are.
  const Result none = RunCli({"--encoding", "windows-1252", "--no-compression", start});
  EXPECT_EQ(none.out, plain.out);
  EXPECT_EQ(site.web.LoggedBodyBytes() - plainBytes - compressedBytes, plainBytes);
}

// Answers in brotli to whoever names br in Accept-Encoding, as the big
// sites do, over kept connections; keeps every request it saw.
class BrotliSite {
 public:
  explicit BrotliSite(std::map<std::string, std::string> pages)
      : pages_(std::move(pages)),
        peer_([this](int fd, testpeer::LoopbackPeer& peer) { Serve(fd, peer); }, 64) {}
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + peer_.PortText() + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }
  std::int64_t SentBodyBytes() const { return bodyBytes_; }

 private:
  void Serve(int fd, testpeer::LoopbackPeer& peer) {
    for (int i = 0; i < 64; ++i) {
      const std::string request = peer.ReadRequestHeader(fd);
      if (request.empty()) return;
      {
        std::lock_guard lock(mu_);
        requests_.push_back(request);
      }
      const std::string path = request.substr(4, request.find(' ', 4) - 4);
      const auto page = pages_.find(path);
      std::string head = page == pages_.end() ? "HTTP/1.1 404 Not Found\r\n"
                                              : "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n";
      std::string body = page == pages_.end() ? "<p>fehlt</p>" : page->second;
      const size_t accept = request.find("\r\nAccept-Encoding: ");
      if (accept != std::string::npos &&
          request.substr(accept, request.find("\r\n", accept + 2) - accept).find("br") !=
              std::string::npos) {
        head += "Content-Encoding: br\r\nVary: Accept-Encoding\r\n";
        body = testsupport::Brotli(body);
      }
      bodyBytes_ += static_cast<std::int64_t>(body.size());
      head += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
      if (!testpeer::LoopbackPeer::SendAll(fd, head + body)) return;
      if (request.find(" HTTP/1.0\r\n") != std::string::npos) return;  // its close ends it
    }
  }

  std::map<std::string, std::string> pages_;
  std::mutex mu_;
  std::vector<std::string> requests_;
  std::atomic<std::int64_t> bodyBytes_{0};
  testpeer::LoopbackPeer peer_;
};

TEST(CliHttp11, BrotliAnswersGiveTheWordsOfPlainOnes) {
  std::map<std::string, std::string> pages = testsite::FixtureSite();
  BrotliSite site(pages);
  const std::string start = site.Url("/a/index.html");
  // One connection at a time: the server serves them one after another.
  const Result plain = RunCli({"--encoding", "windows-1252", "--parallel", "1", "--http1.0", start});
  const std::int64_t plainBytes = site.SentBodyBytes();
  const Result brotli = RunCli({"--encoding", "windows-1252", "--parallel", "1", start});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(brotli.err, plain.err);
  EXPECT_EQ(brotli.out, plain.out);
  EXPECT_LT(site.SentBodyBytes() - plainBytes, plainBytes);
  const std::vector<std::string> requests = site.Requests();
  ASSERT_FALSE(requests.empty());
  EXPECT_NE(requests.back().find("\r\nAccept-Encoding: gzip, deflate, br\r\n"), std::string::npos)
      << requests.back();
}

}  // namespace
