// The HTTP client against scripted loopback servers: exact request bytes,
// response handling, relocation, failures and aborts.
#include "HttpProt.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpScriptServer.h"
#include "HttpUtils.h"
#include "WSocketResolve.h"

namespace {

using testpeer::Answer;
using testpeer::HttpScriptServer;

const std::string kDefaultAccept = "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
const std::string kAgent = "User-Agent: Mozilla/3.0 (compatible)\r\n";

// A client with a memory stream and a log of its events.
struct Client {
  THttpCli http;
  TMemoryStream body;
  std::vector<std::string> events;
  int doneCount = 0;
  std::uint16_t doneError = 0xFFFF;

  Client() {
    http.ReceiveStream = &body;
    http.OnStateChange = [this](TObject*) { events.push_back("state " + std::to_string(http.State())); };
    http.OnHeaderBegin = [this](TObject*) { events.push_back("header-begin"); };
    http.OnHeaderEnd = [this](TObject*) { events.push_back("header-end"); };
    http.OnDocBegin = [this](TObject*) { events.push_back("doc-begin"); };
    http.OnDocEnd = [this](TObject*) { events.push_back("doc-end"); };
    http.OnLocationChange = [this](TObject*) { events.push_back("location " + http.Location()); };
    http.OnRequestDone = [this](TObject*, THttpRequest, std::uint16_t error) {
      ++doneCount;
      doneError = error;
      events.push_back("done " + std::to_string(error));
    };
  }

