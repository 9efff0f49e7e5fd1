// HTTP/1.1 in the client: kept connections, chunked answers, the answers
// that end their connection, a kept connection the server has closed,
// compressed answers and Digest authorization.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "CompressedText.h"
#include "HttpProt.h"
#include "LoopbackPeer.h"

namespace {

using testpeer::LoopbackPeer;

// One exchange on a kept connection: the request is read, then `answer` is
// sent; `close` closes the connection after it (an empty answer with close:
// the server read the request and closed without answering).
struct Exchange {
  std::string answer;
  bool close = false;
};

// A loopback server running a script of exchanges per connection, which
// records the requests each connection carried. After its last exchange a
// connection stays open until the client closes it.
class KeptServer {
 public:
  explicit KeptServer(std::vector<std::vector<Exchange>> connections)
      : scripts_(std::move(connections)),
        peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); },
              static_cast<int>(scripts_.size())) {}

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + peer_.PortText() + path;
  }
  std::string PortText() const { return peer_.PortText(); }
  int Connections() const { return peer_.accepted; }
  // The requests of each connection so far.
  std::vector<std::vector<std::string>> Requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    const size_t index = static_cast<size_t>(peer.accepted - 1);
    {
      std::lock_guard lock(mu_);
      requests_.resize(std::max(requests_.size(), index + 1));
    }
    for (const Exchange& exchange : scripts_.at(index)) {
      std::string request = peer.ReadRequestHeader(fd);
      if (request.empty()) return;
      {
        std::lock_guard lock(mu_);
        requests_[index].push_back(request);
      }
      if (!LoopbackPeer::SendAll(fd, exchange.answer) || exchange.close) return;
    }
    // Until the client closes: reading returns 0.
    char byte;
    while (peer.WaitReadable(fd, 10000) && ::recv(fd, &byte, 1, 0) > 0) {
    }
  }

  std::vector<std::vector<Exchange>> scripts_;
  std::mutex mu_;
  std::vector<std::vector<std::string>> requests_;
  LoopbackPeer peer_;
};

struct Client {
  THttpCli http;
  TMemoryStream body;
  std::uint16_t doneError = 0xFFFF;

  explicit Client(const char* version = "1.1") {
    http.RequestVersion = version;
    http.ReceiveStream = &body;
    http.OnRequestDone = [this](TObject*, THttpRequest, std::uint16_t error) { doneError = error; };
  }
  // The body fetched, or "error N" for a failed request.
  std::string Fetch(const std::string& url, THttpRequest type = rqGet) {
    body.Clear();
    http.URL = url;
    http.StartRequest(type);
    testpeer::WaitUntil([this] { return http.State() == hsIdle && doneError != 0xFFFF; }, 20000);
    const std::uint16_t error = doneError;
    doneError = 0xFFFF;
    if (error != 0) return "error " + std::to_string(error);
    return std::string(body.Data());
  }
};

