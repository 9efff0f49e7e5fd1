// The SOCKS client: scripted loopback SOCKS servers for the protocol's
// replies and failures, and real servers (microsocks, dante) in front of a
// loopback echo server.
#include <gtest/gtest.h>

#include <netinet/tcp.h>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "SocksServers.h"
#include "SocketTestHelpers.h"
#include "WSocket.h"

using testpeer::LoopbackPeer;
using testpeer::WaitUntil;

namespace {

using sockettest::StateName;

// Records the events of a SOCKS connection as lines; the data handler reads
// everything into data.
struct SocksRecorder {
  TWSocket& s;
  std::vector<std::string> log;
  std::string data;
  explicit SocksRecorder(TWSocket& sock) : s(sock) {
    s.OnChangeState = [this](TObject*, TSocketState, TSocketState n) {
      log.push_back(std::string("state ") + StateName(n));
    };
    s.OnSocksConnected = [this](TObject*, std::uint16_t e) {
      log.push_back("socks connected " + std::to_string(e));
    };
    s.OnSocksAuthState = [this](TObject*, TSocksAuthState a) {
      static const char* names[] = {"start", "success", "failure", "not required"};
      log.push_back(std::string("auth ") + names[a]);
    };
    s.OnSocksError = [this](TObject*, std::int32_t e, const std::string& msg) {
      log.push_back("socks error " + std::to_string(e) + " " + msg);
    };
    s.OnSessionConnected = [this](TObject*, std::uint16_t e) {
      log.push_back("connected " + std::to_string(e));
    };
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      if (log.back() != "data") log.push_back("data");
      data += s.ReceiveStr();
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) {
      log.push_back("closed " + std::to_string(e));
    };
  }
  ~SocksRecorder() {
    // The socket may outlive the recorder: its later events go nowhere.
    s.OnChangeState = nullptr;
    s.OnSocksConnected = nullptr;
    s.OnSocksAuthState = nullptr;
    s.OnSocksError = nullptr;
    s.OnSessionConnected = nullptr;
    s.OnDataAvailable = nullptr;
    s.OnSessionClosed = nullptr;
  }
  bool Closed() const { return !log.empty() && log.back().rfind("closed", 0) == 0; }
};

using Log = std::vector<std::string>;

void ConnectVia(TWSocket& s, std::uint16_t socksPort, const std::string& level,
                std::uint16_t destPort, const std::string& addr = "127.0.0.1") {
  s.SetSocksServer("127.0.0.1");
  s.SetSocksPort(std::to_string(socksPort));
  s.SetSocksLevel(level);
  s.SetAddr(addr);
  s.SetPort(std::to_string(destPort));
  s.Connect();
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out += static_cast<char>(b);
  return out;
}

// ---- Scripted servers

// Reads exactly n bytes (bounded wait); what was read is kept by the peer.
bool ReadN(int fd, LoopbackPeer& peer, size_t n, std::string* out = nullptr) {
  std::string got;
  char buf[512];
  while (got.size() < n && peer.WaitReadable(fd, 5000)) {
    ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
    if (r <= 0) return false;
    got.append(buf, static_cast<size_t>(r));
  }
  peer.Keep(got.data(), got.size());
  if (out) *out = got;
  return got.size() == n;
}

// Sends the bytes at once, or one at a time (each its own segment, as far
// as the peer's pace allows; the client must cope either way).
void SendReply(int fd, const std::string& bytes, bool oneByteAtATime) {
  if (!oneByteAtATime) {
    LoopbackPeer::SendAll(fd, bytes);
    return;
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  for (char c : bytes) {
    LoopbackPeer::SendAll(fd, std::string(1, c));
    std::this_thread::sleep_for(std::chrono::milliseconds(3));  // pacing only
  }
}

// Waits for the client's close.
void DrainUntilClosed(int fd, LoopbackPeer& peer) {
  char buf[512];
  while (peer.WaitReadable(fd, 5000) && ::recv(fd, buf, sizeof buf, 0) > 0) {
  }
}

struct Socks5Script {
  std::string method = Bytes({5, 0});
  std::string auth = Bytes({1, 0});
  std::string reply = Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0, 80});
  std::string after;  // application bytes sent with the reply
  bool oneByte = false;
};

