// Listening, adopted and datagram sockets, pausing, and the addresses of
// both ends, between components on 127.0.0.1.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <memory>
#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "SocketTestHelpers.h"
#include "WSocket.h"

using testpeer::WaitUntil;

namespace {

using sockettest::ErrorOf;

// A component whose data handler keeps what it reads.
struct Endpoint {
  TWSocket s;
  std::string data;
  int dataEvents = 0;
  bool closed = false;
  Endpoint() {
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      ++dataEvents;
      data += s.ReceiveStr();
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t) { closed = true; };
  }
};

std::string LocalPortOf(TWSocket& s) {
  sockaddr_in name{};
  int len = sizeof name;
  if (s.GetSockName(name, len) != 0) return "error";
  return std::to_string(ntohs(name.sin_port));
}

}  // namespace

TEST(ListenSocket, AcceptsSeveralClientsAdoptedByOtherComponents) {
  TWSocket server;
  std::vector<std::string> states;
  server.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
    states.push_back(std::to_string(n));
  };
  std::vector<std::unique_ptr<Endpoint>> served;
  server.OnSessionAvailable = [&](TObject*, std::uint16_t e) {
    EXPECT_EQ(e, 0);
    served.push_back(std::make_unique<Endpoint>());
    served.back()->s.Dup(server.Accept());
  };
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.Listen();
  EXPECT_EQ(states,
            (std::vector<std::string>{std::to_string(wsBound), std::to_string(wsListening)}));
  const std::string port = server.GetBoundPort();
  ASSERT_NE(port, "error");
  EXPECT_NE(port, "0");
  EXPECT_EQ(server.PeerAddr(), "error");
  EXPECT_EQ(server.PeerPort(), "error");
  sockaddr_in peer{};
  EXPECT_EQ(server.GetPeerName(peer, sizeof peer), -1);

  constexpr int kClients = 3;
  Endpoint clients[kClients];
  for (auto& c : clients) {
    c.s.SetAddr("127.0.0.1");
    c.s.SetPort(port);
    c.s.Connect();
  }
  ASSERT_TRUE(WaitUntil([&] {
    if (served.size() != kClients) return false;
    for (auto& c : clients)
      if (c.s.State() != wsConnected) return false;
    return true;
  }));
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(served[i]->s.State(), wsConnected);
    EXPECT_EQ(served[i]->s.PeerAddr(), "127.0.0.1");
    clients[i].s.SendStr("client " + std::to_string(i));
  }
  // Each adopted component talks to exactly one client; match them by port.
  ASSERT_TRUE(WaitUntil([&] {
    for (auto& s : served)
      if (s->data.size() != 8) return false;
    return true;
  }));
  for (auto& s : served) {
    const std::string peerPort = s->s.PeerPort();
    int owner = -1;
    for (int i = 0; i < kClients; ++i)
      if (LocalPortOf(clients[i].s) == peerPort) owner = i;
    ASSERT_GE(owner, 0);
    EXPECT_EQ(s->data, "client " + std::to_string(owner));
    s->s.SendStr("served " + std::to_string(owner));
  }
  ASSERT_TRUE(WaitUntil([&] {
    for (auto& c : clients)
      if (c.data.size() != 8) return false;
    return true;
  }));
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(clients[i].data, "served " + std::to_string(i));

  served[0]->s.Close();
  ASSERT_TRUE(WaitUntil([&] { return clients[0].closed; }));
  server.Close();
  EXPECT_EQ(server.State(), wsClosed);
}

TEST(ListenSocket, ReportsItsFailuresWithTheirTexts) {
  TWSocket s;
  s.SetPort("0");
  s.SetAddr("");
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
            "Error 10022 in function listen: address not assigned\r\nInvalid argument");
  s.SetAddr("127.0.0.1");
  s.SetPort("no-such-service");
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }),
            "listen: WSocketResolvePort: Cannot convert port 'no-such-service'");
  EXPECT_EQ(ErrorOf([&] { s.Dup(0); }), "Error 10022 in function Dup\r\nInvalid argument");
  EXPECT_EQ(s.State(), wsClosed);

  TWSocket first;
  first.SetAddr("127.0.0.1");
  first.SetPort("0");
  first.Listen();
  s.SetPort(first.GetBoundPort());
  const int open = winsock::OpenSocketCount();
  EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.GetBoundPort(), "error");
  EXPECT_EQ(winsock::OpenSocketCount(), open);  // nothing left behind by the failure
}

