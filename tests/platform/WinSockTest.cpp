#include <gtest/gtest.h>

#include <cstring>
#include <netdb.h>
#include <vector>

#include "LoopbackPeer.h"
#include "WinSock.h"

using namespace winsock;
using testpeer::LoopbackPeer;
using testpeer::WaitUntil;

namespace {

constexpr unsigned kNotify = WM_USER + 1;
constexpr unsigned kLookup = WM_USER + 2;

struct Note {
  WPARAM handle;
  int event;
  int error;
};

// A window that records socket notifications and lookup completions.
struct Listener {
  std::vector<Note> notes;
  HWND wnd = AllocateHWnd([this](TMessage& m) {
    notes.push_back({m.WParam, static_cast<int>(m.LParam & 0xffff),
                     static_cast<int>((m.LParam >> 16) & 0xffff)});
  });
  ~Listener() { DeallocateHWnd(wnd); }
  int Count(int event) const {
    int n = 0;
    for (auto& x : notes) n += x.event == event;
    return n;
  }
};

class WinSockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WSAData data;
    ASSERT_EQ(WSAStartup(257, &data), 0);
  }
  void TearDown() override { WSACleanup(); }

  SOCKET ConnectAsync(Listener& l, std::uint16_t port) {
    SOCKET s = winsock::socket(AF_INET_W, SOCK_STREAM_W, IPPROTO_TCP_W);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(WSAAsyncSelect(s, l.wnd, kNotify, FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE), 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = winsock::inet_addr("127.0.0.1");
    int rc = winsock::connect(s, &a, sizeof a);
    EXPECT_TRUE(rc == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
    return s;
  }
};

}  // namespace

TEST(WinSockStartup, CallsNeedStartupAndTheCountIsObservable) {
  ASSERT_FALSE(IsStarted());
  EXPECT_EQ(winsock::socket(AF_INET_W, SOCK_STREAM_W, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  WSAData data;
  ASSERT_EQ(WSAStartup(257, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0101);
  ASSERT_EQ(WSAStartup(257, &data), 0);
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_TRUE(IsStarted());
  EXPECT_EQ(WSACleanup(), 0);
  EXPECT_FALSE(IsStarted());
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
}

TEST_F(WinSockTest, ReadIsReArmedOnlyByReceiveAndCloseFollowsTheData) {
  LoopbackPeer peer([](int fd, LoopbackPeer& p) {
    ::send(fd, "abc", 3, MSG_NOSIGNAL);
    p.WaitReleased(10000);
    ::send(fd, "def", 3, MSG_NOSIGNAL);
  });
  Listener l;
  SOCKET s = ConnectAsync(l, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_READ) == 1; }));
  ASSERT_GE(l.notes.size(), 3u);
  EXPECT_EQ(l.notes[0].event, FD_CONNECT);
  EXPECT_EQ(l.notes[0].error, 0);
  EXPECT_EQ(l.notes[1].event, FD_WRITE);
  EXPECT_EQ(l.notes[0].handle, static_cast<WPARAM>(s));

  // More data and the close, but no receive yet: nothing more is reported.
  peer.Release();
  ASSERT_TRUE(WaitUntil([&] { return peer.closed == 1; }));
  testpeer::PumpFor(150);
  EXPECT_EQ(l.Count(FD_READ), 1);
  EXPECT_EQ(l.Count(FD_CLOSE), 0);

  char buf[16];
  ASSERT_EQ(winsock::recv(s, buf, 2, 0), 2);  // data still waits: reported again
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_READ) == 2; }));
  EXPECT_EQ(l.Count(FD_CLOSE), 0);
  std::uint32_t waiting = 0;
  ASSERT_EQ(winsock::ioctlsocket(s, FIONREAD_W, &waiting), 0);
  ASSERT_EQ(winsock::recv(s, buf, sizeof buf, 0), static_cast<int>(waiting));
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_CLOSE) == 1; }));
  EXPECT_EQ(l.notes.back().error, 0);
  EXPECT_EQ(winsock::recv(s, buf, sizeof buf, 0), 0);
  testpeer::PumpFor(100);
  EXPECT_EQ(l.Count(FD_CLOSE), 1);
  EXPECT_EQ(winsock::closesocket(s), 0);
}

TEST_F(WinSockTest, RefusedConnectReportsThroughTheConnectNotification) {
  Listener l;
  SOCKET s = ConnectAsync(l, testpeer::UnusedPort());
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_CONNECT) == 1; }));
  EXPECT_EQ(l.notes[0].error, WSAECONNREFUSED);
  testpeer::PumpFor(100);
  EXPECT_EQ(l.notes.size(), 1u);
  winsock::closesocket(s);
}