// A SOCKS 5 server that answers as scripted and then echoes.
LoopbackPeer::Behaviour Socks5Server(Socks5Script script) {
  return [script](int fd, LoopbackPeer& peer) {
    std::string head, methods;
    if (!ReadN(fd, peer, 2, &head) ||
        !ReadN(fd, peer, static_cast<unsigned char>(head[1]), &methods))
      return;
    SendReply(fd, script.method, script.oneByte);
    if (script.method != Bytes({5, 0}) && script.method != Bytes({5, 2}))
      return DrainUntilClosed(fd, peer);
    if (script.method[1] == 2) {
      std::string len, user, pass;
      if (!ReadN(fd, peer, 2, &len) ||
          !ReadN(fd, peer, static_cast<unsigned char>(len[1]), &user) ||
          !ReadN(fd, peer, 1, &len) || !ReadN(fd, peer, static_cast<unsigned char>(len[0]), &pass))
        return;
      SendReply(fd, script.auth, script.oneByte);
      if (script.auth != Bytes({1, 0})) return DrainUntilClosed(fd, peer);
    }
    std::string request, host;
    if (!ReadN(fd, peer, 5, &request) ||
        !ReadN(fd, peer, static_cast<unsigned char>(request[4]) + 2u, &host))
      return;
    SendReply(fd, script.reply + script.after, script.oneByte);
    LoopbackPeer::Echo(fd, peer);
  };
}

// A SOCKS 4 server: reads the request (with the 4A host when the address is
// 0.0.0.x), answers with the reply code and then echoes.
LoopbackPeer::Behaviour Socks4Server(int code) {
  return [code](int fd, LoopbackPeer& peer) {
    std::string head, c;
    if (!ReadN(fd, peer, 8, &head)) return;
    int zeros = head[4] == 0 && head[5] == 0 && head[6] == 0 && head[7] != 0 ? 2 : 1;
    for (int guard = 0; zeros > 0 && guard < 600 && ReadN(fd, peer, 1, &c); ++guard)
      zeros -= c[0] == 0;
    LoopbackPeer::SendAll(fd, Bytes({0, code, 0, 80, 127, 0, 0, 1}));
    LoopbackPeer::Echo(fd, peer);
  };
}

}  // namespace

// ---- Settings --------------------------------------------------------------

TEST(SocksSettings, LevelsAndRefusedOperations) {
  TWSocket s;
  s.SetSocksLevel("4a");
  EXPECT_EQ(s.SocksLevel(), "4A");
  try {
    s.SetSocksLevel("6");
    ADD_FAILURE() << "no error";
  } catch (const ESocketException& e) {
    EXPECT_STREQ(e.what(), "Invalid socks level. Must be 4, 4A or 5.");
  }
  s.SetSocksServer("  127.0.0.1 ");
  EXPECT_EQ(s.SocksServer(), "127.0.0.1");
  s.SetSocksPort("1080");
  s.SetAddr("127.0.0.1");
  s.SetPort("7");
  s.SetProto("udp");
  std::vector<std::string> errors;
  auto expectError = [&](const std::function<void()>& f, const std::string& text) {
    try {
      f();
      ADD_FAILURE() << "no error for " << text;
    } catch (const ESocketException& e) {
      EXPECT_EQ(e.what(), text);
    }
  };
  expectError([&] { s.Connect(); }, "tcp is the only protocol supported thru socks server");
  expectError([&] { s.Listen(); }, "listening is not supported thru socks server");
  EXPECT_EQ(s.State(), wsClosed);
}

// ---- SOCKS 5 ---------------------------------------------------------------