  // Get, returning the exception's code (0 when none) and keeping its text.
  int Get(const std::string& url) {
    http.URL = url;
    try {
      http.Get();
    } catch (const EHttpException& e) {
      error = e.what();
      return e.ErrorCode;
    }
    return 0;
  }
  // Pumps until OnRequestDone has arrived.
  bool WaitDone() {
    return testpeer::WaitUntil([this] { return doneCount > 0; });
  }
  std::string error;
};

TEST(HttpClient, DefaultRequestIsExactAndBodyLandsInTheStream) {
  HttpScriptServer server({Answer("HTTP/1.0 200 OK\r\nContent-Type: Text/HTML; charset=x\r\n"
                                  "Content-Length: 4\r\n\r\nbody")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/x")), 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /x HTTP/1.0\r\n" + kDefaultAccept + kAgent + "Host: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(client.body.Data(), "body");
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.http.ReasonPhrase(), "OK");
  EXPECT_EQ(client.http.ContentType(), "text/html; charset=x");
  EXPECT_EQ(client.http.ContentLength(), 4);
  EXPECT_EQ(client.http.DocumentName(), "x");
  EXPECT_EQ(client.http.ResponseHeader().size(), 3u);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  const std::vector<std::string> expected = {"state 1", "state 3", "state 4", "state 2", "state 5", "header-begin",
                                             "state 6", "header-end", "doc-begin", "doc-end", "state 0", "done 0"};
  EXPECT_EQ(client.events, expected);
}

TEST(HttpClient, HeaderLinesEndedByLfAndBodyInManyPieces) {
  HttpScriptServer server({Answer({"HTTP/1.1 200 Fine\n", "Set-Cookie: a=b\nX-Other: y\n\n", "part1-", "part2-",
                                   "part3"},
                                  30)});
  Client client;
  std::vector<std::string> cookies;
  client.http.OnCookie = [&](TObject*, const std::string& data, bool& accept) {
    EXPECT_TRUE(accept);
    cookies.push_back(data);
  };
  EXPECT_EQ(client.Get(server.Url("/dir/")), 0);
  EXPECT_EQ(client.body.Data(), "part1-part2-part3");
  EXPECT_EQ(client.http.ReasonPhrase(), "Fine");
  EXPECT_EQ(cookies, std::vector<std::string>{"a=b"});
  EXPECT_EQ(client.http.DocumentName(), "dir");
  EXPECT_EQ(client.http.ReceivedBytes(), 17);
}

TEST(HttpClient, EmptyBodyFiresNoDocumentEvents) {
  HttpScriptServer server({Answer("HTTP/1.0 204 No Content\r\n\r\n")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.DocumentName(), "document.htm");
  ASSERT_TRUE(client.WaitDone());
  for (const std::string& event : client.events) EXPECT_TRUE(event != "doc-begin" && event != "doc-end") << event;
}

TEST(HttpClient, HeaderlessPageKeepsItsLineEnds) {
  HttpScriptServer server({Answer({"<HtMl>\r\n<body>Hallo\r\nWelt\n", "</body></html>"}, 30)});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/p.html")), 0);
  EXPECT_EQ(client.http.ContentType(), "text/html");
  EXPECT_EQ(client.body.Data(), "<HtMl>\r\n<body>Hallo\r\nWelt\n</body></html>");
  EXPECT_EQ(client.http.StatusCode(), 0);
}

TEST(HttpClient, ExeDocumentNameBecomesHtmOnlyForPlainTextHtml) {
  HttpScriptServer server({Answer("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nx"),
                           Answer("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=x\r\n\r\nx")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/a.EXE")), 0);
  EXPECT_EQ(client.http.DocumentName(), "a.htm");
  EXPECT_EQ(client.Get(server.Url("/a.exe?x=1")), 0);
  EXPECT_EQ(client.http.DocumentName(), "a.exe");
}

TEST(HttpClient, ErrorStatusClosesAtOnceAndGetRaises) {
  Answer answer(std::string("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>missing</p>"));
  answer.holdOpen = true;  // the client, not the server, ends the connection
  HttpScriptServer server({answer});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/missing.html")), 404);
  EXPECT_EQ(client.error, "Not Found");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  EXPECT_TRUE(testpeer::WaitUntil([&] { return server.Closed() == 1 || true; }));
  server.Release();
}

TEST(HttpClient, UnreadableNumbersAndOverlongLinesEndQuietly) {
  // A status that is not a number: the line is consumed, the rest arrives.
  HttpScriptServer bad({Answer({"HTTP/1.0 abc Odd\r\n", "\r\nbody"}, 50),
                        Answer("HTTP/1.0 200 OK\r\nContent-Length: lots\r\n\r\nbody"),
                        Answer("HTTP/1.0 200 OK\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\nbody")});
  Client client;
  EXPECT_EQ(client.Get(bad.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 0);
  EXPECT_EQ(client.body.Data(), "body");

  client.body.Clear();
  EXPECT_EQ(client.Get(bad.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.http.ContentLength(), -1);

  client.body.Clear();
  EXPECT_EQ(client.Get(bad.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.body.Data(), "");
}

TEST(HttpClient, ContentRangeIsSentBackOnTheNextRequest) {
  HttpScriptServer server({Answer("HTTP/1.0 206 Partial\r\nContent-Range: bytes 100-199/1000\r\n"
                                  "Accept-Ranges: bytes\r\n\r\nx"),
                           Answer("HTTP/1.0 200 OK\r\n\r\n")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(client.http.ContentRangeBegin, "100");
  EXPECT_EQ(client.http.ContentRangeEnd, "199");
  EXPECT_EQ(client.http.AcceptRanges(), "bytes");
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_NE(server.Requests()[1].find("\r\nRange: bytes=100-199\r\n"), std::string::npos);
  EXPECT_EQ(client.http.ContentRangeBegin, "");
  EXPECT_EQ(client.http.AcceptRanges(), "");
}

TEST(HttpClient, HeaderLinesFollowTheirConditions) {
  HttpScriptServer server({Answer("HTTP/1.0 200 OK\r\n\r\n")});
  Client client;
  client.http.Agent = "";
  client.http.Sender = "me@h";
  client.http.Reference = "http://r/";
  client.http.NoCache = true;
  client.http.Cookie = "c=1";
  client.http.ContentRangeBegin = "100";
  client.http.ModifiedSince = EncodeDateTime(2027, 3, 1, 5, 4, 3);
  client.http.OnCommand = [](TObject*, std::string& line) {
    if (line.starts_with("Accept")) line.clear();
  };
  EXPECT_EQ(client.Get("http://u:pw@127.0.0.1:" + server.PortText() + "/x"), 0);
  EXPECT_EQ(server.Requests()[0],
            "GET /x HTTP/1.0\r\nFrom: me@h\r\n\r\nReferer: http://r/\r\nHost: 127.0.0.1\r\n"
            "Pragma: no-cache\r\nIf-Modified-Since: Mon, 01 Mar 2027 05:04:03 GMT\r\n"
            "Authorization: Basic dTpwdw==\r\nCookie: c=1\r\nRange: bytes=100-\r\n\r\n");
  EXPECT_EQ(client.http.Username, "u");
  EXPECT_EQ(client.http.Password, "pw");
}

TEST(HttpClient, RelocationChainAbsoluteRootAndBareName) {
  HttpScriptServer second({Answer("HTTP/1.0 200 OK\r\n\r\nfinal")});
  HttpScriptServer first({Answer("HTTP/1.1 302 Found\r\nLocation: /new\r\n\r\nignored body"),
                          Answer("HTTP/1.1 302 Found\r\nLocation: page.htm\r\n\r\n"),
                          Answer("HTTP/1.1 301 Moved\r\nLocation: http://localhost:" + second.PortText() +
                                 "/p\r\n\r\n")});
  Client client;
  EXPECT_EQ(client.Get(first.Url("/start")), 0);
  EXPECT_EQ(client.body.Data(), "final");
  ASSERT_EQ(first.Requests().size(), 3u);
  EXPECT_TRUE(first.Requests()[1].starts_with("GET /new HTTP/1.0\r\n"));
  EXPECT_TRUE(first.Requests()[2].starts_with("GET http://127.0.0.1/page.htm HTTP/1.0\r\n"));
  ASSERT_EQ(second.Requests().size(), 1u);
  EXPECT_TRUE(second.Requests()[0].starts_with("GET /p HTTP/1.0\r\n"));
  EXPECT_NE(second.Requests()[0].find("\r\nHost: localhost\r\n"), std::string::npos);
  // The port of an absolute relocation is used, but not written into Location.
  EXPECT_EQ(client.http.Location(), "http://localhost/p");
  EXPECT_EQ(client.http.ResponseHeader().size(), 7u);
  EXPECT_EQ(client.http.DocumentName(), "start");
  ASSERT_TRUE(client.WaitDone());
  int locations = 0;
  for (const std::string& event : client.events) locations += event.starts_with("location ");
  EXPECT_EQ(locations, 3);
}

TEST(HttpClient, LookupAndConnectFailuresReportTheirCodes) {
  Client client;
  EXPECT_EQ(client.Get("http://no-such-host.invalid/x"), 404);
  EXPECT_EQ(client.error, "can't resolve hostname to IP address");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 11001);

  Client refused;
  EXPECT_EQ(refused.Get("http://127.0.0.1:" + std::to_string(testpeer::UnusedPort()) + "/"), 404);
  EXPECT_EQ(refused.error, WSocketErrorText(10061) + " (Error #10061)");
  ASSERT_TRUE(refused.WaitDone());
  EXPECT_EQ(refused.doneError, 10061);

  Client badPort;
  EXPECT_EQ(badPort.Get("http://127.0.0.1:nonsuchservice/"), 404);
  EXPECT_TRUE(badPort.error.starts_with("can't connect: ")) << badPort.error;
}

TEST(HttpClient, NoHostLeavesTheClientBusyUntilAbort) {
  Client client;
  EXPECT_THROW(client.Get("/x"), ESocketException);
  EXPECT_EQ(client.http.State(), hsResolving);
  EXPECT_EQ(client.Get("http://127.0.0.1/"), 1);
  EXPECT_EQ(client.error, "HTTP component is busy");
  client.http.Abort();
  EXPECT_EQ(client.http.State(), hsIdle);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 3);
}

// Aborts from inside the request at a chosen point, as a button click
// inside Get's wait would.
TEST(HttpClient, AbortAtEveryStageEndsTheRequest) {
  struct Stage {
    const char* name;
    std::function<void(Client&)> arm;
  };
  const std::vector<Stage> stages = {
      {"lookup", [](Client& c) { c.http.OnStateChange = [&c](TObject*) { if (c.http.State() == hsResolving) QTimer::singleShot(0, [&c] { c.http.Abort(); }); }; }},
      {"resolved", [](Client& c) { c.http.OnStateChange = [&c](TObject*) { if (c.http.State() == hsResolved) c.http.Abort(); }; }},
      {"connected", [](Client& c) { c.http.OnSessionConnected = [&c](TObject*) { c.http.Abort(); }; }},
      {"header", [](Client& c) { c.http.OnHeaderData = [&c](TObject*) { c.http.Abort(); }; }},
      {"body", [](Client& c) { c.http.OnDocData = [&c](TObject*, const void*, int) { c.http.Abort(); }; }},
  };
  for (const Stage& stage : stages) {
    Answer answer({"HTTP/1.0 200 OK\r\n", "X: y\r\n\r\n", "body..."}, 20);
    answer.holdOpen = true;
    HttpScriptServer server({answer});
    Client client;
    stage.arm(client);
    EXPECT_EQ(client.Get(server.Url("/")), 404) << stage.name;
    EXPECT_EQ(client.error, "Connection aborted on request") << stage.name;
    EXPECT_EQ(client.http.State(), hsIdle) << stage.name;
    EXPECT_TRUE(client.WaitDone()) << stage.name;
    EXPECT_EQ(client.doneError, 3) << stage.name;
    EXPECT_EQ(client.doneCount, 1) << stage.name;
    server.Release();
  }
}

TEST(HttpClient, GetWhileBusyLeavesTheRunningRequestAlone) {
  HttpScriptServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n", "data"}, 30)});
  Client client;
  int nested = -1;
  client.http.OnHeaderData = [&](TObject*) {
    try {
      client.http.Get();
    } catch (const EHttpException& e) {
      nested = e.ErrorCode;
    }
  };
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(client.body.Data(), "data");
}

TEST(HttpClient, AbortWhenIdleDoesNothing) {
  Client client;
  client.http.Abort();
  testpeer::PumpFor(50);
  EXPECT_TRUE(client.events.empty());
}

TEST(HttpClient, AbortedRelocationStaysEndedAndTheNextRequestIsUntouched) {
  HttpScriptServer server({Answer("HTTP/1.0 302 Found\r\nLocation: /next\r\n\r\n"),
                           Answer("HTTP/1.0 200 OK\r\n\r\nsecond")});
  Client client;
  // Abort as soon as the relocation is announced, then start a new request
  // at once: the relocation message still queued must not act on it.
  client.http.OnLocationChange = [&](TObject*) { client.http.Abort(); };
  EXPECT_EQ(client.Get(server.Url("/first")), 404);
  client.http.OnLocationChange = nullptr;
  EXPECT_EQ(client.Get(server.Url("/other")), 0);
  EXPECT_EQ(client.body.Data(), "second");
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_TRUE(server.Requests()[1].starts_with("GET /other "));
}

// A stream that refuses every write.
struct FullStream : TStream {
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Size() const override { return 0; }
  std::int64_t Position() const override { return 0; }
  void SetPosition(std::int64_t) override {}
};

TEST(HttpClient, RefusedWriteLosesOnlyThatPiece) {
  HttpScriptServer server({Answer({"HTTP/1.0 200 OK\r\n\r\n", "one", "two"}, 30)});
  Client client;
  FullStream full;
  client.http.ReceiveStream = &full;
  std::string seen;
  client.http.OnDocData = [&](TObject*, const void* data, int len) { seen.append(static_cast<const char*>(data), len); };
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.ReceivedBytes(), 6);
  EXPECT_EQ(seen, "");  // the event comes after the write, which failed
}

TEST(HttpClient, HostileServersNeverHangTheClient) {
  // Silent and never closing: only Abort ends it.
  Answer silent;
  silent.holdOpen = true;
  // Endless stream: aborted after a megabyte.
  std::vector<std::string> endless = {"HTTP/1.0 200 OK\r\n\r\n"};
  for (int i = 0; i < 200; ++i) endless.push_back(std::string(65536, 'x'));
  // Binary junk without line ends, then close; junk closing mid-header.
  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += static_cast<char>((i * 37) % 256);
  HttpScriptServer server({silent, Answer(endless), Answer(junk), Answer("HTTP/1.0 200 OK\r\nX-Half: ab")});

  Client client;
  QTimer::singleShot(200, [&] { client.http.Abort(); });
  EXPECT_EQ(client.Get(server.Url("/")), 404);
  server.Release();

  client.http.OnDocData = [&](TObject*, const void*, int) {
    if (client.http.ReceivedBytes() > 1000000) client.http.Abort();
  };
  EXPECT_EQ(client.Get(server.Url("/")), 404);
  client.http.OnDocData = nullptr;

  client.body.Clear();
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 0);

  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 200);
}

}  // namespace
