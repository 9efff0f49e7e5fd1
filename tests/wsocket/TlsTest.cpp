// The TLS layer: nginx with TLS on loopback and certificates made at test
// time for the handshake, verification and the data path; blocking OpenSSL
// test servers for peers that misbehave; microsocks for TLS in a SOCKS tunnel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "NginxServer.h"
#include "SocketTestHelpers.h"
#include "SocksServers.h"
#include "TlsCertificates.h"
#include "TlsErrors.h"
#include "TlsServerSide.h"
#include "WSocket.h"

using testpeer::LoopbackPeer;
using testpeer::WaitUntil;
using testsupport::TestCertificates;
using testsupport::TlsServerSide;
using testsupport::TlsStream;

namespace {

const TestCertificates& Certs() { return TestCertificates::Shared(); }

// Records the events of a TLS client as lines; the data handler reads at
// most readSize bytes per call into data.
struct TlsClient {
  TWSocket s;
  std::vector<std::string> log;
  std::string data;
  int readSize = 8192;
  bool establishedWhenConnected = false;

  TlsClient() {
    s.OnSessionConnected = [this](TObject*, std::uint16_t e) {
      establishedWhenConnected = s.SslEstablished();
      log.push_back("connected " + std::to_string(e));
    };
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      std::string buf(static_cast<size_t>(readSize), '\0');
      int n = s.Receive(buf.data(), readSize);
      if (n > 0) data.append(buf.data(), static_cast<size_t>(n));
    };
    s.OnDataSent = [this](TObject*, std::uint16_t e) {
      log.push_back("sent " + std::to_string(e));
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) {
      log.push_back("closed " + std::to_string(e));
    };
  }
  void Connect(std::uint16_t port, const std::string& serverName = "localhost",
               bool trustTestCa = true) {
    s.SetSslEnable(true);
    s.SetSslServerName(serverName);
    if (trustTestCa) s.SetSslCAFile(Certs().CaFile().string());
    s.SetAddr("127.0.0.1");
    s.SetPort(std::to_string(port));
    s.SetProto("tcp");
    s.Connect();
  }
  bool Closed() const { return !log.empty() && log.back().starts_with("closed"); }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& l : log) n += l.starts_with(prefix);
    return n;
  }
};

std::string Get(const std::string& path) {
  return "GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
}

testsupport::NginxServer& TlsNginx() {
  static testsupport::NginxServer* web = [] {
    auto* n = new testsupport::NginxServer;
    n->AddFile("/a.txt", "plain text over TLS\n");
    n->UseTls(Certs().Valid().cert, Certs().Valid().key);
    n->Start();
    return n;
  }();
  return *web;
}

}  // namespace

TEST(TlsSocket, HandshakeHoldsBackConnectedThenDataFlowsAndTheCloseComesOnce) {
  TlsClient c;
  c.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    c.establishedWhenConnected = c.s.SslEstablished();
    c.log.push_back("connected " + std::to_string(e));
    if (e == 0) c.s.SendStr(Get("/a.txt"));
  };
  c.Connect(TlsNginx().TlsPort());
  ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
  EXPECT_EQ(c.log, (std::vector<std::string>{"connected 0", "sent 0", "closed 0"}));
  EXPECT_TRUE(c.establishedWhenConnected);
  EXPECT_TRUE(c.data.starts_with("HTTP/1.1 200 OK\r\n")) << c.data;
  EXPECT_TRUE(c.data.ends_with("\r\n\r\nplain text over TLS\n")) << c.data;
}

TEST(TlsSocket, CertificateVerdictsAreCodesWithTheLibrarysReason) {
  struct Row {
    const testsupport::CertificateFiles* files;
    std::string serverName;
    bool trustTestCa;
    int code;
    std::string reason;
  };
  const std::vector<Row> rows = {
      {&Certs().Expired(), "localhost", true, TlsCertificateExpired, "certificate has expired"},
      {&Certs().WrongHost(), "localhost", true, TlsCertificateNameMismatch, "hostname mismatch"},
      {&Certs().SelfSigned(), "localhost", true, TlsCertificateSelfSigned,
       "self-signed certificate"},
      {&Certs().Valid(), "localhost", false, TlsCertificateIssuerUnknown,
       "unable to get local issuer"},
      // An address is checked against the certificate's addresses.
      {&Certs().WrongHost(), "127.0.0.1", true, TlsCertificateAddressMismatch,
       "IP address mismatch"},
      {&Certs().Valid(), "127.0.0.1", true, 0, "No Error"},
      // Names are compared without letter case.
      {&Certs().Valid(), "LocalHost", true, 0, "No Error"},
  };
  for (const Row& row : rows) {
    testsupport::NginxServer web;
    web.UseTls(row.files->cert, row.files->key);
    web.Start();
    TlsClient c;
    c.Connect(web.TlsPort(), row.serverName, row.trustTestCa);
    ASSERT_TRUE(WaitUntil([&] { return !c.log.empty(); }, 10000)) << row.files->cert;
    EXPECT_EQ(c.log.front(), "connected " + std::to_string(row.code)) << row.files->cert;
    EXPECT_NE(WSocketErrorText(row.code).find(row.reason), std::string::npos)
        << WSocketErrorText(row.code);
    if (row.code != 0) {
      ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }));
      EXPECT_EQ(c.log, (std::vector<std::string>{"connected " + std::to_string(row.code),
                                                 "closed " + std::to_string(row.code)}));
    }
    c.s.Close();

    // Without verification the same server is accepted.
    TlsClient lax;
    lax.s.SetSslVerifyPeer(false);
    lax.Connect(web.TlsPort(), row.serverName, false);
    ASSERT_TRUE(WaitUntil([&] { return !lax.log.empty(); }, 10000));
    EXPECT_EQ(lax.log.front(), "connected 0") << row.files->cert;
    lax.s.Close();
  }
}

