#include "HttpMessage.h"

#include <gtest/gtest.h>

#include "CompressedText.h"
#include "SplitMix.h"
#include "WarcTestArchives.h"

namespace {

using namespace warctest;

constexpr std::int64_t kNoLimit = 1 << 30;

// Body, completeness and problem of a response, or "none: problem".
std::string Parsed(const std::string& block, std::int64_t limit = kNoLimit) {
  std::string problem;
  std::optional<THttpMessage> message = ParseHttpResponse(block, limit, problem);
  if (!message) return "none: " + problem;
  return message->Body + (message->Complete ? " | whole" : " | incomplete: " + problem);
}

std::string WithBody(const std::string& fields, const std::string& body) {
  return "HTTP/1.1 200 OK\r\n" + fields + "\r\n" + body;
}

TEST(ParseHttpResponse, StatusReasonHeaderLinesAndNamedFields) {
  std::string problem;
  auto message = ParseHttpResponse(
      "HTTP/1.0 301 Moved Permanently\r\nlocation: /new\r\nContent-Type: text/html; "
      "charset=koi8-r\r\n"
      "X-Folded: a\r\n b\r\n\r\n",
      kNoLimit, problem);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Status, 301);
  EXPECT_EQ(message->Reason, "Moved Permanently");
  EXPECT_EQ(message->Location, "/new");
  EXPECT_EQ(message->ContentType, "text/html; charset=koi8-r");
  EXPECT_EQ(message->HeaderLines,
            (std::vector<std::string>{"location: /new", "Content-Type: text/html; charset=koi8-r",
                                      "X-Folded: a", " b"}));
  EXPECT_TRUE(message->Complete);
  EXPECT_EQ(problem, "");
  // LF alone, no reason.
  message = ParseHttpResponse("HTTP/1.1 404\nServer: x\n\nnot here", kNoLimit, problem);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Status, 404);
  EXPECT_EQ(message->Reason, "");
  EXPECT_EQ(message->Body, "not here");
}

TEST(ParseHttpResponse, ContentLengthFramesTheBody) {
  EXPECT_EQ(Parsed(WithBody("Content-Length: 5\r\n", "hello")), "hello | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Length: 5\r\n", "hello, and more")), "hello | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Length: 9\r\n", "hello")),
            "hello | incomplete: HTTP body shorter than its Content-Length");
  // Without a length, or with one that is no number, the body runs to the block's end.
  EXPECT_EQ(Parsed(WithBody("", "to the end")), "to the end | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Length: 5x\r\n", "to the end")), "to the end | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Length: 5\r\n", "hello"), 3),
            "hel | incomplete: HTTP body longer than 3 bytes");
}

TEST(ParseHttpResponse, ChunksAreJoined) {
  const std::string te = "Transfer-Encoding: chunked\r\n";
  EXPECT_EQ(Parsed(WithBody(te, Chunked("hello world", 4))), "hello world | whole");
  EXPECT_EQ(Parsed(WithBody(te, "5;name=v\r\nhello\r\n0\r\nTrailer: x\r\n\r\n")), "hello | whole");
  EXPECT_EQ(Parsed(WithBody(te, "5\nhello\n6\n world\n0\n\n")), "hello world | whole");
  EXPECT_EQ(
      Parsed(WithBody("Transfer-Encoding: Chunked\r\nContent-Length: 2\r\n", Chunked("abc", 1))),
      "abc | whole");
  EXPECT_EQ(Parsed(WithBody(te, "5\r\nhello\r\n6\r\n wo")),
            "hello wo | incomplete: chunked HTTP body cut short");
  EXPECT_EQ(Parsed(WithBody(te, "5\r\nhello\r\n")),
            "hello | incomplete: chunked HTTP body cut short");
  EXPECT_EQ(Parsed(WithBody(te, "5\r\nhello\r\nzz\r\n")),
            "hello | incomplete: bad chunk size in the HTTP body");
  EXPECT_EQ(Parsed(WithBody(te, "3\r\nhello\r\n0\r\n\r\n")),
            "hel | incomplete: chunk data longer than its size in the HTTP body");
  // Sizes far beyond the block: the data there is all there is.
  EXPECT_EQ(Parsed(WithBody(te, "ffffffffffff\r\nx")),
            "x | incomplete: chunked HTTP body cut short");
  EXPECT_EQ(Parsed(WithBody(te, "fffffffffffffffff\r\nx")),
            " | incomplete: bad chunk size in the HTTP body");
}

TEST(ParseHttpResponse, GzipAndDeflateBodiesAreDecoded) {
  const std::string page = "<html>" + std::string(5000, 'w') + "</html>";
  const std::string gzip = Gzipped(page);
  const std::string length = "Content-Length: " + std::to_string(gzip.size()) + "\r\n";
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: gzip\r\n" + length, gzip)), page + " | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: x-gzip\r\n", gzip)), page + " | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
                            Chunked(gzip, 100))),
            page + " | whole");
  // Members one after the other make one body.
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: gzip\r\n", Gzipped("ab") + Gzipped("cd"))),
            "abcd | whole");
  // "deflate" comes with zlib's wrapping, or raw from some servers.
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: deflate\r\n", Deflated(page, 15))),
            page + " | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: deflate\r\n", Deflated(page, -15))),
            page + " | whole");
  // br and zstd too, as the client asks for them.
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: br\r\n", testsupport::Brotli(page))),
            page + " | whole");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: zstd\r\n", testsupport::Zstd(page))),
            page + " | whole");
  // Codings stack in the order they were applied.
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: gzip, identity\r\nContent-Encoding: deflate\r\n",
                            Deflated(gzip, 15))),
            page + " | whole");
}