TEST(DatagramSocket, APairExchangesDatagrams) {
  Endpoint a;
  std::vector<std::string> aEvents;
  a.s.OnChangeState = [&](TObject*, TSocketState, TSocketState n) {
    aEvents.push_back("state " + std::to_string(n));
  };
  a.s.OnSessionConnected = [&](TObject*, std::uint16_t e) {
    aEvents.push_back("connected " + std::to_string(e));
  };
  std::vector<std::pair<std::string, sockaddr_in>> received;
  a.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[2048];
    sockaddr_in from{};
    int fromLen = sizeof from;
    int n = a.s.ReceiveFrom(buf, sizeof buf, from, fromLen);
    if (n >= 0) received.emplace_back(std::string(buf, static_cast<size_t>(n)), from);
  };
  a.s.SetAddr("127.0.0.1");
  a.s.SetPort("0");
  a.s.SetProto("udp");
  a.s.Listen();
  EXPECT_EQ(aEvents, (std::vector<std::string>{
                         "state " + std::to_string(wsBound), "state " + std::to_string(wsListening),
                         "state " + std::to_string(wsConnected), "connected 0"}));
  const std::string port = a.s.GetBoundPort();
  ASSERT_NE(port, "error");

  Endpoint b;
  b.s.SetAddr("127.0.0.1");
  b.s.SetPort(port);
  b.s.SetProto("udp");
  b.s.Connect();
  ASSERT_EQ(b.s.State(), wsConnected);
  b.s.SendStr("first");
  b.s.SendStr("second datagram");
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 2; }));
  EXPECT_EQ(received[0].first, "first");  // boundaries kept
  EXPECT_EQ(received[1].first, "second datagram");
  EXPECT_EQ(a.s.ReadCount(), 20);
  const sockaddr_in from = received[0].second;
  EXPECT_EQ(std::to_string(ntohs(from.sin_port)), b.s.GetBoundPort());
  EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));

  const std::string answer = "pong";
  EXPECT_EQ(a.s.SendTo(from, sizeof from, answer.data(), static_cast<int>(answer.size())), 4);
  ASSERT_TRUE(WaitUntil([&] { return b.data == "pong"; }));
  a.s.Close();
  b.s.Close();
}

TEST(PausedSocket, NotificationsAreDroppedUntilResume) {
  TWSocket server;
  Endpoint served;
  server.OnSessionAvailable = [&](TObject*, std::uint16_t) { served.s.Dup(server.Accept()); };
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.Listen();
  Endpoint client;
  client.s.SetAddr("127.0.0.1");
  client.s.SetPort(server.GetBoundPort());
  client.s.Connect();
  ASSERT_TRUE(WaitUntil(
      [&] { return served.s.State() == wsConnected && client.s.State() == wsConnected; }));

  // A read notification already queued when Pause is called is ignored
  // when it arrives, and no new one comes while paused.
  PostMessage(client.s.Handle(), WM_SOCKET_NOTIFY, static_cast<WPARAM>(client.s.HSocket()), 1);
  EXPECT_EQ(client.s.Pause(), 0);
  served.s.SendStr("while paused");
  ASSERT_TRUE(WaitUntil([&] { return client.s.RcvdCount() == 12; }));
  testpeer::PumpFor(100);
  EXPECT_EQ(client.dataEvents, 0);
  EXPECT_EQ(client.s.Resume(), 0);
  ASSERT_TRUE(WaitUntil([&] { return client.data == "while paused"; }));

  // A paused listening socket accepts again after Resume.
  EXPECT_EQ(server.Pause(), 0);
  Endpoint late;
  late.s.SetAddr("127.0.0.1");
  late.s.SetPort(server.GetBoundPort());
  late.s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return late.s.State() == wsConnected; }));
  testpeer::PumpFor(100);
  EXPECT_EQ(served.s.PeerPort(), LocalPortOf(client.s));  // not yet taken over
  EXPECT_EQ(server.Resume(), 0);
  ASSERT_TRUE(WaitUntil([&] { return served.s.PeerPort() == LocalPortOf(late.s); }));
  server.Close();
}
