// Line-mode receiving and waiting for a flag, against loopback peers that
// send what the test feeds them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LoopbackPeer.h"
#include "WSocket.h"

using testpeer::LoopbackPeer;
using testpeer::WaitUntil;

namespace {

// A line-mode socket connected to a fed peer; every OnDataAvailable call
// reads up to ReadSize bytes and records them as one entry.
struct LineClient {
  LoopbackPeer peer{LoopbackPeer::FedByTest};
  TWSocket s;
  std::vector<std::string> reads;
  std::vector<std::string> events;
  int readSize = 4096;

  LineClient() {
    s.SetLineMode(true);
    s.OnDataAvailable = [this](TObject*, std::uint16_t) {
      std::string buf(static_cast<size_t>(readSize), '\0');
      int n = s.Receive(buf.data(), readSize);
      if (n > 0) {
        reads.push_back(buf.substr(0, static_cast<size_t>(n)));
        events.push_back("data");
      }
    };
    s.OnSessionClosed = [this](TObject*, std::uint16_t e) {
      events.push_back("closed " + std::to_string(e));
    };
    s.SetAddr("127.0.0.1");
    s.SetPort(peer.PortText());
    s.Connect();
    EXPECT_TRUE(WaitUntil([this] { return s.State() == wsConnected; }));
  }
  std::string All() const {
    std::string all;
    for (auto& r : reads) all += r;
    return all;
  }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST(LineMode, LinesSplitAcrossReceptionsAndTheLastLineAtClose) {
  LineClient c;
  c.peer.Feed("ab\r\ncd\r\nef\r");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 2 && c.s.LineDataCount() == 3; }));
  EXPECT_EQ(c.reads, (Lines{"ab\r\n", "cd\r\n"}));
  c.peer.Feed("\n");  // the LineEnd completes across two receptions
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 3; }));
  EXPECT_EQ(c.reads.back(), "ef\r\n");

  c.peer.Feed("gh");
  ASSERT_TRUE(WaitUntil([&] { return c.s.LineDataCount() == 2; }));
  c.peer.Feed("i\r\njkl");
  c.peer.Feed("");  // close: jkl comes as a last line, before the close event
  ASSERT_TRUE(WaitUntil([&] { return c.s.State() == wsClosed; }));
  EXPECT_EQ(c.reads, (Lines{"ab\r\n", "cd\r\n", "ef\r\n", "ghi\r\n", "jkl"}));
  EXPECT_EQ(c.events.back(), "closed 0");
  EXPECT_EQ(c.s.LineDataCount(), 0);
}

TEST(LineMode, PartialReadsNeverReachIntoTheNextLine) {
  LineClient c;
  c.readSize = 2;
  std::vector<int> rcvd;
  auto read = c.s.OnDataAvailable;
  c.s.OnDataAvailable = [&](TObject* sender, std::uint16_t e) {
    rcvd.push_back(c.s.RcvdCount());  // the rest of the line being delivered
    read(sender, e);
  };
  c.peer.Feed("abc\r\nxy\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.All() == "abc\r\nxy\r\n"; }));
  EXPECT_EQ(c.reads, (Lines{"ab", "c\r", "\n", "xy", "\r\n"}));
  EXPECT_EQ(rcvd, (std::vector<int>{5, 3, 1, 4, 2}));
  EXPECT_EQ(c.s.RcvdCount(), 0);  // between lines

  // ReceiveStr hands out exactly the pending line.
  std::vector<std::string> lines;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) { lines.push_back(c.s.ReceiveStr()); };
  c.peer.Feed("one\r\ntwo\r\nthr");
  ASSERT_TRUE(WaitUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ(lines, (Lines{"one\r\n", "two\r\n"}));
}

TEST(LineMode, OtherLineEndsAndAnEmptyLineEndMeansPlainDelivery) {
  LineClient c;
  c.s.SetLineEnd("<>");
  c.peer.Feed("a<");
  ASSERT_TRUE(WaitUntil([&] { return c.s.LineDataCount() == 2; }));
  c.peer.Feed(">b<>");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 2; }));
  EXPECT_EQ(c.reads, (Lines{"a<>", "b<>"}));

  c.s.SetLineEnd("");
  c.reads.clear();
  c.peer.Feed("no line end here");
  ASSERT_TRUE(WaitUntil([&] { return c.All() == "no line end here"; }));
}

