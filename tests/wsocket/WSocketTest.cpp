#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "LoopbackPeer.h"
#include "SocketTestHelpers.h"
#include "WSocket.h"

using testpeer::LoopbackPeer;
using testpeer::WaitUntil;

namespace {

using sockettest::ErrorOf;
using sockettest::StateName;

// Records every event of a socket as a line of text, and keeps what
// OnDataAvailable reads.
struct Recorder {
  TWSocket& s;
  std::vector<std::string> log;
  std::string data;
  bool readInHandler = true;

  explicit Recorder(TWSocket& sock) : s(sock) {
    s.OnChangeState = [this](TObject* sender, TSocketState o, TSocketState n) {
      EXPECT_EQ(sender, &s);
      log.push_back(std::string("state ") + StateName(o) + ">" + StateName(n));
    };
    s.OnSessionConnected = [this](TObject*, std::uint16_t e) {
      log.push_back("connected " + std::to_string(e) + " in " + StateName(s.State()));
    };
    s.OnDataAvailable = [this](TObject*, std::uint16_t e) {
      if (log.empty() || log.back() != "data " + std::to_string(e))
        log.push_back("data " + std::to_string(e));
      if (!readInHandler) return;
      char buf[8192];
      int n = s.Receive(buf, sizeof buf);
      if (n > 0) data.append(buf, static_cast<size_t>(n));
    };
    s.OnDataSent = [this](TObject*, std::uint16_t e) {
      log.push_back("sent " + std::to_string(e));
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) {
      log.push_back("closed " + std::to_string(e) + " in " + StateName(s.State()));
    };
    s.OnDnsLookupDone = [this](TObject*, std::uint16_t e) {
      log.push_back("dns " + std::to_string(e));
    };
  }
  ~Recorder() {
    // The socket may outlive the recorder: its later events go nowhere.
    s.OnChangeState = nullptr;
    s.OnSessionConnected = nullptr;
    s.OnDataAvailable = nullptr;
    s.OnDataSent = nullptr;
    s.OnSessionClosed = nullptr;
    s.OnDnsLookupDone = nullptr;
  }
  int Count(const std::string& line) const {
    int n = 0;
    for (auto& l : log) n += l == line;
    return n;
  }
  bool Has(const std::string& line) const { return Count(line) > 0; }
};

void ConnectTo(TWSocket& s, std::uint16_t port) {
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(port));
  s.SetProto("tcp");
  s.Connect();
}

}  // namespace

TEST(WSocketClient, ConnectionEventOrderSendReceiveAndLocalClose) {
  LoopbackPeer peer(LoopbackPeer::Echo);
  TWSocket s;
  Recorder r(s);
  s.DnsLookup("127.0.0.1");  // a dotted address answers at once
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 0"});
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  EXPECT_TRUE(s.DnsResultList().empty());
  r.log.clear();

  ConnectTo(s, peer.Port());
  EXPECT_EQ(r.log, (std::vector<std::string>{"state closed>opened", "state opened>connecting"}));
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  EXPECT_EQ(r.log, (std::vector<std::string>{"state closed>opened", "state opened>connecting",
                                             "state connecting>connected",
                                             "connected 0 in connected", "sent 0"}));
  EXPECT_EQ(s.PeerAddr(), "127.0.0.1");
  EXPECT_EQ(s.PeerPort(), peer.PortText());
  r.log.clear();

  EXPECT_EQ(s.SendStr("hello"), 5);
  EXPECT_TRUE(r.log.empty());  // OnDataSent only from the message loop
  ASSERT_TRUE(WaitUntil([&] { return r.data == "hello"; }));
  EXPECT_EQ(r.Count("sent 0"), 1);
  EXPECT_EQ(s.ReadCount(), 5);
  r.log.clear();

  s.Close();
  EXPECT_EQ(r.log, (std::vector<std::string>{"state connected>closed", "closed 0 in closed"}));
  EXPECT_EQ(s.Proto(), "tcp");
  EXPECT_EQ(s.ReadCount(), 0);
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocketClient, RefusedConnectFiresConnectedWithTheCodeThenTheCloseSequence) {
  TWSocket s;
  Recorder r(s);
  ConnectTo(s, testpeer::UnusedPort());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("closed 0 in closed"); }));
  EXPECT_EQ(r.log,
            (std::vector<std::string>{"state closed>opened", "state opened>connecting",
                                      "state connecting>connected", "connected 10061 in connected",
                                      "state connected>closed", "closed 0 in closed"}));
  testpeer::PumpFor(50);
  EXPECT_EQ(r.log.size(), 6u);
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClient, PeerDataThenCloseArrivesCompleteBeforeOneSessionClosed) {
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload.push_back(static_cast<char>('a' + i % 26));
  LoopbackPeer peer(LoopbackPeer::SendAndClose(payload));
  TWSocket s;
  Recorder r(s);
  int closedAt = -1;
  size_t bytesAtClose = 0;
  s.OnSessionClosed = [&](TObject*, std::uint16_t e) {
    closedAt = static_cast<int>(r.log.size());
    bytesAtClose = r.data.size();
    r.log.push_back("closed " + std::to_string(e) + " in " + StateName(s.State()));
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed && closedAt >= 0; }, 10000));
  EXPECT_EQ(r.log[static_cast<size_t>(closedAt)], "closed 0 in connected");
  EXPECT_EQ(r.Count("closed 0 in connected"), 1);
  EXPECT_EQ(bytesAtClose, payload.size());
  EXPECT_EQ(r.data, payload);
  EXPECT_EQ(r.log.back(), "state connected>closed");
}