TEST(ParseHttpResponse, CompressedBodiesThatAreDamagedCutOrTooLargeAreIncomplete) {
  const std::string page = "<html>" + std::string(5000, 'w') + "</html>";
  const std::string gzip = Gzipped(page);
  const std::string encoded = "Content-Encoding: gzip\r\n";
  std::string damaged = gzip;
  for (std::size_t i = 12; i < 20; ++i) damaged[i] = static_cast<char>(~damaged[i]);
  EXPECT_TRUE(
      Parsed(WithBody(encoded, damaged)).find(" | incomplete: damaged compressed HTTP body: ") !=
      std::string::npos);
  std::string cut = Parsed(WithBody(encoded, gzip.substr(0, gzip.size() - 10)));
  EXPECT_TRUE(cut.ends_with(" | incomplete: compressed HTTP body cut short")) << cut;
  EXPECT_TRUE(page.starts_with(cut.substr(0, cut.find(" | "))));
  // Chunks cut short: what arrived is decoded as far as it goes.
  std::string text;
  testsupport::SplitMix64 random(3);
  while (text.size() < 20000) text += "wort" + std::to_string(random.Below(100000)) + " ";
  const std::string chunks = Chunked(Gzipped(text), 1000);
  std::string received = Parsed(WithBody("Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n",
                                         chunks.substr(0, chunks.size() / 2)));
  std::size_t decoded = received.find(" | ");
  EXPECT_GT(decoded, 1000u);
  EXPECT_EQ(received.substr(decoded), " | incomplete: chunked HTTP body cut short");
  EXPECT_TRUE(text.starts_with(received.substr(0, decoded)));
  // A bomb: 16 MiB of zeros in 16 KiB stops at the limit.
  const std::string bomb = Deflated(std::string(16 << 20, '\0'), 31, 9);
  std::string problem;
  auto message = ParseHttpResponse(WithBody(encoded, bomb), 1 << 20, problem);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Body.size(), 1u << 20);
  EXPECT_FALSE(message->Complete);
  EXPECT_EQ(problem, "decoded HTTP body longer than 1048576 bytes");
  // Exactly the limit is whole.
  EXPECT_EQ(Parsed(WithBody(encoded, Gzipped("12345")), 5), "12345 | whole");
  EXPECT_EQ(Parsed(WithBody(encoded, Gzipped("123456")), 5),
            "12345 | incomplete: decoded HTTP body longer than 5 bytes");
}

TEST(ParseHttpResponse, NoResponseOrACodingThatCannotBeUndoneIsNoMessage) {
  EXPECT_EQ(Parsed(""), "none: no HTTP response");
  EXPECT_EQ(Parsed("<html>HTTP/1.1 200 OK</html>"), "none: no HTTP response");
  EXPECT_EQ(Parsed("HTTP/1.1 2x0 OK\r\n\r\n"), "none: no HTTP response");
  EXPECT_EQ(Parsed("HTTP/1.1 099 Low\r\n\r\n"), "none: no HTTP response");
  EXPECT_EQ(Parsed("HTTP/1.1\r\n\r\n"), "none: no HTTP response");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: compress\r\n", "x")),
            "none: HTTP body in a coding this reader cannot undo: compress");
  EXPECT_EQ(Parsed(WithBody("Content-Encoding: gzip,gzip,gzip,gzip,gzip\r\n", "x")),
            "none: HTTP body in more than 4 codings");
}

TEST(ParseHttpResponse, InterimAnswersArePassedOverAndSomeStatusesHaveNoBody) {
  std::string problem;
  auto message = ParseHttpResponse(
      "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n" + WithBody("", "final"),
      kNoLimit, problem);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Status, 200);
  EXPECT_EQ(message->Body, "final");
  for (const char* status : {"204 No Content", "304 Not Modified", "101 Switching Protocols"}) {
    message =
        ParseHttpResponse(std::string("HTTP/1.1 ") + status + "\r\n\r\nbytes", kNoLimit, problem);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->Body, "");
    EXPECT_TRUE(message->Complete);
  }
  std::string interims;
  for (int i = 0; i < 9; ++i) interims += "HTTP/1.1 100 Continue\r\n\r\n";
  EXPECT_EQ(Parsed(interims + WithBody("", "x")), "none: more than 8 interim HTTP answers");
}

TEST(ParseHttpResponse, AHeaderCutShortIsAnIncompleteMessageWithWhatItHas) {
  std::string problem;
  auto message = ParseHttpResponse("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Le",
                                   kNoLimit, problem);
  ASSERT_TRUE(message);
  EXPECT_EQ(message->Status, 200);
  EXPECT_EQ(message->ContentType, "text/html");
  EXPECT_FALSE(message->Complete);
  EXPECT_EQ(problem, "HTTP header cut short");
  message = ParseHttpResponse("HTTP/1.1 200 OK", kNoLimit, problem);
  ASSERT_TRUE(message);
  EXPECT_FALSE(message->Complete);
}

}  // namespace
