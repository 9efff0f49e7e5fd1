// The HTTP client against real servers on loopback: nginx serving fixture
// files and redirects, and tinyproxy in front of it.
#include "HttpProt.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "NginxServer.h"
#include "PatternBytes.h"
#include "TempDirectory.h"
#include "TinyProxy.h"
#include "TlsCertificates.h"
#include "TlsErrors.h"
#include "TlsServerSide.h"

namespace {

using testsupport::NginxServer;
using testsupport::TinyProxy;

const std::string kSmallPage =
    "<html><head><title>Tirasel</title></head><body>Wortschatz und Worte</body></html>\n";
const std::string kFinalPage = "<html><body>Ziel erreicht</body></html>\n";
const std::string kIndexPage = "<html><body>Verzeichnis-Index</body></html>\n";
const std::string kRelativePage = "<html><body>relativ aufgeloest</body></html>\n";

// One nginx (and, on demand, one tinyproxy) per test program; each test runs
// in a process of its own under ctest, so these start once per test there.
struct Servers {
  std::unique_ptr<NginxServer> web;
  std::unique_ptr<TinyProxy> proxy;
  std::string error;

  Servers() {
    try {
      web = std::make_unique<NginxServer>();
      web->AddFile("/small.html", kSmallPage);
      web->AddFile("/final.html", kFinalPage);
      web->AddFile("/dir/index.html", kIndexPage);
      web->AddFile("/dir/rel/page.html", kRelativePage);
      web->AddFile("/listing/first.txt", "eins\n");
      web->AddFile("/listing/second.html", "<html>zwei</html>\n");
      // An absolute, then a root-relative relocation.
      web->AddRedirect("/start", 302, "http://$server_addr:$server_port/mid");
      web->AddRedirect("/mid", 301, "/final.html");
      web->AddRedirect("/bare", 302, "final.html");
      web->AddRedirect("/dir/start", 302, "rel/page.html");
      web->Start();
    } catch (const std::exception& e) {
      error = e.what();
      web.reset();
    }
  }

  TinyProxy* Proxy() {
    if (!proxy && error.empty()) {
      try {
        proxy = std::make_unique<TinyProxy>();
        proxy->Start();
      } catch (const std::exception& e) {
        error = e.what();
        proxy.reset();
      }
    }
    return proxy.get();
  }
};

Servers& Shared() {
  static Servers servers;
  return servers;
}

// A client writing into a memory stream, recording what the checks need.
// Every Get is guarded: a request still running after the guard time is
// aborted, so a hang fails the test instead of blocking it.
struct Client {
  THttpCli http;
  TMemoryStream body;
  std::vector<std::string> locations;
  std::vector<std::string> requestLines;
  int doneCount = 0;
  std::uint16_t doneError = 0xFFFF;
  std::string error;
  bool guardFired = false;

  Client() {
    http.ReceiveStream = &body;
    http.OnLocationChange = [this](TObject*) { locations.push_back(http.Location()); };
    http.OnCommand = [this](TObject*, std::string& line) { requestLines.push_back(line); };
    http.OnRequestDone = [this](TObject*, THttpRequest, std::uint16_t e) {
      ++doneCount;
      doneError = e;
    };
  }

  // Get; returns the exception's code (0 when none) and keeps its text.
  int Get(const std::string& url, int guardMs = 10000) {
    http.URL = url;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [this] {
      guardFired = true;
      http.Abort();
    });
    guard.start(guardMs);
    try {
      http.Get();
    } catch (const EHttpException& e) {
      error = e.what();
      return e.ErrorCode;
    }
    return 0;
  }
  bool WaitDone() {
    return testpeer::WaitUntil([this] { return doneCount > 0; });
  }
};

long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return 0;
}

class HttpNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Shared().web) GTEST_FAIL() << "nginx fixture: " << Shared().error;
  }
  NginxServer& Web() { return *Shared().web; }
};