TEST(WSocketClient, DataWithoutAHandlerIsReadAndDiscarded) {
  LoopbackPeer peer(LoopbackPeer::SendAndClose(std::string(5000, 'z')));
  TWSocket s;
  Recorder r(s);
  s.OnDataAvailable = nullptr;
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("closed 0 in connected"); }));
  EXPECT_EQ(s.State(), wsClosed);
}

TEST(WSocketClient, ResetFoundWhileSendingClosesWithTheCode) {
  LoopbackPeer peer(LoopbackPeer::ResetWhenReleased);
  TWSocket s;
  Recorder r(s);
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  peer.Release();
  // Wait for the reset to arrive, without handling its notification.
  pollfd p{s.HSocket(), POLLIN | POLLRDHUP, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  r.log.clear();
  int sent = s.SendStr("data after the reset");
  EXPECT_EQ(sent, 20);
  EXPECT_EQ(r.log, (std::vector<std::string>{"state connected>closed", "closed 10054 in closed"}));
  testpeer::PumpFor(50);
  EXPECT_EQ(r.log.size(), 2u);
}

TEST(WSocketClient, LargeSendDrainsOverWriteNotificationsWithOneDataSent) {
  LoopbackPeer peer(LoopbackPeer::ReadWhenReleased);
  TWSocket s;
  Recorder r(s);
  s.SetLingerOnOff(wsLingerOff);  // a graceful close, so queued bytes still arrive
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  r.log.clear();
  std::string big(8 * 1024 * 1024, '\0');
  std::uint64_t sum = 0;
  for (size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<char>((i * 7919) >> 3);
    sum = sum * 31 + static_cast<unsigned char>(big[i]);
  }
  EXPECT_EQ(s.Send(big.data(), static_cast<int>(big.size())), static_cast<int>(big.size()));
  EXPECT_GT(s.BufferedByteCount(), 0);  // the platform took only part of it
  EXPECT_GT(s.SendQueueBlockCount(), 1u);
  testpeer::PumpFor(100);
  EXPECT_FALSE(r.Has("sent 0"));
  peer.Release();
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }, 20000));
  EXPECT_EQ(s.BufferedByteCount(), 0);
  EXPECT_EQ(s.SendQueueBlockCount(), 1u);  // the drained last block is kept
  testpeer::PumpFor(50);
  EXPECT_EQ(r.Count("sent 0"), 1);
  s.Close();
  ASSERT_TRUE(WaitUntil([&] { return peer.done.load(); }, 20000));
  EXPECT_EQ(peer.received.load(), static_cast<std::int64_t>(big.size()));
  EXPECT_EQ(peer.checksum.load(), sum);
}