TEST(LineMode, EditingAndEcho) {
  LineClient c;
  c.s.SetLineEdit(true);
  c.s.SetLineEcho(true);
  c.peer.Feed("ab\bc\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 1; }));
  EXPECT_EQ(c.reads[0], "ac\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.peer.Received() == "ab\b \bc\r\n"; }));

  c.peer.Feed("ab\tZ\r\n");  // tab as the third byte: spaces up to position 8
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 2; }));
  EXPECT_EQ(c.reads[1], "ab      Z\r\n");

  // A backspace in a later reception removes a held byte; one at the very
  // start of a line removes nothing and echoes nothing.
  c.peer.Feed("xy");
  ASSERT_TRUE(WaitUntil([&] { return c.s.LineDataCount() == 2; }));
  c.peer.Feed("\bz\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 3; }));
  c.peer.Feed("\bq\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 4; }));
  EXPECT_EQ(c.reads[2], "xz\r\n");
  EXPECT_EQ(c.reads[3], "q\r\n");
  ASSERT_TRUE(
      WaitUntil([&] { return c.peer.Received() == "ab\b \bc\r\nab      Z\r\nxy\b \bz\r\nq\r\n"; }));

  // Echo without editing sends the bytes back as received.
  c.s.SetLineEdit(false);
  c.peer.Feed("raw\b\r\n");
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 5; }));
  EXPECT_EQ(c.reads[4], "raw\b\r\n");
  ASSERT_TRUE(WaitUntil([&] {
    const std::string r = c.peer.Received();
    return r.size() >= 6 && r.substr(r.size() - 6) == "raw\b\r\n";
  }));
}

TEST(LineMode, ModeSwitchesWhileDataIsHeld) {
  LineClient c;
  // In line mode the handler reads three bytes of the first line and
  // switches to plain mode: the rest of that line and everything after it
  // come as plain data, from the message loop, without a new reception.
  std::string plain;
  bool switched = false;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    if (c.s.LineMode() && !switched) {
      char buf[3];
      c.reads.emplace_back(buf, static_cast<size_t>(c.s.Receive(buf, 3)));
      switched = true;
      c.s.SetLineMode(false);
    } else if (c.s.LineMode()) {
      c.reads.push_back(c.s.ReceiveStr());
    } else {
      char buf[4];
      int n = c.s.Receive(buf, 4);  // small reads: held bytes come back until taken
      if (n > 0) plain.append(buf, static_cast<size_t>(n));
      if (plain == "st l") c.s.SetLineMode(true);  // and back, with bytes held
    }
  };
  c.peer.Feed("first line\r\nsecond\r\nrest");
  // Back in line mode the held bytes are searched for lines at once.
  ASSERT_TRUE(WaitUntil([&] { return c.reads.size() == 3; }));
  EXPECT_EQ(plain, "st l");
  EXPECT_EQ(c.reads, (Lines{"fir", "ine\r\n", "second\r\n"}));
  EXPECT_EQ(c.s.LineDataCount(), 4);  // "rest" waits for its LineEnd

  // Plain mode: ReceiveStr returns the held bytes first, then the platform's.
  std::string got;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) { got += c.s.ReceiveStr(); };
  c.s.SetLineMode(false);
  ASSERT_TRUE(WaitUntil([&] { return got == "rest"; }));
  c.peer.Feed("+more");
  ASSERT_TRUE(WaitUntil([&] { return got == "rest+more"; }));
  EXPECT_EQ(c.s.LineDataCount(), 0);
}