TEST(Socks5, AuthenticatedConnectionInOrderWithTheExactRequests) {
  Socks5Script script;
  script.method = Bytes({5, 2});
  LoopbackPeer server(Socks5Server(script));
  TWSocket s;
  SocksRecorder r(s);
  s.SetSocksAuthentication(socksAuthenticateUsercode);
  s.SetSocksUsercode("user");
  s.SetSocksPassword("pass");
  ConnectVia(s, server.Port(), "5", 0x1234);
  ASSERT_TRUE(WaitUntil([&] { return r.log.back() == "data"; }));
  EXPECT_EQ(r.log, (Log{"state opened", "state connecting", "state connected", "socks connected 0",
                        "auth start", "auth success", "connected 0", "data"}));
  EXPECT_EQ(server.Received(), Bytes({5, 1, 2}) + Bytes({1, 4}) + "user" + Bytes({4}) + "pass" +
                                   Bytes({5, 1, 0, 3, 9}) + "127.0.0.1" + Bytes({0x12, 0x34}));
  s.SendStr("both ways");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "both ways"; }));
  s.Close();
  EXPECT_EQ(s.SocksServer(), "");
  EXPECT_EQ(s.SocksLevel(), "5");
  EXPECT_EQ(s.SocksUsercode(), "user");  // credentials stay
}

TEST(Socks5, RepliesArrivingOneByteAtATime) {
  Socks5Script script;
  script.method = Bytes({5, 2});
  script.reply = Bytes({5, 0, 0, 3, 9}) + "localhost" + Bytes({0, 80});
  script.after = "tail";
  script.oneByte = true;
  LoopbackPeer server(Socks5Server(script));
  TWSocket s;
  SocksRecorder r(s);
  s.SetSocksAuthentication(socksAuthenticateUsercode);
  ConnectVia(s, server.Port(), "5", 80);
  ASSERT_TRUE(WaitUntil([&] { return r.data == "tail"; }));
  EXPECT_EQ(std::count(r.log.begin(), r.log.end(), "connected 0"), 1);
  EXPECT_EQ(std::count(r.log.begin(), r.log.end(), "auth success"), 1);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(Socks5, ServerNeedsNoAuthentication) {
  LoopbackPeer server(Socks5Server({}));
  TWSocket s;
  SocksRecorder r(s);
  s.SetSocksAuthentication(socksAuthenticateUsercode);
  ConnectVia(s, server.Port(), "5", 80);
  ASSERT_TRUE(WaitUntil([&] { return r.log.back() == "data"; }));
  EXPECT_EQ(r.log, (Log{"state opened", "state connecting", "state connected", "socks connected 0",
                        "auth not required", "connected 0", "data"}));
}

TEST(Socks5, LeftoverDataAfterTheReplyComesFirst) {
  Socks5Script script;
  script.after = "hello";
  LoopbackPeer server(Socks5Server(script));
  TWSocket s;
  SocksRecorder r(s);
  std::int32_t waiting = -1;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    if (waiting < 0) waiting = s.RcvdCount();
    char buf[3];  // small reads: the leftover is handed out in order
    int n;
    while ((n = s.Receive(buf, sizeof buf)) > 0) r.data.append(buf, static_cast<size_t>(n));
  };
  ConnectVia(s, server.Port(), "5", 80);
  ASSERT_TRUE(WaitUntil([&] { return r.data == "hello"; }));
  EXPECT_EQ(waiting, 5);
  s.SendStr(" again");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "hello again"; }));

  // In line mode the leftover goes through the line assembly too.
  script.after = "one\r\ntw";
  LoopbackPeer lineServer(Socks5Server(script));
  TWSocket t;
  std::vector<std::string> lines;
  t.SetLineMode(true);
  t.OnDataAvailable = [&](TObject*, std::uint16_t) { lines.push_back(t.ReceiveStr()); };
  ConnectVia(t, lineServer.Port(), "5", 80);
  ASSERT_TRUE(WaitUntil([&] { return lines.size() == 1 && t.State() == wsConnected; }));
  t.SendStr("o\r\n");  // echoed: completes the second line
  ASSERT_TRUE(WaitUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "two\r\n"}));
}

