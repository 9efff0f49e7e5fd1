#include "SocketErrors.h"

#include <gtest/gtest.h>

#include "WinSock.h"

TEST(ErrorText, KnownAndUnknownCodes) {
  EXPECT_EQ(WSocketErrorText(0), "No Error");
  EXPECT_EQ(WSocketErrorText(winsock::WSAETIMEDOUT), "Connection timed out");
  EXPECT_EQ(WSocketErrorText(winsock::WSAECONNREFUSED), "Connection refused");
  EXPECT_EQ(WSocketErrorText(winsock::WSAHOST_NOT_FOUND), "Host not found");
  // 10010 lies between two codes of the table.
  EXPECT_EQ(WSocketErrorText(10010), "Not a WinSock error");
  EXPECT_EQ(WSocketErrorText(-1), "Not a WinSock error");
}