TEST(WSocketClient, SendQueueBlocksAreFixedSize) {
  LoopbackPeer peer(LoopbackPeer::ReadWhenReleased);
  TWSocket s;
  Recorder r(s);
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  // Zero bytes on a queue that never held a block: nothing is posted.
  EXPECT_EQ(s.Send("", 0), 0);
  r.log.clear();
  testpeer::PumpFor(30);
  EXPECT_TRUE(r.log.empty());
  EXPECT_FALSE(s.SendQueueEmpty());
  std::string data(3000, 'q');
  s.SendStr(data);
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  r.log.clear();
  EXPECT_EQ(s.Send("", 0), 0);  // now the drained block exists: OnDataSent
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  peer.Release();
}

TEST(WSocketErrors, PreconditionsReportThroughOnErrorOrException) {
  TWSocket s;
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Port Specified");
  s.SetPort("80");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
  s.SetAddr("127.0.0.1");
  s.SetProto("");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No Protocol Specified");
  s.SetProto("bogus");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "connect: WSocketResolveProto: Cannot convert protocol 'bogus'");
  s.SetProto("tcp");
  s.SetPort("nosuchservice");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "connect: WSocketResolvePort: Cannot convert port 'nosuchservice'");
  s.SetPort("80");
  s.SetAddr("1.2.3.400");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "connect: WSocketResolveHost: '1.2.3.400' Invalid IP address.");
  EXPECT_EQ(ErrorOf([&] { s.SendStr("x"); }),
            "Error 10057 in function Send\r\nSocket is not connected");
  EXPECT_EQ(s.State(), wsClosed);

  int errors = 0;
  s.OnError = [&](TObject* sender) {
    EXPECT_EQ(sender, &s);
    ++errors;
  };
  EXPECT_EQ(s.SendStr("x"), -1);
  EXPECT_EQ(s.LastError(), winsock::WSAENOTCONN);
  EXPECT_EQ(s.RcvdCount(), -1);  // no socket: the platform call fails
  EXPECT_EQ(s.LastError(), winsock::WSAENOTSOCK);
  s.SetSendFlags(static_cast<TSocketSendFlags>(5));
  EXPECT_EQ(errors, 3);
  EXPECT_EQ(s.SendFlags(), wsSendNormal);
}

TEST(WSocketErrors, PropertiesCannotChangeWhileOpen) {
  LoopbackPeer peer(LoopbackPeer::Hold);
  TWSocket s;
  Recorder r(s);
  ConnectTo(s, peer.Port());
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: Socket already in use");
  s.SetAddr("127.0.0.1");  // same text: nothing happens
  EXPECT_EQ(ErrorOf([&] { s.SetAddr("127.0.0.2"); }), "Cannot change Addr if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetPort("1"); }), "Cannot change Port if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetProto("udp"); }), "Cannot change Proto if not closed");
  EXPECT_EQ(ErrorOf([&] { s.SetLocalPort("1"); }), "Cannot change LocalPort if not closed");
  s.Abort();
  EXPECT_EQ(s.State(), wsClosed);
  peer.Release();
}

TEST(WSocketErrors, SendWhileConnectingEndsTheAttempt) {
  LoopbackPeer peer(LoopbackPeer::Hold);
  TWSocket s;
  Recorder r(s);
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  ConnectTo(s, peer.Port());
  ASSERT_EQ(s.State(), wsConnecting);
  EXPECT_EQ(s.SendStr("early"), -1);
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
  testpeer::PumpFor(50);
  EXPECT_FALSE(r.Has("connected 0 in connected"));
  peer.Release();
}

TEST(WSocketHandlers, ExceptionInSessionConnectedAbortsTheConnection) {
  LoopbackPeer peer(LoopbackPeer::Hold);
  TWSocket s;
  Recorder r(s);
  s.OnSessionConnected = [](TObject*, std::uint16_t) { throw Exception("boom"); };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed; }));
  EXPECT_TRUE(r.Has("closed 0 in closed"));
  peer.Release();
}