TEST(Socks5, EveryFailureClosesWithItsCodeAndText) {
  struct Case {
    Socks5Script script;
    bool auth;
    int code;
    std::string text;
  };
  std::vector<Case> cases;
  const std::pair<int, const char*> fieldFailures[] = {
      {SocksServerFailure, "general SOCKS server failure"},
      {SocksNotAllowedByRuleset, "connection not allowed by ruleset"},
      {SocksNetworkUnreachable, "network unreachable"},
      {SocksHostUnreachable, "host unreachable"},
      {SocksConnectionRefused, "connection refused"},
      {SocksTtlExpired, "time to live expired"},
      {SocksCommandNotSupported, "command not supported"},
      {SocksAddressTypeNotSupported, "address type not supported"},
      {SocksUnassignedReply, "unassigned error #9"}};
  for (int field = 1; field <= 9; ++field) {
    Case c{{}, false, fieldFailures[field - 1].first, fieldFailures[field - 1].second};
    c.script.reply = Bytes({5, field, 0, 1, 127, 0, 0, 1, 0, 80});
    cases.push_back(c);
  }
  Case method{{}, false, SocksMethodNotAcceptable, "authentification method not acceptable"};
  method.script.method = Bytes({5, 255});
  cases.push_back(method);
  Case version{{}, false, SocksVersionError, "socks version error"};
  version.script.method = Bytes({4, 0});
  cases.push_back(version);
  Case replyVersion{{}, false, SocksVersionError, "socks version error"};
  replyVersion.script.reply = Bytes({4, 0, 0, 1, 127, 0, 0, 1, 0, 80});
  cases.push_back(replyVersion);
  Case ipv6{{}, false, SocksAddressTypeNotSupported, "address type not supported"};
  ipv6.script.reply = Bytes({5, 0, 0, 4}) + std::string(18, '\0');
  cases.push_back(ipv6);
  Case authFailed{{}, true, SocksAuthenticationFailed, "socks authentication failed"};
  authFailed.script.method = Bytes({5, 2});
  authFailed.script.auth = Bytes({1, 1});
  cases.push_back(authFailed);
  Case authLong{{}, true, SocksLogicError, "too much data availaible"};
  authLong.script.method = Bytes({5, 2});
  authLong.script.auth = Bytes({1, 0, 0});
  cases.push_back(authLong);
  Case authVersion{{}, true, SocksVersionError, "socks version error"};
  authVersion.script.method = Bytes({5, 2});
  authVersion.script.auth = Bytes({5, 0});
  cases.push_back(authVersion);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    LoopbackPeer server(Socks5Server(c.script));
    TWSocket s;
    SocksRecorder r(s);
    if (c.auth) s.SetSocksAuthentication(socksAuthenticateUsercode);
    ConnectVia(s, server.Port(), "5", 80);
    ASSERT_TRUE(WaitUntil([&] { return r.Closed(); }));
    const std::string code = std::to_string(c.code);
    Log tail{"socks error " + code + " " + c.text, "connected " + code, "state closed",
             "closed " + code};
    if (c.auth) {
      // The close in the authentication phase reports the failure once more.
      tail.insert(tail.begin(), "auth failure");
      tail.insert(tail.end() - 1, "auth failure");
    }
    ASSERT_GE(r.log.size(), tail.size());
    EXPECT_EQ(Log(r.log.end() - static_cast<long>(tail.size()), r.log.end()), tail);
    EXPECT_EQ(s.SocksServer(), "");
  }
}

// ---- SOCKS 4 and 4A ----------------------------------------------------------

TEST(Socks4, RequestsAndReplyCodes) {
  {
    LoopbackPeer server(Socks4Server(90));
    TWSocket s;
    SocksRecorder r(s);
    s.SetSocksUsercode("ab");
    ConnectVia(s, server.Port(), "4", 80);
    ASSERT_TRUE(WaitUntil([&] { return r.log.back() == "data"; }));
    EXPECT_EQ(server.Received(), Bytes({4, 1, 0, 80, 127, 0, 0, 1, 'a', 'b', 0}));
    EXPECT_EQ(r.log, (Log{"state opened", "state connecting", "state connected",
                          "socks connected 0", "connected 0", "data"}));
    s.SendStr("echo");
    ASSERT_TRUE(WaitUntil([&] { return r.data == "echo"; }));
  }
  {
    LoopbackPeer server(Socks4Server(90));
    TWSocket s;
    SocksRecorder r(s);
    s.SetSocksUsercode("ab");
    ConnectVia(s, server.Port(), "4A", 80, "localhost");
    ASSERT_TRUE(WaitUntil([&] { return r.log.back() == "data"; }));
    EXPECT_EQ(server.Received(),
              Bytes({4, 1, 0, 80, 0, 0, 0, 1, 'a', 'b', 0}) + "localhost" + Bytes({0}));
  }
  const std::vector<std::pair<int, std::string>> failures = {
      {91, "20016 request rejected or failed"},
      {92, "20008 connection refused"},
      {93, "20015 authentification failed"},
      {42, "20012 unassigned error #42"}};
  for (const auto& [reply, expected] : failures) {
    LoopbackPeer server(Socks4Server(reply));
    TWSocket s;
    SocksRecorder r(s);
    ConnectVia(s, server.Port(), "4", 80);
    ASSERT_TRUE(WaitUntil([&] { return r.Closed(); }));
    const std::string code = expected.substr(0, 5);
    EXPECT_EQ(
        Log(r.log.end() - 4, r.log.end()),
        (Log{"socks error " + expected, "connected " + code, "state closed", "closed " + code}));
  }
}