class HttpTinyproxy : public HttpNginx {
 protected:
  void SetUp() override {
    HttpNginx::SetUp();
    if (!Shared().Proxy()) GTEST_FAIL() << "tinyproxy fixture: " << Shared().error;
  }
  TinyProxy& Proxy() { return *Shared().proxy; }
  // A client sending through the proxy, named by its "host:port" text.
  void UseProxy(Client& client) { client.http.Proxy = Proxy().HostPort(); }
};

// ---- Direct to nginx

TEST_F(HttpNginx, SmallPageArrivesWithItsHeaderFields) {
  Client client;
  ASSERT_EQ(client.Get(Web().Url("/small.html")), 0) << client.error;
  EXPECT_FALSE(client.guardFired);
  EXPECT_EQ(client.body.Data(), kSmallPage);
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.http.ReasonPhrase(), "OK");
  EXPECT_EQ(client.http.ContentType(), "text/html");
  EXPECT_EQ(client.http.ContentLength(), static_cast<std::int64_t>(kSmallPage.size()));
  EXPECT_EQ(client.http.ReceivedBytes(), static_cast<std::int64_t>(kSmallPage.size()));
  EXPECT_EQ(client.http.DocumentName(), "small.html");
  ASSERT_FALSE(client.http.ResponseHeader().empty());
  EXPECT_EQ(client.http.ResponseHeader()[0], "HTTP/1.1 200 OK");
  EXPECT_EQ(client.http.State(), hsIdle);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  // nginx saw an HTTP/1.0 request for the path.
  Web().SettleLog();
  EXPECT_NE(testsupport::ReadFile(Web().AccessLog()).find("\"GET /small.html HTTP/1.0\" 200"),
            std::string::npos);
}