TEST_F(WinSockTest, ClosingDropsTheSocketsQueuedNotifications) {
  LoopbackPeer peer(LoopbackPeer::Hold);
  Listener l;
  SOCKET s = ConnectAsync(l, peer.Port());
  // Wait for readiness without dispatching, then close before dispatching.
  pollfd p{s, POLLOUT, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);
  TMessage m;
  ASSERT_TRUE(PeekMessage(m));  // the connect notification, now taken
  EXPECT_EQ(winsock::closesocket(s), 0);
  testpeer::PumpFor(100);
  EXPECT_TRUE(l.notes.empty());
  EXPECT_EQ(winsock::closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  peer.Release();
}

TEST_F(WinSockTest, SendThatWouldBlockArmsTheWriteNotification) {
  LoopbackPeer peer(LoopbackPeer::ReadWhenReleased);
  Listener l;
  SOCKET s = ConnectAsync(l, peer.Port());
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_WRITE) == 1; }));
  std::vector<char> chunk(65536, 'x');
  std::int64_t sent = 0;
  int rc;
  while ((rc = winsock::send(s, chunk.data(), static_cast<int>(chunk.size()), 0)) > 0) sent += rc;
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  testpeer::PumpFor(100);
  EXPECT_EQ(l.Count(FD_WRITE), 1);
  peer.Release();
  ASSERT_TRUE(WaitUntil([&] { return l.Count(FD_WRITE) == 2; }));
  winsock::closesocket(s);
  ASSERT_TRUE(WaitUntil([&] { return peer.done.load(); }));
  EXPECT_EQ(peer.received.load(), sent);
}

TEST_F(WinSockTest, LookupsCompleteWithTheirHandleAndCancelSilences) {
  Listener l;
  alignas(8) char buf[1025];
  HANDLE h = WSAAsyncGetHostByName(l.wnd, kLookup, "localhost", buf, sizeof buf);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(WaitUntil([&] { return !l.notes.empty(); }));
  EXPECT_EQ(l.notes[0].handle, h);
  EXPECT_EQ(l.notes[0].error, 0);
  auto* he = reinterpret_cast<hostent_w*>(buf);
  ASSERT_NE(he->h_addr_list[0], nullptr);
  std::uint32_t addr;
  std::memcpy(&addr, he->h_addr_list[0], 4);
  EXPECT_EQ(winsock::inet_ntoa(addr), "127.0.0.1");
  EXPECT_EQ(he->h_length, 4);

  l.notes.clear();
  h = WSAAsyncGetHostByName(l.wnd, kLookup, "localhost", buf, sizeof buf);
  EXPECT_EQ(WSACancelAsyncRequest(h), 0);
  HANDLE h2 = WSAAsyncGetHostByName(l.wnd, kLookup, "no-such-host.invalid", buf, sizeof buf);
  ASSERT_TRUE(WaitUntil([&] { return !l.notes.empty(); }));
  testpeer::PumpFor(200);
  ASSERT_EQ(l.notes.size(), 1u);
  EXPECT_EQ(l.notes[0].handle, h2);
  EXPECT_EQ(l.notes[0].error, WSAHOST_NOT_FOUND);
  EXPECT_EQ(WSACancelAsyncRequest(h2), SOCKET_ERROR);
}

TEST_F(WinSockTest, CancelWithdrawsACompletionStillQueued) {
  Listener l;
  alignas(8) char buf[1025];
  HANDLE h =
      WSAAsyncGetHostByAddr(l.wnd, kLookup, "\x7f\x00\x00\x01", 4, AF_INET_W, buf, sizeof buf);
  ASSERT_NE(h, 0u);
  // Wait for the completion without dispatching it.
  auto deadline = testpeer::Clock::now() + std::chrono::seconds(5);
  while (testpeer::Clock::now() < deadline) {
    WaitForMessages(50, false);
    TMessage probe;
    if (PeekMessage(probe)) {
      PostMessage(probe.Window, probe.Msg, probe.WParam, probe.LParam);
      break;
    }
  }
  EXPECT_EQ(WSACancelAsyncRequest(h), 0);
  testpeer::PumpFor(100);
  EXPECT_TRUE(l.notes.empty());
}

TEST_F(WinSockTest, BlockingResolutionAndAddressTexts) {
  hostent_w* he = winsock::gethostbyname("localhost");
  ASSERT_NE(he, nullptr);
  std::uint32_t addr;
  std::memcpy(&addr, he->h_addr_list[0], 4);
  EXPECT_EQ(winsock::inet_ntoa(addr), "127.0.0.1");
  EXPECT_EQ(winsock::gethostbyname("x.invalid"), nullptr);
  EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
  EXPECT_EQ(winsock::inet_addr("255.255.255.255"), 0xffffffffu);
  EXPECT_EQ(winsock::inet_addr("1.2.3.256"), 0xffffffffu);
  EXPECT_EQ(winsock::inet_ntoa(winsock::inet_addr("10.0.0.1")), "10.0.0.1");
  servent_w se;
  ASSERT_TRUE(winsock::getservbyname("http", "tcp", se));
  EXPECT_EQ(ntohs(se.s_port), 80);
  protoent_w pe;
  ASSERT_TRUE(winsock::getprotobyname("udp", pe));
  EXPECT_EQ(pe.p_proto, 17);
  EXPECT_EQ(ErrnoToWsa(ECONNREFUSED), WSAECONNREFUSED);
  EXPECT_EQ(ErrnoToWsa(EAGAIN), WSAEWOULDBLOCK);
  EXPECT_EQ(GaiToWsa(EAI_NONAME, 0), WSAHOST_NOT_FOUND);
}