TEST(Socks4, UnresolvableDestinationFailsWithoutSessionConnected) {
  LoopbackPeer server(LoopbackPeer::Hold);
  TWSocket s;
  SocksRecorder r(s);
  ConnectVia(s, server.Port(), "4", 80, "no-such-host.invalid");
  ASSERT_TRUE(WaitUntil([&] { return r.Closed(); }, 15000));
  EXPECT_EQ(r.log,
            (Log{"state opened", "state connecting", "state connected", "socks connected 0",
                 "socks error 20017 ESocketException WSocketResolveHost: Cannot convert host "
                 "address 'no-such-host.invalid'",
                 "state closed", "closed 20017"}));
  server.Release();
}

// ---- Hostile or broken servers -------------------------------------------------

TEST(SocksBadInput, GarbageTooLongTooShortAndClosingServersFailCleanly) {
  struct Case {
    const char* name;
    LoopbackPeer::Behaviour server;
    std::string expected;
  };
  Socks5Script longName;
  longName.reply = Bytes({5, 0, 0, 3, 200}) + std::string(200, 'n') + Bytes({0, 80});
  Socks5Script shortReply;
  shortReply.reply = Bytes({5, 0, 0});
  std::vector<Case> cases = {
      {"garbage", LoopbackPeer::SendAndClose("HTTP/1.0 400 Bad Request\r\n\r\n"),
       "20002 socks version error"},
      {"bound name longer than the reply area", Socks5Server(longName), "20013 internal error"},
      {"short reply, then close",
       [shortReply](int fd, LoopbackPeer& peer) {
         std::string req;
         ReadN(fd, peer, 3, &req);
         LoopbackPeer::SendAll(fd, Bytes({5, 0}));
         ReadN(fd, peer, 7 + 9, &req);
         LoopbackPeer::SendAll(fd, shortReply.reply);
       },
       "20004 general SOCKS server failure"},
      {"closes at once", [](int, LoopbackPeer&) {}, "20004 general SOCKS server failure"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackPeer server(c.server);
    TWSocket s;
    SocksRecorder r(s);
    ConnectVia(s, server.Port(), "5", 80);
    ASSERT_TRUE(WaitUntil([&] { return r.Closed(); }));
    const std::string code = c.expected.substr(0, 5);
    EXPECT_EQ(
        Log(r.log.end() - 4, r.log.end()),
        (Log{"socks error " + c.expected, "connected " + code, "state closed", "closed " + code}));
  }
}

TEST(SocksBadInput, RequestsThatDoNotFitFailBeforeSending) {
  struct Case {
    const char* level;
    std::string addr, user;
    bool auth;
  };
  const std::vector<Case> cases = {
      {"5", std::string(122, 'h'), "", false},  // 7 + 122 bytes
      {"4A", std::string(60, 'h'), std::string(60, 'u'), false},
      {"5", "127.0.0.1", std::string(130, 'u'), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level + std::string(" ") + std::to_string(c.addr.size()));
    Socks5Script script;
    script.method = Bytes({5, 2});
    LoopbackPeer server(std::string(c.level) == "5" ? Socks5Server(script) : LoopbackPeer::Collect);
    TWSocket s;
    SocksRecorder r(s);
    s.SetSocksUsercode(c.user);
    if (c.auth) s.SetSocksAuthentication(socksAuthenticateUsercode);
    ConnectVia(s, server.Port(), c.level, 80, c.addr);
    ASSERT_TRUE(WaitUntil([&] { return r.Closed(); }));
    EXPECT_TRUE(std::count(r.log.begin(), r.log.end(), "socks error 20013 internal error") == 1);
    EXPECT_EQ(r.log.back(), "closed 20013");
  }
}

TEST(SocksBadInput, AServerThatNeverAnswersLeavesTheWaitToTheCaller) {
  LoopbackPeer server(LoopbackPeer::Hold);
  TWSocket s;
  SocksRecorder r(s);
  bool connected = false;
  s.OnSessionConnected = [&](TObject*, std::uint16_t) { connected = true; };
  s.SetSyncTimeout(300);
  EXPECT_EQ(s.RunAndWait([&] { ConnectVia(s, server.Port(), "5", 80); }, connected),
            SyncWaitFailed);
  EXPECT_FALSE(connected);
  s.Abort();
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.SocksServer(), "");
  server.Release();
}