TEST(WSocketHandlers, BgExceptionHandlerCanKeepTheConnection) {
  LoopbackPeer peer(LoopbackPeer::Echo);
  TWSocket s;
  Recorder r(s);
  std::string seen;
  s.OnSessionConnected = [](TObject*, std::uint16_t) { throw Exception("kept"); };
  s.OnBgException = [&](TObject*, const std::exception& e, bool& canClose) {
    seen = e.what();
    canClose = false;
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen, "kept");
  EXPECT_EQ(s.State(), wsConnected);
  s.SendStr("ping");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "ping"; }));
}

TEST(WSocketHandlers, ExceptionInDataAvailableOnlyEndsThePass) {
  LoopbackPeer peer(LoopbackPeer::Echo);
  TWSocket s;
  Recorder r(s);
  int calls = 0;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    ++calls;
    char buf[64];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) r.data.append(buf, static_cast<size_t>(n));
    if (calls == 1) throw Exception("first pass fails");
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("sent 0"); }));
  s.SendStr("one");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "one"; }));
  s.SendStr("two");
  ASSERT_TRUE(WaitUntil([&] { return r.data == "onetwo"; }));
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketHandlers, PeerCloseFiresSessionClosedOnceEvenWithCloseInHandler) {
  LoopbackPeer peer(LoopbackPeer::SendAndClose("bye"));
  TWSocket s;
  Recorder r(s);
  s.OnSessionClosed = [&](TObject*, std::uint16_t e) {
    r.log.push_back("closed " + std::to_string(e));
    s.Close();
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed; }));
  testpeer::PumpFor(50);
  EXPECT_EQ(r.Count("closed 0"), 1);
  EXPECT_EQ(r.data, "bye");
}

TEST(WSocketDns, NamesEmptyInvalidCancelAndReplace) {
  TWSocket s;
  Recorder r(s);
  s.DnsLookup("localhost");
  EXPECT_TRUE(r.log.empty());
  ASSERT_TRUE(WaitUntil([&] { return r.Has("dns 0"); }));
  EXPECT_EQ(s.DnsResult(), "127.0.0.1");
  ASSERT_FALSE(s.DnsResultList().empty());
  EXPECT_EQ(s.DnsResultList().front(), "127.0.0.1");
  r.log.clear();

  EXPECT_EQ(ErrorOf([&] { s.DnsLookup(""); }), "DNS lookup: invalid host name.");
  int errors = 0;
  s.OnError = [&](TObject*) { ++errors; };
  s.DnsLookup("");
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 10022"});
  r.log.clear();

  s.DnsLookup("no-such-host.invalid");
  ASSERT_TRUE(WaitUntil([&] { return !r.log.empty(); }));
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 11001"});
  EXPECT_EQ(s.DnsResult(), "");
  r.log.clear();

  // Cancel: 10004 at once, and the withdrawn request never reports.
  s.DnsLookup("localhost");
  s.CancelDnsLookup();
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 10004"});
  s.CancelDnsLookup();  // nothing pending: nothing happens
  EXPECT_EQ(r.log.size(), 1u);
  r.log.clear();

  // Replace: the first request is withdrawn, only the second reports.
  s.DnsLookup("localhost");
  s.DnsLookup("no-such-host.invalid");
  ASSERT_TRUE(WaitUntil([&] { return !r.log.empty(); }));
  testpeer::PumpFor(200);
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 11001"});
  r.log.clear();

  // A pending lookup replaced by a dotted address leaves nothing to cancel.
  s.DnsLookup("localhost");
  s.DnsLookup("10.0.0.1");
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 0"});
  s.CancelDnsLookup();
  EXPECT_EQ(errors, 1);
  testpeer::PumpFor(100);
  EXPECT_EQ(r.log.size(), 1u);
  EXPECT_EQ(s.DnsResult(), "10.0.0.1");
}