TEST(LineMode, HeldBytesAreOfferedInPlainModeBeforeTheClose) {
  LineClient c;
  c.peer.Feed("partial");
  ASSERT_TRUE(WaitUntil([&] { return c.s.LineDataCount() == 7; }));
  c.readSize = 3;
  c.s.SetLineMode(false);
  c.peer.Feed("");
  ASSERT_TRUE(WaitUntil([&] { return c.s.State() == wsClosed; }));
  EXPECT_EQ(c.All(), "partial");
  EXPECT_EQ(c.events.back(), "closed 0");
}

TEST(LineMode, AHandlerClosingMidwayEndsTheDeliveryWithOneCloseEvent) {
  LineClient c;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    c.reads.push_back(c.s.ReceiveStr());
    c.s.Close();  // lines still held are not handed out any more
  };
  c.peer.Feed("a\r\nb\r\nc");
  c.peer.Feed("");
  ASSERT_TRUE(WaitUntil([&] { return c.s.State() == wsClosed; }));
  testpeer::PumpFor(50);
  EXPECT_EQ(c.reads, Lines{"a\r\n"});
  EXPECT_EQ(c.events, (Lines{"closed 0"}));
}

TEST(LineMode, WithoutAHandlerLinesAreDiscardedAndNothingSurvivesAClose) {
  LoopbackPeer peer(LoopbackPeer::FedByTest, 2);
  TWSocket s;
  s.SetLineMode(true);
  s.SetAddr("127.0.0.1");
  s.SetPort(peer.PortText());
  s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected; }));
  peer.Feed("dropped\r\nheld");
  ASSERT_TRUE(WaitUntil([&] { return s.LineDataCount() == 4; }));
  s.Close();
  EXPECT_EQ(s.LineDataCount(), 0);

  std::vector<std::string> lines;
  s.OnDataAvailable = [&](TObject*, std::uint16_t) { lines.push_back(s.ReceiveStr()); };
  s.SetAddr("127.0.0.1");
  s.SetPort(peer.PortText());
  s.Connect();
  // The peer serves connections one after the other: feed the second one.
  ASSERT_TRUE(WaitUntil([&] { return s.State() == wsConnected && peer.accepted == 2; }));
  peer.Feed("fresh\r\n");
  ASSERT_TRUE(WaitUntil([&] { return !lines.empty(); }));
  EXPECT_EQ(lines, Lines{"fresh\r\n"});  // nothing of the first connection
}

TEST(LineModeBadInput, AnEndlessLineStaysBoundedAndArrivesInPieces) {
  constexpr int total = 2 * 1024 * 1024;
  LoopbackPeer peer(LoopbackPeer::SendAndClose(std::string(total, 'x')));
  TWSocket s;
  EXPECT_EQ(s.LineLimit(), DefaultLineLimit);
  s.SetLineMode(true);
  s.SetLineLimit(64 * 1024);
  std::int64_t got = 0;
  int tooLong = 0;
  std::int32_t largest = 0;
  bool closed = false;
  s.OnLineTooLong = [&](TObject*) { ++tooLong; };
  s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    largest = std::max(largest, s.LineDataSize());
    char buf[8192];
    int n = s.Receive(buf, sizeof buf);
    if (n > 0) got += n;
  };
  s.OnSessionClosed = [&](TObject*, std::uint16_t) { closed = true; };
  s.SetAddr("127.0.0.1");
  s.SetPort(peer.PortText());
  s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return closed; }, 20000));
  EXPECT_EQ(got, total);  // nothing lost: pieces, then the rest at the close
  EXPECT_GT(tooLong, 0);
  EXPECT_LE(largest, 2 * 64 * 1024 + 1);

  // A handler that closes from OnLineTooLong ends it there.
  LoopbackPeer endless(LoopbackPeer::SendAndClose(std::string(total, 'y')));
  s.SetLineMode(true);
  s.OnLineTooLong = [&](TObject*) { s.Close(); };
  closed = false;
  got = 0;
  s.SetAddr("127.0.0.1");
  s.SetPort(endless.PortText());
  s.Connect();
  ASSERT_TRUE(WaitUntil([&] { return closed; }, 20000));
  EXPECT_EQ(got, 0);
}