std::string Answer(const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 200 OK\r\n" + extra + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

TEST(HttpPersistent, RequestsToTheSameServerShareOneConnection) {
  const std::string chunked =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n"
      "5;name=value\r\nzwei \r\nA\r\nchunked bo\r\n2\r\ndy\r\n0\r\nTrailer: x\r\n\r\n";
  KeptServer server({{{Answer("eins")}, {chunked}, {"HTTP/1.1 204 No Content\r\n\r\n"},
                      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"}, {Answer("")}}});
  Client c;
  EXPECT_EQ(c.Fetch(server.Url("/a")), "eins");
  EXPECT_FALSE(c.http.ConnectionReused());
  EXPECT_EQ(c.Fetch(server.Url("/b")), "zwei chunked body");
  EXPECT_TRUE(c.http.ConnectionReused());
  // Answers without a body end at their header.
  EXPECT_EQ(c.Fetch(server.Url("/c")), "");
  EXPECT_EQ(c.Fetch(server.Url("/d"), rqHead), "");
  EXPECT_EQ(c.Fetch(server.Url("/e")), "");
  EXPECT_EQ(server.Connections(), 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_EQ(requests[0].size(), 5u);
  EXPECT_EQ(requests[0][0],
            "GET /a HTTP/1.1\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible)\r\n"
            "Host: 127.0.0.1:" +
                server.PortText() + "\r\n\r\n");
  EXPECT_TRUE(requests[0][3].starts_with("HEAD /d HTTP/1.1\r\n"));
}

TEST(HttpPersistent, AnswersThatEndTheirConnectionAreReadToTheirEnd) {
  KeptServer server({
      {{Answer("abc", "Connection: close\r\n")}},
      {{"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\ndef", true}},
      {{"HTTP/1.1 200 OK\r\n\r\nno length: up to the close", true}},
      {{Answer("ghi") + "EXTRA"}},  // bytes nobody asked for
      {{Answer("jkl")}},
  });
  Client c;
  for (const char* expected : {"abc", "def", "no length: up to the close", "ghi", "jkl"}) {
    EXPECT_EQ(c.Fetch(server.Url("/")), expected);
    EXPECT_FALSE(c.http.ConnectionReused());
  }
  EXPECT_EQ(server.Connections(), 5);
}

TEST(HttpPersistent, AKeptConnectionTheServerClosedIsReplacedOnce) {
  KeptServer server({
      {{Answer("eins")}, {"", true}},          // reads the second request, closes
      {{Answer("zwei")}, {"", true}},          // the same
      {{"", true}},                            // a fresh connection that fails too
  });
  Client c;
  EXPECT_EQ(c.Fetch(server.Url("/1")), "eins");
  EXPECT_EQ(c.Fetch(server.Url("/2")), "zwei");
  EXPECT_FALSE(c.http.ConnectionReused());
  EXPECT_EQ(server.Connections(), 2);
  // Only one new try: the fresh connection's failure is the request's.
  EXPECT_EQ(c.Fetch(server.Url("/3")), "error " + std::to_string(kHttpErrorNoStatus));
  EXPECT_EQ(server.Connections(), 3);
}

TEST(HttpPersistent, ChunkedAnswersCutShortOrUnreadableFail) {
  const std::string head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n";
  KeptServer server({
      {{head + "4\r\nabcd\r\nzz\r\n"}},
      {{head + "4\r\nabcd\r\n", true}},
      {{head + "4\r\nabcdX\r\n"}},
      {{head + std::string(2000, '1') + "\r\n"}},
      {{head + "4;" + std::string(2000, 'x') + "\r\n"}},
      {{head + "0\r\n" + std::string(9000, 'T') + "\r\n"}},
  });
  Client c;
  const std::string unreadable = "error " + std::to_string(kHttpErrorBadChunk);
  EXPECT_EQ(c.Fetch(server.Url("/")), unreadable);
  EXPECT_EQ(c.Fetch(server.Url("/")), "error " + std::to_string(kHttpErrorShortBody));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(c.Fetch(server.Url("/")), unreadable) << i;
  EXPECT_EQ(c.http.StatusCode(), kHttpFailureStatus);
}

TEST(HttpPersistent, ARelocationsLengthDoesNotCutTheNextAnswer) {
  for (const char* version : {"1.0", "1.1"}) {
    KeptServer server({
        {{"HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 50\r\n\r\n", true}},
        {{"HTTP/1.1 200 OK\r\n\r\nkurz", true}},
    });
    Client c(version);
    EXPECT_EQ(c.Fetch(server.Url("/a")), "kurz") << version;
  }
}

TEST(HttpPersistent, HttpOneZeroKeepsItsRequestBytesAndClosesEachConnection) {
  KeptServer server({{{Answer("eins"), true}}, {{Answer("zwei"), true}}});
  Client c("1.0");
  EXPECT_EQ(c.Fetch(server.Url("/a")), "eins");
  EXPECT_EQ(c.Fetch(server.Url("/b")), "zwei");
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(server.Requests()[0][0],
            "GET /a HTTP/1.0\r\n"
            "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible)\r\n"
            "Host: 127.0.0.1\r\n\r\n");
}

TEST(HttpPersistent, CompressedAnswersAreDecodedWithinTheSizeLimit) {
  const std::string page = testsupport::GermanText(20000);
  const std::string brotli = testsupport::Brotli(page);
  std::string chunked;
  for (size_t at = 0; at < brotli.size(); at += 777) {
    const std::string piece = brotli.substr(at, 777);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunked += size + piece + "\r\n";
  }
  std::string damaged = testsupport::Gzip(page);
  for (size_t i = 20; i < 40; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  const std::string bomb = testsupport::Gzip(std::string(8 << 20, 'x'));
  KeptServer server({{
      {"HTTP/1.1 200 OK\r\nContent-Encoding: br\r\nTransfer-Encoding: chunked\r\n\r\n" +
       chunked + "0\r\n\r\n"},
      {Answer(testsupport::Gzip(page), "Content-Encoding: gzip\r\n")},
      {Answer(testsupport::Zstd(page), "Content-Encoding: zstd\r\n")},
      {Answer(damaged, "Content-Encoding: gzip\r\n")},
  }, {
      {Answer(testsupport::Gzip(page).substr(0, 500), "Content-Encoding: gzip\r\n")},
  }, {
      {Answer("x", "Content-Encoding: compress\r\n")},
  }, {
      {Answer(bomb, "Content-Encoding: gzip\r\n")},
  }, {
      {Answer(testsupport::Gzip(page), "Content-Encoding: gzip\r\n")},
  }});
  Client c;
  c.http.AcceptEncoding = "gzip, deflate, br, zstd";
  c.http.MaxDocSize = 1 << 20;
  EXPECT_EQ(c.Fetch(server.Url("/br")), page);
  EXPECT_EQ(c.http.ReceivedBytes(), static_cast<std::int64_t>(page.size()));
  EXPECT_LT(c.http.WireBytes(), static_cast<std::int64_t>(page.size()) / 2);
  EXPECT_EQ(c.Fetch(server.Url("/gzip")), page);
  EXPECT_EQ(c.Fetch(server.Url("/zstd")), page);
  const std::string unreadable = "error " + std::to_string(kHttpErrorBadCoding);
  EXPECT_EQ(c.Fetch(server.Url("/damaged")), unreadable);
  EXPECT_EQ(c.Fetch(server.Url("/cut")), unreadable);  // the length is whole, the data not
  EXPECT_EQ(c.Fetch(server.Url("/compress")), unreadable);
  // 8 MiB from 8 KiB: the decoded bytes are what the limit counts.
  EXPECT_EQ(c.Fetch(server.Url("/bomb")), "error " + std::to_string(kHttpErrorDocTooLarge));
  // Not asked for, nothing is decoded (and nothing was asked for).
  c.http.AcceptEncoding.clear();
  EXPECT_EQ(c.Fetch(server.Url("/raw")), testsupport::Gzip(page));
  const auto requests = server.Requests();
  EXPECT_NE(requests[0][0].find("\r\nAccept-Encoding: gzip, deflate, br, zstd\r\n"), std::string::npos);
  EXPECT_EQ(requests[4][0].find("Accept-Encoding"), std::string::npos);
}

}  // namespace

// ---------------------------------------------------------------------------
// Digest authorization

std::string Hex(const unsigned char* bytes, unsigned size) {
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < size; ++i) {
    std::snprintf(two, sizeof two, "%02x", bytes[i]);
    hex += two;
  }
  return hex;
}

std::string Sha256Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_sha256(), nullptr);
  return Hex(digest, size);
}

// The value of a parameter of an Authorization field, quoted or not.
std::string AuthParam(const std::string& request, const std::string& name) {
  std::smatch match;
  const std::regex quoted("[ ,]" + name + "=\"([^\"]*)\"");
  const std::regex bare("[ ,]" + name + "=([^,\r]*)");
  if (std::regex_search(request, match, quoted) || std::regex_search(request, match, bare)) {
    return match[1];
  }
  return "";
}

// A server protecting everything with Digest (SHA-256, qop auth) for one
// user: it checks each answer as RFC 7616 computes it, offers Basic and MD5
// beside it, and a nonce it has replaced is answered with "stale".
class DigestServer {
 public:
  static constexpr const char* kRealm = "Tirasel test";
  DigestServer(std::string user, std::string password, int connections)
      : user_(std::move(user)),
        password_(std::move(password)),
        peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); }, connections) {}

  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + peer_.PortText() + path;
  }
  int Connections() const { return peer_.accepted; }
  void ReplaceNonce() {
    std::lock_guard lock(mu_);
    oldNonce_ = nonce_;
    nonce_ += "x";
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    for (int i = 0; i < 20; ++i) {
      const std::string request = peer.ReadRequestHeader(fd);
      if (request.empty()) return;
      if (!LoopbackPeer::SendAll(fd, AnswerTo(request))) return;
    }
  }

  std::string AnswerTo(const std::string& request) {
    std::lock_guard lock(mu_);
    requests_.push_back(request);
    const std::string nonce = AuthParam(request, "nonce");
    const std::string uri = AuthParam(request, "uri");
    const bool digest = request.find("\r\nAuthorization: Digest ") != std::string::npos;
    const std::string expected = Sha256Hex(
        Sha256Hex(user_ + ":" + kRealm + ":" + password_) + ":" + nonce + ":" +
        AuthParam(request, "nc") + ":" + AuthParam(request, "cnonce") + ":auth:" +
        Sha256Hex("GET:" + uri));
    const bool right = digest && AuthParam(request, "username") == user_ &&
                       AuthParam(request, "response") == expected &&
                       AuthParam(request, "opaque") == "op" &&
                       request.starts_with("GET " + uri + " ");
    if (right && nonce == nonce_) return Answer("geheim");
    const std::string stale = right && nonce == oldNonce_ ? ", stale=true" : "";
    const std::string denied = "<p>denied</p>";
    return "HTTP/1.1 401 Unauthorized\r\n"
           "WWW-Authenticate: Basic realm=\"" + std::string(kRealm) + "\"\r\n"
           "WWW-Authenticate: Digest realm=\"" + kRealm + "\", qop=\"auth\", algorithm=MD5, "
           "nonce=\"" + nonce_ + "\", opaque=\"op\", Digest realm=\"" + kRealm +
           "\", qop=\"auth\", algorithm=SHA-256, nonce=\"" + nonce_ + "\", opaque=\"op\"" +
           stale + "\r\nContent-Length: " + std::to_string(denied.size()) + "\r\n\r\n" + denied;
  }

  std::string user_, password_;
  std::mutex mu_;
  std::string nonce_ = "n0nce", oldNonce_;
  std::vector<std::string> requests_;
  LoopbackPeer peer_;
};