TEST(WSocketDns, ReverseLookupAndDestructionWhileLookingUp) {
  {
    TWSocket s;
    Recorder r(s);
    s.ReverseDnsLookup("127.0.0.1");
    ASSERT_TRUE(WaitUntil([&] { return !r.log.empty(); }));
    EXPECT_EQ(r.log, std::vector<std::string>{"dns 0"});
    EXPECT_EQ(s.DnsResultList().size(), 1u);
    EXPECT_FALSE(s.DnsResult().empty());
  }
  {
    auto* s = new TWSocket;
    int fired = 0;
    s->OnDnsLookupDone = [&](TObject*, std::uint16_t) { ++fired; };
    s->DnsLookup("localhost");
    delete s;  // cancels without firing
    testpeer::PumpFor(200);
    EXPECT_EQ(fired, 0);
  }
}

TEST(WSocketLibrary, LoadedOnFirstSocketCallAndReleasedWithTheLastComponent) {
  ASSERT_EQ(SocketComponentCount(), 0);
  UnloadSocketLibrary();
  EXPECT_FALSE(SocketLibraryLoaded());
  {
    TWSocket a;
    EXPECT_EQ(SocketComponentCount(), 1);
    EXPECT_FALSE(SocketLibraryLoaded());
    LoopbackPeer peer(LoopbackPeer::Hold);
    ConnectTo(a, peer.Port());
    EXPECT_TRUE(SocketLibraryLoaded());
    EXPECT_TRUE(winsock::IsStarted());
    peer.Release();
  }
  EXPECT_EQ(SocketComponentCount(), 0);
  EXPECT_FALSE(SocketLibraryLoaded());
  EXPECT_FALSE(winsock::IsStarted());
}

TEST(WSocketResources, ConnectCyclesLeakNoDescriptors) {
  LoopbackPeer peer(LoopbackPeer::Echo, 20);
  TWSocket s;
  Recorder r(s);
  int before = testpeer::OpenFdCount();
  for (int i = 0; i < 20; ++i) {
    r.data.clear();
    ConnectTo(s, peer.Port());
    ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
    s.SendStr("ping");
    ASSERT_TRUE(WaitUntil([&] { return r.data == "ping"; }));
    s.Close();
  }
  // The peer's own ends of the connections live in this process too.
  ASSERT_TRUE(WaitUntil([&] { return peer.closed == 20; }));
  EXPECT_EQ(testpeer::OpenFdCount(), before);
  EXPECT_EQ(winsock::OpenSocketCount(), 0);
}

TEST(WSocketListen, ListenAcceptDupAndBoundPort) {
  TWSocket server;
  TWSocket served;
  TWSocket client;
  Recorder rs(served);
  Recorder rc(client);
  EXPECT_EQ(ErrorOf([&] { server.Listen(); }),
            "Error 10022 in function listen: port not assigned\r\nInvalid argument");
  EXPECT_EQ(ErrorOf([&] { server.Accept(); }),
            "Error 10022 in function not a listening socket\r\nInvalid argument");
  EXPECT_EQ(ErrorOf([&] { served.Dup(INVALID_SOCKET); }),
            "Error 10022 in function Dup\r\nInvalid argument");
  server.SetAddr("127.0.0.1");
  server.SetPort("0");
  server.OnSessionAvailable = [&](TObject*, std::uint16_t e) {
    EXPECT_EQ(e, 0);
    served.Dup(server.Accept());
  };
  server.Listen();
  EXPECT_EQ(server.State(), wsListening);
  std::string port = server.GetBoundPort();
  ASSERT_NE(port, "error");
  EXPECT_EQ(server.PeerAddr(), "error");
  client.SetAddr("127.0.0.1");
  client.SetPort(port);
  client.Connect();
  ASSERT_TRUE(WaitUntil([&] { return served.State() == wsConnected && rc.Has("sent 0"); }));
  client.SendStr("to server");
  ASSERT_TRUE(WaitUntil([&] { return rs.data == "to server"; }));
  served.SendStr("to client");
  ASSERT_TRUE(WaitUntil([&] { return rc.data == "to client"; }));
  served.Close();
  ASSERT_TRUE(WaitUntil([&] { return client.State() == wsClosed; }));
  EXPECT_TRUE(rc.Has("closed 0 in connected"));
  server.Close();
}

