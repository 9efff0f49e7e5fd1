#include <gtest/gtest.h>

#include "SocketTestHelpers.h"
#include "WSockbuf.h"
#include "WSocketResolve.h"
#include "WinSock.h"

using sockettest::ErrorOf;

TEST(ResolveHost, DottedTextsAndBroadcast) {
  EXPECT_EQ(WSocketResolveHost("255.255.255.255"), 0xffffffffu);
  EXPECT_EQ(winsock::inet_ntoa(WSocketResolveHost(" 127.0.0.1 ")), "127.0.0.1");
  EXPECT_EQ(ErrorOf([] { WSocketResolveHost("255.255.255.256"); }),
            "WSocketResolveHost: '255.255.255.256' Invalid IP address.");
  // A name that starts with a digit is taken for an address.
  EXPECT_EQ(ErrorOf([] { WSocketResolveHost("1example.com"); }),
            "WSocketResolveHost: '1example.com' Invalid IP address.");
}

TEST(ResolveHost, NamesLengthsAndFailuresQuoteTheTextAsGiven) {
  EXPECT_EQ(winsock::inet_ntoa(WSocketResolveHost("localhost")), "127.0.0.1");
  EXPECT_EQ(winsock::inet_ntoa(WSocketResolveHost("\tlocalhost  ")), "127.0.0.1");
  EXPECT_EQ(ErrorOf([] { WSocketResolveHost(""); }), "WSocketResolveHost: '' Invalid Hostname.");
  std::string longName(257, 'a');
  EXPECT_EQ(ErrorOf([&] { WSocketResolveHost(longName); }),
            "WSocketResolveHost: '" + longName + "' Invalid Hostname.");
  std::string name256(256, 'a');  // looked up (and not found), not refused
  EXPECT_EQ(ErrorOf([&] { WSocketResolveHost(name256); }),
            "WSocketResolveHost: Cannot convert host address '" + name256 + "'");
  EXPECT_EQ(ErrorOf([] { WSocketResolveHost(" nohost.invalid "); }),
            "WSocketResolveHost: Cannot convert host address ' nohost.invalid '");
}

TEST(ResolvePort, NumbersServicesAndLimits) {
  EXPECT_EQ(WSocketResolvePort("80", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("80x", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort("70000", "tcp"), 4464);
  EXPECT_EQ(WSocketResolvePort("http", "tcp"), 80);
  EXPECT_EQ(WSocketResolvePort(" http ", ""), 80);
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort("", "tcp"); }), "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort(std::string(32, '1'), "tcp"); }),
            "WSocketResolvePort: Invalid Port.");
  EXPECT_EQ(ErrorOf([] { WSocketResolvePort("nosuchservice", "tcp"); }),
            "WSocketResolvePort: Cannot convert port 'nosuchservice'");
}

TEST(ResolveProto, NamesNumbersAndFailures) {
  EXPECT_EQ(WSocketResolveProto("tcp"), 6);
  EXPECT_EQ(WSocketResolveProto("17"), 17);
  EXPECT_EQ(WSocketResolveProto(" udp "), 17);
  EXPECT_EQ(ErrorOf([] { WSocketResolveProto(""); }), "WSocketResolveProto: Invalid Protocol.");
  EXPECT_EQ(ErrorOf([] { WSocketResolveProto(" bogus "); }),
            "WSocketResolveProto: Cannot convert protocol 'bogus'");
}

TEST(SendBlock, AppendPeekConsumeAndReuse) {
  TBuffer b(10);
  EXPECT_EQ(b.Append("abcdefgh", 8), 8);
  EXPECT_EQ(b.Append("xyz", 3), 2);
  EXPECT_EQ(b.Append("z", 1), 0);  // full
  std::int32_t n;
  const std::uint8_t* p = b.Peek(n);
  ASSERT_EQ(n, 10);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), 10), "abcdefghxy");
  EXPECT_EQ(b.Consume(4), 4);
  p = b.Peek(n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)), "efghxy");
  EXPECT_EQ(b.Append("q", 1), 0);  // no wrap-around before the block drains
  EXPECT_EQ(b.Consume(100), 6);    // more than unread: takes what is there, resets
  EXPECT_EQ(b.ReadPos(), 0);
  EXPECT_EQ(b.WritePos(), 0);
  EXPECT_EQ(b.Peek(n), nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(b.Append("q", 1), 1);
}

TEST(SendBlock, CapacityChangesKeepUnreadBytes) {
  TBuffer b(0);
  EXPECT_EQ(b.Capacity(), 1514);
  b.Append("hello", 5);
  b.SetCapacity(2);  // would cut unread bytes: kept whole instead
  std::int32_t n;
  const std::uint8_t* p = b.Peek(n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)), "hello");
  b.SetCapacity(64);
  EXPECT_EQ(b.Capacity(), 64);
  p = b.Peek(n);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)), "hello");
}