TEST(HttpPersistent, DigestChallengesAreAnsweredOnceAndKeptForTheOrigin) {
  DigestServer server("anna", "s3 cret", 2);
  {
    Client c;
    c.http.Username = "anna";
    c.http.Password = "s3 cret";
    // Basic goes first; the refusal's Digest challenge (the stronger one)
    // is answered on the same connection.
    EXPECT_EQ(c.Fetch(server.Url("/a?x=1")), "geheim");
    EXPECT_EQ(c.http.StatusCode(), 200);
    // Later requests answer the challenge at once, counting its nonce.
    EXPECT_EQ(c.Fetch(server.Url("/b")), "geheim");
    server.ReplaceNonce();
    EXPECT_EQ(c.Fetch(server.Url("/c")), "geheim");
    // The nonce the server just gave is refused: the password is wrong,
    // asking again would not help.
    c.http.Password = "falsch";
    EXPECT_EQ(c.Fetch(server.Url("/d")), "");
    EXPECT_EQ(c.http.StatusCode(), 401);
  }
  std::vector<std::string> requests = server.Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_NE(requests[0].find("\r\nAuthorization: Basic "), std::string::npos);
  EXPECT_NE(requests[1].find("algorithm=SHA-256"), std::string::npos);
  EXPECT_EQ(AuthParam(requests[1], "nc"), "00000001");
  EXPECT_EQ(AuthParam(requests[2], "nc"), "00000002");
  EXPECT_EQ(AuthParam(requests[3], "nonce"), "n0nce");  // refused as stale
  EXPECT_EQ(AuthParam(requests[4], "nonce"), "n0ncex");
  EXPECT_EQ(AuthParam(requests[4], "nc"), "00000001");
  EXPECT_EQ(server.Connections(), 1);

  // A client new to the server: one more try, then the refusal is the answer.
  Client wrong;
  wrong.http.Username = "anna";
  wrong.http.Password = "falsch";
  EXPECT_EQ(wrong.Fetch(server.Url("/e")), "");
  EXPECT_EQ(wrong.http.StatusCode(), 401);
  EXPECT_EQ(server.Requests().size(), 8u);
}

// Through a proxy the connection is the proxy's: requests for any http
// site share it, each naming its absolute address.
TEST(HttpPersistent, RequestsThroughAProxyShareTheConnectionToIt) {
  KeptServer proxy({{{Answer("eins")}, {Answer("zwei")}, {Answer("drei")}}});
  Client c;
  c.http.Proxy = "127.0.0.1:" + proxy.PortText();
  EXPECT_EQ(c.Fetch("http://a.example/1"), "eins");
  EXPECT_EQ(c.Fetch("http://b.example:8080/2"), "zwei");
  EXPECT_TRUE(c.http.ConnectionReused());
  EXPECT_EQ(c.Fetch("http://a.example/3"), "drei");
  EXPECT_EQ(proxy.Connections(), 1);
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  ASSERT_EQ(requests[0].size(), 3u);
  EXPECT_TRUE(requests[0][1].starts_with("GET http://b.example:8080/2 HTTP/1.1\r\n")) << requests[0][1];
  EXPECT_NE(requests[0][1].find("\r\nHost: b.example:8080\r\n"), std::string::npos);
}