TEST(WSocketQtLoop, EventsFlowFromTheQtEventLoopAndIdleCostsNoCpu) {
  LoopbackPeer peer(LoopbackPeer::Echo);
  TWSocket s;
  Recorder r(s);
  ConnectTo(s, peer.Port());
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  guard.start(5000);
  bool sent = false;
  s.OnDataSent = [&](TObject*, std::uint16_t) {
    if (!sent) s.SendStr("via qt");
    sent = true;
  };
  auto previous = s.OnDataAvailable;
  s.OnDataAvailable = [&](TObject* sender, std::uint16_t e) {
    previous(sender, e);
    if (r.data == "via qt") QCoreApplication::exit(0);
  };
  ASSERT_EQ(QCoreApplication::exec(), 0);

  // Connected and silent: the loop sleeps.
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  QTimer::singleShot(400, [] { QCoreApplication::exit(0); });
  QCoreApplication::exec();
  getrusage(RUSAGE_SELF, &after);
  auto cpuUs = [](const rusage& u) {
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000000L + u.ru_utime.tv_usec +
           u.ru_stime.tv_usec;
  };
  EXPECT_LT(cpuUs(after) - cpuUs(before), 100000L);
  EXPECT_EQ(s.State(), wsConnected);
}

TEST(WSocketClient, HostNameInAddrAndWaitForClose) {
  LoopbackPeer peer([](int fd, LoopbackPeer& p) {
    p.WaitReleased(10000);
    ::send(fd, "last words", 10, MSG_NOSIGNAL);
  });
  TWSocket s;
  Recorder r(s);
  s.SetAddr("localhost");  // resolved by a blocking lookup in Connect
  s.SetPort(peer.PortText());
  s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
  peer.Release();
  s.WaitForClose();
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed; }));
  EXPECT_EQ(r.data, "last words");
  EXPECT_EQ(r.Count("closed 0 in connected"), 1);
}

TEST(WSocketErrors, BadProtocolsPortsAndHostsLeakNothing) {
  TWSocket s;  // first: the thread's queue opens its descriptors once
  int before = testpeer::OpenFdCount();
  s.SetAddr("127.0.0.1");
  s.SetPort("80");
  s.SetProto("icmp");  // not a stream protocol
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "Error 10043 in function Connect (socket)\r\nProtocol not supported");
  EXPECT_EQ(s.State(), wsClosed);
  s.SetProto("tcp");
  s.SetAddr("no-such-host.invalid");
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "connect: WSocketResolveHost: Cannot convert host address 'no-such-host.invalid'");
  s.SetAddr(std::string(300, 'h'));
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }),
            "connect: WSocketResolveHost: '" + std::string(300, 'h') + "' Invalid Hostname.");
  s.SetAddr("127.0.0.1");
  s.SetPort(std::string(40, '9'));
  EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "connect: WSocketResolvePort: Invalid Port.");
  s.SetPort("0");  // nobody listens on port 0
  Recorder r(s);
  s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return r.Has("closed 0 in closed"); }));
  EXPECT_TRUE(r.Has("connected 10061 in connected"));
  EXPECT_EQ(testpeer::OpenFdCount(), before);
}