// ---- Real servers --------------------------------------------------------------

namespace {

// Connects through the SOCKS server to an echo server and checks that data
// goes both ways; returns the recorded events.
Log EchoThrough(std::uint16_t socksPort, const std::string& level, const std::string& user = "",
                const std::string& password = "", const std::string& addr = "127.0.0.1") {
  LoopbackPeer echo(LoopbackPeer::Echo);
  TWSocket s;
  SocksRecorder r(s);
  if (!user.empty()) {
    s.SetSocksAuthentication(socksAuthenticateUsercode);
    s.SetSocksUsercode(user);
    s.SetSocksPassword(password);
  }
  ConnectVia(s, socksPort, level, echo.Port(), addr);
  EXPECT_TRUE(WaitUntil(
      [&] { return (s.State() == wsConnected && r.log.back() == "data") || r.Closed(); }, 10000));
  if (s.State() == wsConnected) {
    const std::string payload(20000, 'p');
    s.SendStr("through the proxy " + payload);
    EXPECT_TRUE(WaitUntil([&] { return r.data.size() == 18 + payload.size(); }, 10000));
    EXPECT_EQ(r.data, "through the proxy " + payload);
    EXPECT_EQ(echo.received, static_cast<std::int64_t>(18 + payload.size()));
    s.Close();
  }
  return r.log;
}

}  // namespace

TEST(SocksRealServers, MicrosocksWithoutAndWithAuthentication) {
  testsupport::MicroSocks open;
  ASSERT_NO_THROW(open.Start());
  Log log = EchoThrough(open.Port(), "5");
  EXPECT_NE(std::find(log.begin(), log.end(), "connected 0"), log.end());

  testsupport::MicroSocks guarded("tirasel", "secret");
  ASSERT_NO_THROW(guarded.Start());
  log = EchoThrough(guarded.Port(), "5", "tirasel", "secret");
  EXPECT_NE(std::find(log.begin(), log.end(), "auth success"), log.end());
  log = EchoThrough(guarded.Port(), "5", "tirasel", "wrong");
  EXPECT_NE(std::find(log.begin(), log.end(), "socks error 20015 socks authentication failed"),
            log.end());
  EXPECT_EQ(log.back(), "closed 20015");
  log = EchoThrough(guarded.Port(), "5");  // no credentials offered
  EXPECT_EQ(log.back(), "closed 20003");
}

TEST(SocksRealServers, DanteWithSocks4And5) {
  testsupport::DanteServer dante;
  ASSERT_NO_THROW(dante.Start());
  for (const char* level : {"5", "4"}) {
    SCOPED_TRACE(level);
    Log log = EchoThrough(dante.Port(), level);
    EXPECT_NE(std::find(log.begin(), log.end(), "connected 0"), log.end());
  }
  // dante knows no 4A: it takes 0.0.0.1 for the destination and refuses.
  Log log = EchoThrough(dante.Port(), "4A", "", "", "localhost");
  EXPECT_EQ(log.back(), "closed 20016");
}