TEST_F(HttpNginx, MissingPageRaisesWithTheServersStatus) {
  Client client;
  EXPECT_EQ(client.Get(Web().Url("/nowhere.html")), 404);
  EXPECT_EQ(client.error, "Not Found");
  EXPECT_EQ(client.http.StatusCode(), 404);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);  // an error status is not a failed exchange

  // The component is ready for the next request at once.
  client.body.Clear();
  EXPECT_EQ(client.Get(Web().Url("/small.html")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
}

TEST_F(HttpNginx, RedirectChainAbsoluteThenRootRelative) {
  Client client;
  ASSERT_EQ(client.Get(Web().Url("/start")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kFinalPage);  // the bodies of the 302 and 301 are dropped
  EXPECT_EQ(client.http.StatusCode(), 200);
  ASSERT_EQ(client.locations.size(), 2u);
  EXPECT_EQ(client.locations[0].substr(client.locations[0].size() - 4), "/mid");
  EXPECT_EQ(client.locations[1].substr(client.locations[1].size() - 11), "/final.html");

  // Every response of the chain is in the header, in order.
  std::vector<std::string> statusLines;
  for (const std::string& line : client.http.ResponseHeader()) {
    if (line.rfind("HTTP/", 0) == 0) statusLines.push_back(line);
  }
  EXPECT_EQ(statusLines,
            (std::vector<std::string>{"HTTP/1.1 302 Moved Temporarily",
                                      "HTTP/1.1 301 Moved Permanently", "HTTP/1.1 200 OK"}));
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
}

TEST_F(HttpNginx, RelativeRelocationsAreFetchedFromTheCurrentDirectory) {
  Client client;
  ASSERT_EQ(client.Get(Web().Url("/bare")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kFinalPage);
  EXPECT_NE(
      std::find(client.requestLines.begin(), client.requestLines.end(), "GET /final.html HTTP/1.0"),
      client.requestLines.end());

  Client relative;
  ASSERT_EQ(relative.Get(Web().Url("/dir/start")), 0) << relative.error;
  EXPECT_EQ(relative.body.Data(), kRelativePage);
  EXPECT_EQ(relative.locations, (std::vector<std::string>{Web().Url("/dir/rel/page.html")}));
}

TEST_F(HttpNginx, DirectoryIndexAndListing) {
  Client client;
  ASSERT_EQ(client.Get(Web().Url("/dir/")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kIndexPage);

  // Without the slash nginx relocates to "/listing/", which has no index
  // file: the generated listing names the files.
  Client listing;
  ASSERT_EQ(listing.Get(Web().Url("/listing")), 0) << listing.error;
  EXPECT_EQ(listing.locations.size(), 1u);
  EXPECT_EQ(listing.http.ContentType(), "text/html");
  EXPECT_NE(listing.body.Data().find("first.txt"), std::string::npos);
  EXPECT_NE(listing.body.Data().find("second.html"), std::string::npos);
}

// The instrumented build takes a smaller file through the same path.
#ifdef TIRASEL_SANITIZE_BUILD
constexpr std::int64_t kLargeFileSize = 16ll << 20;
#else
constexpr std::int64_t kLargeFileSize = 100ll << 20;
#endif

TEST_F(HttpNginx, LargeFileArrivesWholeInMemory) {
  constexpr std::int64_t kSize = kLargeFileSize;
  std::uint64_t expected = Web().AddPatternFile("/big.bin", kSize);
  long peakBefore = PeakResidentKiB();

  Client client;
  int pieces = 0;
  client.http.OnDocData = [&](TObject*, const void*, int) { ++pieces; };
  ASSERT_EQ(client.Get(Web().Url("/big.bin"), 120000), 0) << client.error;
  ASSERT_EQ(client.body.Size(), kSize);
  EXPECT_EQ(client.http.ReceivedBytes(), kSize);
  EXPECT_EQ(client.http.ContentLength(), kSize);
  EXPECT_EQ(testsupport::Fnv1a(client.body.Data().data(), client.body.Data().size()), expected);
  EXPECT_GE(pieces, static_cast<int>(kSize / 8192));  // never more than one buffer per piece
  // The stream's own growth is the only large allocation (the slack covers
  // the allocator's and the sanitizer's bookkeeping).
  long grownMiB = (PeakResidentKiB() - peakBefore) / 1024;
  EXPECT_LT(grownMiB, 3 * (kSize >> 20) + 32)
      << "peak resident size grew by " << grownMiB << " MiB";
}

TEST_F(HttpNginx, AbortDuringTheBodyEndsTheRequestAndTheClientGoesOn) {
  Web().AddPatternFile("/abort.bin", 8ll << 20);
  Client client;
  client.http.OnDocData = [&](TObject*, const void*, int) {
    if (client.http.ReceivedBytes() > 100000) client.http.Abort();
  };
  EXPECT_EQ(client.Get(Web().Url("/abort.bin")), 404);
  EXPECT_EQ(client.error, "Connection aborted on request");
  EXPECT_FALSE(client.guardFired);
  EXPECT_LT(client.http.ReceivedBytes(), 8ll << 20);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, kHttpErrorAborted);

  client.http.OnDocData = nullptr;
  client.body.Clear();
  EXPECT_EQ(client.Get(Web().Url("/small.html")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
}

TEST_F(HttpNginx, ManySequentialGetsLeakNoDescriptors) {
  Client client;
  ASSERT_EQ(client.Get(Web().Url("/small.html")), 0)
      << client.error;  // first use sets up the machinery
  int fdsBefore = testpeer::OpenFdCount();
  for (int i = 0; i < 50; ++i) {
    client.body.Clear();
    ASSERT_EQ(client.Get(Web().Url(i % 2 ? "/small.html" : "/missing")), i % 2 ? 0 : 404)
        << "request " << i;
  }
  EXPECT_EQ(client.body.Data(), kSmallPage);
  EXPECT_EQ(testpeer::OpenFdCount(), fdsBefore);
}

// ---- Through tinyproxy

TEST_F(HttpTinyproxy, AbsoluteRequestLineAndHostLineWithPortInProxyText) {
  Client client;
  UseProxy(client);
  const std::string url = Web().Url("/small.html");
  ASSERT_EQ(client.Get(url), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
  ASSERT_GE(client.requestLines.size(), 2u);
  EXPECT_EQ(client.requestLines[0], "GET " + url + " HTTP/1.0");
  EXPECT_NE(std::find(client.requestLines.begin(), client.requestLines.end(), "Host: 127.0.0.1"),
            client.requestLines.end());
  // The proxy took the request and nginx served it.
  EXPECT_NE(testsupport::ReadFile(Proxy().Log()).find("GET " + url), std::string::npos);
  EXPECT_EQ(client.http.StatusCode(), 200);
}

TEST_F(HttpTinyproxy, PortFromProxyPortWhenTheProxyTextHasNone) {
  Client client;
  client.http.Proxy = "127.0.0.1";
  client.http.ProxyPort = std::to_string(Proxy().Port());
  ASSERT_EQ(client.Get(Web().Url("/dir/")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kIndexPage);
  EXPECT_EQ(client.requestLines[0], "GET " + Web().Url("/dir/") + " HTTP/1.0");
}

TEST_F(HttpTinyproxy, UnreachableTargetGivesTheProxysErrorAnswer) {
  Client client;
  UseProxy(client);
  int code = client.Get("http://127.0.0.1:" + std::to_string(testpeer::UnusedPort()) + "/x");
  EXPECT_GE(code, 500) << client.error;
  EXPECT_LT(code, 600);
  EXPECT_EQ(code, client.http.StatusCode());
  EXPECT_EQ(client.error, client.http.ReasonPhrase());
  EXPECT_FALSE(client.error.empty());
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);  // the proxy answered: the exchange itself worked
}

TEST_F(HttpTinyproxy, RelocationsStayWithTheProxy) {
  Client client;
  UseProxy(client);
  ASSERT_EQ(client.Get(Web().Url("/start")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kFinalPage);
  EXPECT_EQ(client.locations,
            (std::vector<std::string>{Web().Url("/mid"), Web().Url("/final.html")}));

  // A relative value resolves against the current address, as a browser would.
  Client relative;
  UseProxy(relative);
  ASSERT_EQ(relative.Get(Web().Url("/dir/start")), 0) << relative.error;
  EXPECT_EQ(relative.body.Data(), kRelativePage);
  EXPECT_EQ(relative.locations, (std::vector<std::string>{Web().Url("/dir/rel/page.html")}));
}

// ---- HTTPS: nginx with TLS, a plain server relocating to it, tinyproxy
// tunnelling to it, and TLS peers that misbehave

struct TlsServers {
  std::unique_ptr<NginxServer> web;
  std::unique_ptr<NginxServer> relocating;
  std::unique_ptr<NginxServer> expired;
  std::unique_ptr<TinyProxy> proxy;
  std::string error;

  TlsServers() {
    try {
      const auto& certs = testsupport::TestCertificates::Shared();
      web = std::make_unique<NginxServer>();
      web->AddFile("/small.html", kSmallPage);
      web->AddFile("/dir/rel/page.html", kRelativePage);
      web->AddRedirect("/dir/start", 302, "rel/page.html");
      web->UseTls(certs.Valid().cert, certs.Valid().key);
      web->Start();
      relocating = std::make_unique<NginxServer>();
      relocating->UseTls(certs.Valid().cert, certs.Valid().key);
      relocating->RedirectPlainToTls();
      relocating->AddFile("/small.html", kSmallPage);
      relocating->Start();
      expired = std::make_unique<NginxServer>();
      expired->AddFile("/small.html", kSmallPage);
      expired->UseTls(certs.Expired().cert, certs.Expired().key);
      expired->Start();
      proxy = std::make_unique<TinyProxy>();
      proxy->AllowConnectTo(web->TlsPort());
      proxy->Start();
    } catch (const std::exception& e) {
      error = e.what();
      web.reset();
    }
  }
};

TlsServers& SharedTls() {
  static TlsServers servers;
  return servers;
}

class HttpsNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SharedTls().web) GTEST_FAIL() << "TLS fixtures: " << SharedTls().error;
  }
  NginxServer& Web() { return *SharedTls().web; }
  // A client that trusts the test CA.
  static void Trust(Client& client) {
    client.http.SslCAFile = testsupport::TestCertificates::Shared().CaFile().string();
  }
};

TEST_F(HttpsNginx, HttpsAddressesInAnyLetterCaseAreFetchedOverTls) {
  Client client;
  Trust(client);
  const std::string url = "HTTPS" + Web().TlsUrl("/small.html").substr(5);
  ASSERT_EQ(client.Get(url), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.requestLines.front(), "GET /small.html HTTP/1.0");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  // Relative relocations resolve on the https address.
  Client relative;
  Trust(relative);
  ASSERT_EQ(relative.Get(Web().TlsUrl("/dir/start")), 0) << relative.error;
  EXPECT_EQ(relative.body.Data(), kRelativePage);
  EXPECT_EQ(relative.locations, (std::vector<std::string>{Web().TlsUrl("/dir/rel/page.html")}));
}

TEST_F(HttpsNginx, APlainSiteRelocatingToHttpsIsFollowedToItsPort) {
  NginxServer& relocating = *SharedTls().relocating;
  Client client;
  Trust(client);
  ASSERT_EQ(client.Get(relocating.Url("/small.html")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
  EXPECT_EQ(client.locations, (std::vector<std::string>{relocating.TlsUrl("/small.html")}));
}

TEST_F(HttpsNginx, BadCertificatesEndTheRequestWithTheReason) {
  NginxServer& expired = *SharedTls().expired;
  Client client;
  Trust(client);
  EXPECT_EQ(client.Get(expired.TlsUrl("/small.html")), 404);
  EXPECT_EQ(client.error, "TLS certificate not accepted: certificate has expired (Error #" +
                              std::to_string(TlsCertificateExpired) + ")");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, TlsCertificateExpired);

  // Not trusting the private CA: the system's store does not know it.
  Client untrusting;
  EXPECT_EQ(untrusting.Get(Web().TlsUrl("/small.html")), 404);
  EXPECT_NE(untrusting.error.find("unable to get local issuer certificate"), std::string::npos)
      << untrusting.error;

  Client lax;
  lax.http.SslVerifyPeer = false;
  ASSERT_EQ(lax.Get(expired.TlsUrl("/small.html")), 0) << lax.error;
  EXPECT_EQ(lax.body.Data(), kSmallPage);
}

TEST_F(HttpsNginx, TinyproxyTunnelsHttpsAndItsRefusalEndsTheRequest) {
  TinyProxy& proxy = *SharedTls().proxy;
  Client client;
  Trust(client);
  client.http.Proxy = proxy.HostPort();
  client.http.ProxyUsername = "proxyuser";
  client.http.ProxyPassword = "proxysecret";
  ASSERT_EQ(client.Get(Web().TlsUrl("/small.html")), 0) << client.error;
  EXPECT_EQ(client.body.Data(), kSmallPage);
  EXPECT_EQ(client.requestLines.front(), "GET /small.html HTTP/1.0");
  // The proxy's password is for the CONNECT request only, never for the
  // https server at the tunnel's end.
  for (const std::string& line : client.requestLines)
    EXPECT_FALSE(line.starts_with("Proxy-Authorization")) << line;

  // Port not allowed for CONNECT: the proxy's own status and reason.
  Client refused;
  Trust(refused);
  refused.http.Proxy = proxy.HostPort();
  const int status =
      refused.Get("https://127.0.0.1:" + std::to_string(Web().Port()) + "/small.html");
  EXPECT_GE(status, 400);
  EXPECT_EQ(refused.http.StatusCode(), status);
  ASSERT_TRUE(refused.WaitDone());
  EXPECT_EQ(refused.doneError, kHttpErrorTunnelRefused);
}

// The instrumented build takes a smaller file through the same path.
#ifdef TIRASEL_SANITIZE_BUILD
constexpr std::int64_t kLargeTlsFileSize = 16ll << 20;
#else
constexpr std::int64_t kLargeTlsFileSize = 100ll << 20;
#endif

TEST_F(HttpsNginx, LargeBodyOverTlsArrivesWhole) {
  std::uint64_t expected = Web().AddPatternFile("/big.bin", kLargeTlsFileSize, 7);
  Client client;
  Trust(client);
  ASSERT_EQ(client.Get(Web().TlsUrl("/big.bin"), 120000), 0) << client.error;
  EXPECT_FALSE(client.guardFired);
  ASSERT_EQ(static_cast<std::int64_t>(client.body.Data().size()), kLargeTlsFileSize);
  EXPECT_EQ(testsupport::Fnv1a(client.body.Data().data(), client.body.Data().size()), expected);
}

TEST(HttpsPeers, JunkAnswerStallAndCloseWithoutAlertMidBody) {
  const auto& certs = testsupport::TestCertificates::Shared();
  const std::string ca = certs.CaFile().string();
  // Junk in answer to the ClientHello.
  {
    testpeer::LoopbackPeer peer([](int fd, testpeer::LoopbackPeer& p) {
      p.WaitReadable(fd, 5000);
      testpeer::LoopbackPeer::SendAll(fd, "HTTP/1.0 200 OK\r\n\r\nnot TLS at all");
      p.WaitReleased(20000);
    });
    Client client;
    client.http.SslCAFile = ca;
    EXPECT_EQ(client.Get("https://127.0.0.1:" + peer.PortText() + "/"), 404);
    EXPECT_EQ(client.error, WSocketErrorText(TlsPeerSpeaksNoTls) + " (Error #" +
                                std::to_string(TlsPeerSpeaksNoTls) + ")");
    EXPECT_FALSE(client.guardFired);
    peer.Release();
  }
  // A handshake that stalls ends with Abort.
  {
    testpeer::LoopbackPeer peer(testpeer::LoopbackPeer::Hold);
    Client client;
    client.http.SslCAFile = ca;
    client.http.OnStateChange = [&](TObject*) {
      if (client.http.State() == hsResolved) {
        QTimer::singleShot(0, [&] {
          testpeer::WaitUntil([&] { return peer.accepted > 0; });
          client.http.Abort();
        });
      }
    };
    EXPECT_EQ(client.Get("https://127.0.0.1:" + peer.PortText() + "/"), 404);
    EXPECT_EQ(client.error, "Connection aborted on request");
    EXPECT_FALSE(client.guardFired);
    peer.Release();
  }
  // A close without the alert before Content-Length is reached fails the
  // request; without a length the body simply ends there.
  const testsupport::TlsServerSide side(certs.Valid());
  for (bool withLength : {true, false}) {
    testpeer::LoopbackPeer peer([&](int fd, testpeer::LoopbackPeer&) {
      testsupport::TlsStream tls(side, fd);
      if (!tls.Ok()) return;
      tls.ReadHeader();
      tls.Write(std::string("HTTP/1.0 200 OK\r\n") +
                (withLength ? "Content-Length: 1000\r\n" : "") + "\r\npart of the body");
    });
    Client client;
    client.http.SslCAFile = ca;
    const int code = client.Get("https://localhost:" + peer.PortText() + "/");
    EXPECT_EQ(client.body.Data(), "part of the body");
    ASSERT_TRUE(client.WaitDone());
    if (withLength) {
      EXPECT_EQ(code, 404);
      EXPECT_EQ(client.doneError, TlsClosedWithoutAlert);
      EXPECT_NE(client.error.find("without a close alert"), std::string::npos) << client.error;
    } else {
      EXPECT_EQ(code, 0) << client.error;
      EXPECT_EQ(client.doneError, 0);
    }
  }
}

}  // namespace