TEST(TlsSocket, TheSystemTrustStoreHonoursSslCertFile) {
  ::setenv("SSL_CERT_FILE", Certs().CaFile().c_str(), 1);
  TlsClient c;
  c.Connect(TlsNginx().TlsPort(), "localhost", false);
  ASSERT_TRUE(WaitUntil([&] { return !c.log.empty(); }, 10000));
  ::unsetenv("SSL_CERT_FILE");
  EXPECT_EQ(c.log.front(), "connected 0");
}

TEST(TlsSocket, AnUnreadableCaFileFailsTheConnectionWithItsCode) {
  TlsClient c;
  c.s.SetSslCAFile("/nonexistent/ca.pem");
  c.s.SetSslEnable(true);
  c.s.SetAddr("127.0.0.1");
  c.s.SetPort(std::to_string(TlsNginx().TlsPort()));
  c.s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
  EXPECT_EQ(c.log, (std::vector<std::string>{"connected " + std::to_string(TlsCAFileUnreadable),
                                             "closed " + std::to_string(TlsCAFileUnreadable)}));
}

TEST(TlsSocket, PeersThatSpeakNoTlsOrCloseInTheHandshakeFailWithTheirCodes) {
  struct Row {
    LoopbackPeer::Behaviour peer;
    int code;
  };
  std::vector<Row> rows;
  // Junk in answer to the ClientHello; the connection stays open.
  rows.push_back({[](int fd, LoopbackPeer& p) {
                    p.WaitReadable(fd, 5000);
                    LoopbackPeer::SendAll(fd,
                                          "HTTP/1.0 400 Bad Request\r\n\r\n<html>no</html>\r\n");
                    p.WaitReleased(20000);
                  },
                  TlsPeerSpeaksNoTls});
  // Reads the ClientHello and closes.
  rows.push_back({[](int fd, LoopbackPeer& p) {
                    p.WaitReadable(fd, 5000);
                    char buf[4096];
                    ::recv(fd, buf, sizeof buf, 0);
                  },
                  TlsClosedInHandshake});
  for (Row& row : rows) {
    LoopbackPeer peer(row.peer);
    TlsClient c;
    c.Connect(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
    EXPECT_EQ(c.log, (std::vector<std::string>{"connected " + std::to_string(row.code),
                                               "closed " + std::to_string(row.code)}));
    peer.Release();
  }
  // A plain HTTP server answers the ClientHello with an error page.
  testsupport::NginxServer& web = TlsNginx();
  TlsClient c;
  c.Connect(web.Port());
  ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
  EXPECT_EQ(c.log.front(), "connected " + std::to_string(TlsPeerSpeaksNoTls));
}

TEST(TlsSocket, AStalledHandshakeEndsWithCloseOrAbort) {
  for (bool abort : {false, true}) {
    LoopbackPeer peer(LoopbackPeer::Hold);
    TlsClient c;
    c.Connect(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return peer.accepted > 0; }));
    testpeer::PumpFor(100);
    EXPECT_TRUE(c.log.empty());
    if (abort) {
      c.s.Abort();
    } else {
      c.s.Close();
    }
    EXPECT_EQ(c.log, (std::vector<std::string>{"closed 0"}));
    EXPECT_EQ(c.s.State(), wsClosed);
    peer.Release();
  }
}

TEST(TlsSocket, TheEndOfTheStreamIsReportedAfterAllDataAndTellsAlertFromTruncation) {
  const TlsServerSide side(Certs().Valid());
  struct Row {
    bool alert;
    bool keepTcpOpen;
    int code;
  };
  for (const Row row :
       {Row{true, false, 0}, Row{true, true, 0}, Row{false, false, TlsClosedWithoutAlert}}) {
    LoopbackPeer peer([&](int fd, LoopbackPeer& p) {
      TlsStream tls(side, fd);
      if (!tls.Ok()) return;
      tls.Write(std::string(5000, 'x'));
      tls.Write("end");
      if (row.alert) tls.SendCloseAlert();
      if (row.keepTcpOpen) p.WaitReleased(20000);
    });
    TlsClient c;
    c.Connect(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000)) << row.alert << row.keepTcpOpen;
    EXPECT_EQ(c.data, std::string(5000, 'x') + "end");
    EXPECT_EQ(c.log,
              (std::vector<std::string>{"connected 0", "closed " + std::to_string(row.code)}));
    peer.Release();
  }
}