TEST(WSocketClient, AbortDuringLookupAndDatagramConnect) {
  TWSocket s;
  Recorder r(s);
  s.DnsLookup("localhost");
  s.Abort();
  EXPECT_EQ(r.log, std::vector<std::string>{"dns 10004"});

  int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(udp, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(udp, reinterpret_cast<sockaddr*>(&a), &len);
  r.log.clear();
  s.SetAddr("127.0.0.1");
  s.SetPort(std::to_string(ntohs(a.sin_port)));
  s.SetProto("udp");
  s.Connect();  // no handshake: connected at once
  EXPECT_EQ(r.log, (std::vector<std::string>{"state closed>opened", "state opened>connected",
                                             "connected 0 in connected"}));
  EXPECT_EQ(s.SendStr("datagram"), 8);
  char buf[32];
  pollfd p{udp, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  EXPECT_EQ(::recv(udp, buf, sizeof buf, 0), 8);
  EXPECT_EQ(std::string(buf, 8), "datagram");
  s.Close();
  ::close(udp);
}

TEST(WSocketClient, LocalPortIsBoundBeforeConnecting) {
  LoopbackPeer peer(LoopbackPeer::Hold, 2);
  TWSocket s;
  Recorder r(s);
  std::string local = std::to_string(testpeer::UnusedPort());
  s.SetLocalPort(local);
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
  sockaddr_in name{};
  int len = sizeof name;
  ASSERT_EQ(s.GetSockName(name, len), 0);
  EXPECT_EQ(std::to_string(ntohs(name.sin_port)), local);
  EXPECT_EQ(s.GetBoundPort(), local);
  s.Close();
  EXPECT_EQ(s.LocalPort(), "0");  // back at its default after the close

  // A local port that is taken: the bind failure is reported with its code.
  s.SetLocalPort(peer.PortText());
  EXPECT_EQ(ErrorOf([&] { ConnectTo(s, peer.Port()); }), "winsock.bind failed, error #10048");
  s.Close();
  peer.Release();
}

// Close is the graceful close: a peer that reads in small pieces still gets
// every byte handed to the socket, and then the orderly end, not a reset.
TEST(WSocketClient, CloseInDataSentDeliversEveryQueuedByteBeforeTheEnd) {
  std::atomic<bool> reset{false};
  LoopbackPeer peer([&reset](int fd, LoopbackPeer& self) {
    char piece[1024];
    std::uint64_t sum = 0;
    while (self.WaitReadable(fd, 10000)) {
      ssize_t n = ::recv(fd, piece, sizeof piece, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) reset = errno == ECONNRESET;
      if (n <= 0) break;
      self.received += n;
      for (ssize_t i = 0; i < n; ++i) sum = sum * 31 + static_cast<unsigned char>(piece[i]);
    }
    self.checksum = sum;
    self.done = true;
  });
  TWSocket s;
  Recorder r(s);
  std::string big(1024 * 1024, '\0');
  std::uint64_t sum = 0;
  for (size_t i = 0; i < big.size(); ++i) {
    big[i] = static_cast<char>((i * 7919) >> 5);
    sum = sum * 31 + static_cast<unsigned char>(big[i]);
  }
  bool sending = false;
  s.OnDataSent = [&](TObject*, std::uint16_t) {
    if (!sending) {
      sending = true;
      s.Send(big.data(), static_cast<int>(big.size()));
    } else if (s.State() == wsConnected) {
      s.Close();
    }
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return peer.done.load(); }, 20000));
  EXPECT_FALSE(reset.load());
  EXPECT_EQ(peer.received.load(), static_cast<std::int64_t>(big.size()));
  EXPECT_EQ(peer.checksum.load(), sum);
  EXPECT_EQ(s.State(), wsClosed);
  EXPECT_EQ(s.LingerOnOff(), wsLingerOff);  // back at the default after the close
}

// A test's view of the counter, to start it near the 32-bit limit.
struct TCountingSocket : TWSocket {
  void StartReadCountAt(std::int64_t count) { FReadCount = count; }
};

TEST(WSocketClient, ReadCountGoesPastTwoGibibytes) {
  LoopbackPeer peer(LoopbackPeer::SendAndClose(std::string(100, 'r')));
  TCountingSocket s;
  std::string data;
  std::int64_t count = 0;
  // The close sets the counter back: it is read while the data comes.
  s.OnSessionConnected = [&](TObject*, std::uint16_t) { s.StartReadCountAt(INT32_MAX - 10); };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    char buf[256];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) data.append(buf, static_cast<size_t>(n));
    count = s.ReadCount();
  };
  ConnectTo(s, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsClosed && data.size() == 100; }));
  EXPECT_EQ(count, std::int64_t{INT32_MAX} + 90);
}

TEST(WSocketErrors, OptionFailuresNameTheSetsockoptCall) {
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  {
    TWSocket s;
    // No socket behind the handle: setting the linger option fails.
    std::string text = ErrorOf([&] { s.Dup(pipeFds[0]); });
    EXPECT_EQ(text.substr(0, text.find('\r')), "Error 10038 in function setsockopt(SO_LINGER)");
  }
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}