TEST(LineModeBadInput, AHandlerThatNeverReadsDoesNotHoldTheThread) {
  LineClient c;
  int calls = 0;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) { ++calls; };
  c.peer.Feed("ignored\r\n");
  ASSERT_TRUE(WaitUntil([&] { return calls > 0; }));
  testpeer::PumpFor(100);
  EXPECT_LT(calls, 10);
  // Once the handler reads, the pending line and the next come out in order.
  std::vector<std::string> lines;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) { lines.push_back(c.s.ReceiveStr()); };
  c.peer.Feed("next\r\n");
  ASSERT_TRUE(WaitUntil([&] { return lines.size() == 2; }));
  EXPECT_EQ(lines, (Lines{"ignored\r\n", "next\r\n"}));
}

TEST(SyncWait, WaitForFlagEndsOnTheFlagTheTimeLimitOrAQuit) {
  LoopbackPeer peer(LoopbackPeer::Echo);
  TWSocket s;
  bool connected = false;
  s.OnSessionConnected = [&](TObject*, std::uint16_t e) { connected = e == 0; };
  s.SetAddr("127.0.0.1");
  s.SetPort(peer.PortText());
  s.SetSyncTimeout(5000);
  EXPECT_EQ(s.RunAndWait([&] { s.Connect(); }, connected), 0);
  EXPECT_TRUE(connected);

  bool never = false;
  s.SetSyncTimeout(300);
  auto start = testpeer::Clock::now();
  EXPECT_EQ(s.WaitForFlag(never), SyncWaitFailed);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(testpeer::Clock::now() - start);
  EXPECT_GE(ms.count(), 290);
  EXPECT_LT(ms.count(), 3000);
  EXPECT_FALSE(never);

  s.SetMultiThreaded(true);  // the thread's own queue: a quit message ends the wait
  s.SetSyncTimeout(0);
  PostQuitMessage(0);
  EXPECT_EQ(s.WaitForFlag(never), SyncWaitFailed);
  EXPECT_TRUE(s.QuitReceived());
  s.Close();
}

// With an empty LineEnd the layer delivers as in plain mode, counts and
// reads included, so a handler reading with ReceiveStr empties the socket
// and the peer's close is reported.
TEST(LineMode, AnEmptyLineEndDeliversPlainlyUpToTheClose) {
  LineClient c;
  c.s.OnDataAvailable = [&](TObject*, std::uint16_t) {
    std::string got = c.s.ReceiveStr();
    if (!got.empty()) c.reads.push_back(got);
  };
  c.s.SetLineEnd("");
  c.peer.Feed("no line end");
  c.peer.Feed("");
  ASSERT_TRUE(WaitUntil([&] { return c.s.State() == wsClosed; }, 10000));
  EXPECT_EQ(c.All(), "no line end");
  EXPECT_EQ(c.events, (Lines{"closed 0"}));

  // Held bytes of an unfinished line go out plainly once the LineEnd is
  // emptied, and come back to line mode with it.
  LineClient d;
  d.peer.Feed("ab");
  ASSERT_TRUE(WaitUntil([&] { return d.s.LineDataCount() == 2; }));
  d.s.SetLineEnd("");
  ASSERT_TRUE(WaitUntil([&] { return d.All() == "ab"; }));
  d.s.SetLineEnd("\r\n");
  d.peer.Feed("cd\r\nef");
  ASSERT_TRUE(WaitUntil([&] { return d.s.LineDataCount() == 2; }));
  EXPECT_EQ(d.reads, (Lines{"ab", "cd\r\n"}));
}