TEST(TlsSocket, BytesTheLibraryHoldsAreDeliveredWithoutFurtherNotifications) {
  // One full record, read in small pieces by a handler; the peer then stays
  // silent with the connection open, so no readiness notification helps.
  const TlsServerSide side(Certs().Valid());
  std::string record;
  for (int i = 0; record.size() < 16000; ++i) record += std::to_string(i) + ",";
  LoopbackPeer peer([&](int fd, LoopbackPeer& p) {
    TlsStream tls(side, fd);
    if (tls.Ok()) tls.Write(record);
    p.WaitReleased(20000);
  });
  TlsClient c;
  c.readSize = 100;
  c.Connect(peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return c.data.size() >= record.size(); }, 10000)) << c.data.size();
  EXPECT_EQ(c.data, record);
  c.s.Close();
  EXPECT_EQ(c.log, (std::vector<std::string>{"connected 0", "closed 0"}));
  peer.Release();
}

TEST(TlsSocket, LineModeSeesDecryptedLines) {
  const TlsServerSide side(Certs().Valid());
  LoopbackPeer peer([&](int fd, LoopbackPeer& p) {
    TlsStream tls(side, fd);
    if (!tls.Ok()) return;
    std::string request = tls.ReadHeader();
    tls.Write("one\r\ntw");
    tls.Write("o\r\nthree\r\n" + request);
    p.WaitReleased(20000);
  });
  TlsClient c;
  std::vector<std::string> lines;
  c.s.SetLineMode(true);
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) { lines.push_back(c.s.ReceiveStr()); };
  c.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    c.log.push_back("connected " + std::to_string(e));
    c.s.SendStr("hello\r\n\r\n");
  };
  c.Connect(peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return lines.size() >= 5; }, 10000));
  EXPECT_EQ(lines,
            (std::vector<std::string>{"one\r\n", "two\r\n", "three\r\n", "hello\r\n", "\r\n"}));
  c.s.Close();
  peer.Release();
}

TEST(TlsSocket, RunsInsideASocksTunnelAndResumesTheSessionNextTime) {
  testsupport::MicroSocks socks;
  socks.Start();
  for (int round = 0; round < 2; ++round) {
    TlsClient c;
    c.s.SetSocksServer("127.0.0.1");
    c.s.SetSocksPort(std::to_string(socks.Port()));
    c.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
      c.log.push_back("connected " + std::to_string(e));
      if (e == 0) c.s.SendStr(Get("/a.txt"));
    };
    c.Connect(TlsNginx().TlsPort());
    ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
    EXPECT_EQ(c.log.front(), "connected 0");
    EXPECT_EQ(c.log.back(), "closed 0");
    EXPECT_GE(c.Count("sent 0"), 1);
    EXPECT_TRUE(c.data.ends_with("plain text over TLS\n")) << c.data;
  }
  // One component keeps the server's session for the next connection.
  TlsClient c;
  for (int round = 0; round < 2; ++round) {
    c.log.clear();
    c.data.clear();
    c.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
      c.log.push_back("connected " + std::to_string(e) +
                      (c.s.SslSessionReused() ? " resumed" : ""));
      if (e == 0) c.s.SendStr(Get("/a.txt"));
    };
    c.Connect(TlsNginx().TlsPort());
    ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000));
    EXPECT_EQ(c.log.front(), round == 0 ? "connected 0" : "connected 0 resumed");
  }
}

// Arbitrary bytes from the peer, in the handshake and after it, then its
// close, end the connection with a TLS code, never a crash or a hang.
TEST(TlsSocket, ArbitraryBytesFromThePeerEndTheConnectionWithACode) {
  const TlsServerSide side(Certs().Valid());
  std::mt19937 random(11);
  for (int round = 0; round < 40; ++round) {
    std::string junk(1 + random() % 3000, '\0');
    for (char& ch : junk) ch = static_cast<char>(random());
    // Rows with a record header in front, so that the record layer goes
    // further before it refuses.
    if (round % 3 == 1) junk = std::string("\x16\x03\x03", 3) + junk;
    if (round % 3 == 2) junk = std::string("\x17\x03\x03\x01\x00", 5) + junk;
    const bool afterHandshake = round % 2 == 1;
    LoopbackPeer peer([&](int fd, LoopbackPeer& p) {
      if (afterHandshake) {
        TlsStream tls(side, fd);
        if (!tls.Ok()) return;
        tls.Write("ok");
      } else {
        p.WaitReadable(fd, 5000);
      }
      LoopbackPeer::SendAll(fd, junk);
    });
    TlsClient c;
    c.Connect(peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return c.Closed(); }, 10000)) << round;
    const std::string closed = c.log.back();
    const int code = std::stoi(closed.substr(7));
    // A peer that closes with our bytes unread resets the connection.
    EXPECT_TRUE(IsTlsErrorCode(code) || code == winsock::WSAECONNRESET) << round << " " << closed;
    EXPECT_EQ(c.Count("closed"), 1);
    EXPECT_EQ(c.log.front(), afterHandshake ? "connected 0" : "connected " + std::to_string(code))
        << round;
    peer.Release();
  }
}
