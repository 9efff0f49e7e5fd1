// The HTTP client against scripted loopback servers: exact request bytes,
// response handling, relocation, failures and aborts.
#include "HttpProt.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HttpScriptServer.h"
#include "HttpUtils.h"
#include "SiteServer.h"
#include "SocketErrors.h"

namespace {

using testpeer::Answer;
using testpeer::HttpScriptServer;

const std::string kDefaultAccept =
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n";
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
    http.OnStateChange = [this](TObject*) {
      events.push_back("state " + std::to_string(http.State()));
    };
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
  HttpScriptServer server(
      {Answer("HTTP/1.0 200 OK\r\nContent-Type: Text/HTML; charset=x\r\n"
              "Content-Length: 4\r\n\r\nbody")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/x")), 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /x HTTP/1.0\r\n" + kDefaultAccept + kAgent + "Host: 127.0.0.1\r\n\r\n");
  EXPECT_EQ(client.body.Data(), "body");
  EXPECT_EQ(client.http.StatusCode(), 200);
  EXPECT_EQ(client.http.ReasonPhrase(), "OK");
  EXPECT_EQ(client.http.ContentType(), "text/html; charset=x");
  EXPECT_EQ(client.http.ContentLength(), 4);
  EXPECT_EQ(client.http.DocumentName(), "x");
  EXPECT_EQ(client.http.ResponseHeader().size(), 3u);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  const std::vector<std::string> expected = {"state 1",   "state 3",      "state 4", "state 2",
                                             "state 5",   "header-begin", "state 6", "header-end",
                                             "doc-begin", "doc-end",      "state 0", "done 0"};
  EXPECT_EQ(client.events, expected);
}

TEST(HttpClient, HeaderLinesEndedByLfAndBodyInManyPieces) {
  HttpScriptServer server({Answer(
      {"HTTP/1.1 200 Fine\n", "Set-Cookie: a=b\nX-Other: y\n\n", "part1-", "part2-", "part3"},
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
  for (const std::string& event : client.events)
    EXPECT_TRUE(event != "doc-begin" && event != "doc-end") << event;
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
  HttpScriptServer server(
      {Answer("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\nx"),
       Answer("HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=x\r\n\r\nx")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/a.EXE")), 0);
  EXPECT_EQ(client.http.DocumentName(), "a.htm");
  EXPECT_EQ(client.Get(server.Url("/a.exe?x=1")), 0);
  EXPECT_EQ(client.http.DocumentName(), "a.exe");
}

TEST(HttpClient, ErrorStatusClosesAtOnceAndGetRaises) {
  Answer answer(
      std::string("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<p>missing</p>"));
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

TEST(HttpClient, UnreadableStatusAndOverlongLinesFailTheRequest) {
  // Each arrives in one block with the rest of the response.
  HttpScriptServer bad(
      {Answer("HTTP/1.0 abc Odd\r\nX-After: y\r\n\r\nbody"),
       Answer("HTTP/1.1 20 Short\r\n\r\nbody"),
       // A sign is no digit of a status code.
       Answer("HTTP/1.0 +20 Signed\r\n\r\nbody"),
       Answer("HTTP/1.0 200 OK\r\nX-Long: " + std::string(9000, 'a') + "\r\n\r\nbody")});
  const std::vector<std::pair<std::uint16_t, std::string>> expected = {
      {kHttpErrorBadStatus, "Unreadable status line"},
      {kHttpErrorBadStatus, "Unreadable status line"},
      {kHttpErrorBadStatus, "Unreadable status line"},
      {kHttpErrorLineTooLong, "HTTP line too long"}};
  for (const auto& [code, text] : expected) {
    Client client;
    EXPECT_EQ(client.Get(bad.Url("/")), 404) << text;
    EXPECT_EQ(client.error, text);
    EXPECT_EQ(client.doneError, code);
    EXPECT_EQ(client.http.StatusCode(), 404);
    EXPECT_EQ(client.body.Data(), "");
  }
}

TEST(HttpClient, UnreadableContentLengthIsIgnoredAndTheResponseReadOn) {
  const std::vector<std::string> values = {"abc", "", "12x", "-5", "99999999999999999999999"};
  std::vector<Answer> answers;
  for (const std::string& value : values) {
    answers.push_back(Answer("HTTP/1.0 200 OK\r\nContent-Length: " + value +
                             "\r\nContent-Type: text/plain\r\n\r\nbody"));
  }
  HttpScriptServer server(answers);
  for (const std::string& value : values) {
    Client client;
    EXPECT_EQ(client.Get(server.Url("/")), 0) << value;
    EXPECT_EQ(client.http.StatusCode(), 200);
    EXPECT_EQ(client.http.ContentLength(), -1);
    EXPECT_EQ(client.http.ContentType(), "text/plain");
    EXPECT_EQ(client.body.Data(), "body");
    EXPECT_EQ(client.doneError, 0);
  }
}

// Sends `first`, then `block` again and again until the client goes away
// (bounded: about 100,000 blocks).
void SendEndlessly(int fd, const std::string& first, const std::string& block) {
  if (::send(fd, first.data(), first.size(), MSG_NOSIGNAL) <= 0) return;
  for (int i = 0; i < 100000; ++i) {
    if (::send(fd, block.data(), block.size(), MSG_NOSIGNAL) <= 0) return;
  }
}

TEST(HttpClient, ResponsesPastMaxDocSizeFailBeforeTheirBytesReachTheStream) {
  // 15 bytes of the status line held, and 64 for storing it.
  const std::string header = "HTTP/1.0 200 OK\r\n\r\n";
  std::string manyLines;
  for (int i = 0; i < 12; ++i) manyLines += "X-Filler: 0123456789\r\n";
  HttpScriptServer server({Answer(header + std::string(921, 'x')),
                           Answer(header + std::string(922, 'x')),
                           Answer({header, std::string(600, 'x'), std::string(600, 'y')}),
                           Answer("HTTP/1.0 200 OK\r\n" + manyLines + "\r\nbody"),
                           Answer(header + std::string(5000, 'x'))});
  Client client;
  client.http.MaxDocSize = 1000;
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.body.Data().size(), 921u);

  for (int tooLarge = 0; tooLarge < 3; ++tooLarge) {
    Client failing;
    failing.http.MaxDocSize = 1000;
    EXPECT_EQ(failing.Get(server.Url("/")), 404) << tooLarge;
    EXPECT_EQ(failing.error, "Document larger than the size limit");
    EXPECT_EQ(failing.doneError, kHttpErrorDocTooLarge);
    EXPECT_LE(failing.body.Data().size(), 600u);
  }

  // 0: no limit.
  client.http.MaxDocSize = 0;
  client.body.Clear();
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.body.Data().size(), 5000u);
}

TEST(HttpClient, EndlessResponsesEndAtMaxDocSize) {
  std::string lines;
  for (int i = 0; i < 1000; ++i) lines += "X-More: 0123456789012345678901234567890123456789\r\n";
  testpeer::LoopbackPeer endless(
      [&lines](int fd, testpeer::LoopbackPeer& peer) {
        // The first connection sends an endless body, the second endless header lines.
        if (peer.accepted == 1) {
          SendEndlessly(fd, "HTTP/1.0 200 OK\r\n\r\n", std::string(65536, 'x'));
        } else {
          SendEndlessly(fd, "HTTP/1.0 200 OK\r\n", lines);
        }
      },
      2);
  for (int connection = 1; connection <= 2; ++connection) {
    Client client;
    client.http.MaxDocSize = 1 << 20;
    EXPECT_EQ(client.Get("http://127.0.0.1:" + endless.PortText() + "/"), 404) << connection;
    EXPECT_EQ(client.doneError, kHttpErrorDocTooLarge);
    EXPECT_LE(client.body.Data().size(), 1u << 20);
    EXPECT_LE(client.http.ResponseHeader().size(), 1u << 20);
  }
}

// A header of one-byte lines costs far more than its bytes to keep, and an
// answer's header is gone when the next request starts: WWW-Authenticate
// lines once piled up over a whole run.
TEST(HttpClient, StoredHeaderLinesCountWhatTheyCostAndLastOneRequest) {
  std::string oneByteLines;
  for (int i = 0; i < 5000; ++i) oneByteLines += "x\r\n";
  HttpScriptServer server({Answer("HTTP/1.0 200 OK\r\n" + oneByteLines + "\r\nbody"),
                           Answer("HTTP/1.0 401 No\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
                                  "WWW-Authenticate: Digest realm=\"a\"\r\n\r\n"),
                           Answer("HTTP/1.0 200 OK\r\n\r\nok")});
  Client client;
  client.http.MaxDocSize = 64000;
  EXPECT_EQ(client.Get(server.Url("/")), 404);
  EXPECT_EQ(client.doneError, kHttpErrorDocTooLarge);
  EXPECT_LE(client.http.ResponseHeader().size(), 1000u);

  client.http.MaxDocSize = 0;
  EXPECT_EQ(client.Get(server.Url("/")), 401);
  EXPECT_EQ(client.http.AuthChallenges().size(), 2u);
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_TRUE(client.http.AuthChallenges().empty());
  EXPECT_EQ(client.http.ResponseHeader(), std::vector<std::string>{"HTTP/1.0 200 OK"});
}

// The crawl never asks for part of a page: an answer's Content-Range must not
// cut the next request short. A range set on purpose goes out once.
TEST(HttpClient, ContentRangeOfAnAnswerNeverBecomesTheNextRequestsRange) {
  HttpScriptServer server({Answer("HTTP/1.0 206 Partial\r\nContent-Range: bytes 100-199/1000\r\n"
                                  "Accept-Ranges: bytes\r\n\r\nx"),
                           Answer("HTTP/1.0 200 OK\r\n\r\n"), Answer("HTTP/1.0 200 OK\r\n\r\n"),
                           Answer("HTTP/1.0 200 OK\r\n\r\n")});
  Client client;
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(client.http.ContentRangeBegin, "");
  EXPECT_EQ(client.http.AcceptRanges(), "bytes");
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(server.Requests()[1].find("Range:"), std::string::npos) << server.Requests()[1];
  EXPECT_EQ(client.http.AcceptRanges(), "");

  client.http.ContentRangeBegin = "5";
  client.http.ContentRangeEnd = "9";
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_NE(server.Requests()[2].find("\r\nRange: bytes=5-9\r\n"), std::string::npos);
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(server.Requests()[3].find("Range:"), std::string::npos);
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
                          Answer("HTTP/1.1 301 Moved\r\nLocation: http://localhost:" +
                                 second.PortText() + "/p\r\n\r\n")});
  Client client;
  EXPECT_EQ(client.Get(first.Url("/start")), 0);
  EXPECT_EQ(client.body.Data(), "final");
  ASSERT_EQ(first.Requests().size(), 3u);
  EXPECT_TRUE(first.Requests()[1].starts_with("GET /new HTTP/1.0\r\n"));
  // A bare name is relative to the directory of the address fetched.
  EXPECT_TRUE(first.Requests()[2].starts_with("GET /page.htm HTTP/1.0\r\n"));
  ASSERT_EQ(second.Requests().size(), 1u);
  EXPECT_TRUE(second.Requests()[0].starts_with("GET /p HTTP/1.0\r\n"));
  EXPECT_NE(second.Requests()[0].find("\r\nHost: localhost\r\n"), std::string::npos);
  // Location names the port that was really used.
  EXPECT_EQ(client.http.Location(), "http://localhost:" + second.PortText() + "/p");
  EXPECT_EQ(client.http.ResponseHeader().size(), 7u);
  EXPECT_EQ(client.http.DocumentName(), "start");
  ASSERT_TRUE(client.WaitDone());
  std::vector<std::string> locations;
  for (const std::string& event : client.events) {
    if (event.starts_with("location ")) locations.push_back(event.substr(9));
  }
  EXPECT_EQ(locations, (std::vector<std::string>{first.Url("/new"), first.Url("/page.htm"),
                                                 "http://localhost:" + second.PortText() + "/p"}));
}

// Each row: the Location value answered for /a/b/c.htm, and the request
// line that follows it, directly and through a proxy.
TEST(HttpClient, RelativeLocationsResolveAgainstTheFetchedAddress) {
  struct Row {
    std::string value;
    std::string path;
  };
  const std::vector<Row> rows = {
      {"page.htm", "/a/b/page.htm"},
      {"sub/page.htm", "/a/b/sub/page.htm"},
      {"../x.html", "/a/x.html"},
      {"?q=1", "/a/b/c.htm?q=1"},
      {"/root.htm", "/root.htm"},
      {"./here.htm", "/a/b/here.htm"},
      // A scheme without a host leaves the rest relative.
      {"http:y.htm", "/a/b/y.htm"},
      // More steps up than there are levels stop at the root.
      {"../../../../x", "/x"},
  };
  for (const Row& row : rows) {
    HttpScriptServer server({Answer("HTTP/1.0 302 Found\r\nLocation: " + row.value + "\r\n\r\n"),
                             Answer("HTTP/1.0 200 OK\r\n\r\nok")});
    Client direct;
    EXPECT_EQ(direct.Get(server.Url("/a/b/c.htm")), 0) << row.value;
    ASSERT_EQ(server.Requests().size(), 2u) << row.value;
    EXPECT_TRUE(server.Requests()[1].starts_with("GET " + row.path + " HTTP/1.0\r\n"))
        << server.Requests()[1];
    EXPECT_EQ(direct.http.Location(), server.Url(row.path));

    HttpScriptServer proxy({Answer("HTTP/1.0 302 Found\r\nLocation: " + row.value + "\r\n\r\n"),
                            Answer("HTTP/1.0 200 OK\r\n\r\nok")});
    Client proxied;
    proxied.http.Proxy = "127.0.0.1:" + proxy.PortText();
    EXPECT_EQ(proxied.Get("http://www.h.test/a/b/c.htm"), 0) << row.value;
    ASSERT_EQ(proxy.Requests().size(), 2u) << row.value;
    EXPECT_TRUE(
        proxy.Requests()[1].starts_with("GET http://www.h.test" + row.path + " HTTP/1.0\r\n"))
        << proxy.Requests()[1];
    EXPECT_NE(proxy.Requests()[1].find("\r\nHost: www.h.test\r\n"), std::string::npos);
    EXPECT_EQ(proxied.http.Location(), "http://www.h.test" + row.path);
  }
}

TEST(HttpClient, ARelocationLoopEndsAfterTwentyRelocations) {
  std::vector<Answer> answers(HttpMaxRelocations + 1,
                              Answer("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"));
  HttpScriptServer server(answers);
  Client client;
  EXPECT_EQ(client.Get(server.Url("/again")), 404);
  EXPECT_EQ(client.error, "Too many relocations (more than 20)");
  EXPECT_EQ(server.Requests().size(), 21u);
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, kHttpErrorTooManyRelocations);
}

// An https address through a proxy opens a tunnel with CONNECT; the port is
// the scheme's default when the address names none, also after a plain
// address relocated to https. An answer other than 200 ends the request.
TEST(HttpClient, HttpsThroughAProxyAsksForATunnelAndAnswersOtherThan200EndIt) {
  HttpScriptServer proxy({Answer("HTTP/1.0 301 Moved\r\nLocation: HTTPS://www.h.test/y\r\n\r\n"),
                          Answer("HTTP/1.0 403 Forbidden\r\nContent-Length: 0\r\n\r\n"),
                          Answer("HTTP/1.0 302 Found\r\n\r\n")});
  Client client;
  client.http.Proxy = "127.0.0.1:" + proxy.PortText();
  client.http.ProxyUsername = "u";
  client.http.ProxyPassword = "pw";
  EXPECT_EQ(client.Get("http://www.h.test/x"), 403);
  EXPECT_EQ(client.error, "Forbidden");
  EXPECT_EQ(client.http.Location(), "https://www.h.test/y");
  ASSERT_EQ(proxy.Requests().size(), 2u);
  EXPECT_EQ(proxy.Requests()[1],
            "CONNECT www.h.test:443 HTTP/1.0\r\nHost: www.h.test:443\r\nProxy-Authorization: Basic "
            "dTpwdw==\r\n\r\n");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, kHttpErrorTunnelRefused);

  // A refusal with a status below 400 must not pass for a success.
  Client second;
  second.http.Proxy = "127.0.0.1:" + proxy.PortText();
  EXPECT_EQ(second.Get("https://www.h.test:8443/z"), 404);
  EXPECT_EQ(second.error, "Proxy refused the tunnel: HTTP/1.0 302 Found");
  ASSERT_EQ(proxy.Requests().size(), 3u);
  EXPECT_TRUE(proxy.Requests()[2].starts_with("CONNECT www.h.test:8443 HTTP/1.0\r\n"));
}

TEST(HttpClient, LookupAndConnectFailuresReportTheirCodes) {
  Client client;
  EXPECT_EQ(client.Get("http://no-such-host.invalid/x"), 404);
  EXPECT_EQ(client.error, "can't resolve hostname to IP address");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, winsock::WSAHOST_NOT_FOUND);

  Client refused;
  EXPECT_EQ(refused.Get("http://127.0.0.1:" + std::to_string(testpeer::UnusedPort()) + "/"), 404);
  EXPECT_EQ(refused.error, WSocketErrorText(winsock::WSAECONNREFUSED) + " (Error #10061)");
  ASSERT_TRUE(refused.WaitDone());
  EXPECT_EQ(refused.doneError, winsock::WSAECONNREFUSED);
}

// An address the client cannot send fails like a host that does not
// exist, or as a bad port, without a byte reaching anybody; the client is
// ready for the next request at once.
TEST(HttpClient, AddressesThatCannotBeSentFailAndLeaveTheClientReady) {
  HttpScriptServer server({Answer("HTTP/1.0 200 OK\r\n\r\nok")});
  const std::string port = server.PortText();
  struct Row {
    std::string url;
    std::uint16_t error;
  };
  const std::vector<Row> rows = {
      {"/x", winsock::WSAHOST_NOT_FOUND},
      // What "../x.html" on a root page resolves to.
      {"http:/x.html", winsock::WSAHOST_NOT_FOUND},
      {"http://:" + port + "/", winsock::WSAHOST_NOT_FOUND},
      {"http://local\rhost:" + port + "/", winsock::WSAHOST_NOT_FOUND},
      // 83627 once wrapped to 18091, "18091abc" connected to 18091.
      {"http://127.0.0.1:83627/", kHttpErrorBadPort},
      {"http://127.0.0.1:" + port + "abc/", kHttpErrorBadPort},
      {"http://127.0.0.1:0/", kHttpErrorBadPort},
      {"http://127.0.0.1:-80/", kHttpErrorBadPort},
      {"http://127.0.0.1:nonsuchservice/", kHttpErrorBadPort},
  };
  Client client;
  for (const Row& row : rows) {
    client.doneCount = 0;
    EXPECT_EQ(client.Get(row.url), 404) << row.url;
    EXPECT_EQ(client.http.State(), hsIdle) << row.url;
    ASSERT_TRUE(client.WaitDone()) << row.url;
    EXPECT_EQ(client.doneError, row.error) << row.url;
  }
  EXPECT_EQ(client.error, "Invalid port number");
  EXPECT_EQ(server.Connections(), 0);
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.body.Data(), "ok");
}

// A Location whose host holds a CR once became "Host: localhost\rX-Injected..."
// and an injected CONNECT line through a proxy.
TEST(HttpClient, ARelocationToAHostWithALineBreakFailsLikeAnUnknownHost) {
  const std::string location = "Location: http://localhost\rX-Injected-Host: 1/\r\n\r\n";
  HttpScriptServer direct({Answer("HTTP/1.0 302 Found\r\n" + location)});
  Client client;
  EXPECT_EQ(client.Get(direct.Url("/")), 404);
  EXPECT_EQ(client.error, "can't resolve hostname to IP address");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, winsock::WSAHOST_NOT_FOUND);
  EXPECT_EQ(direct.Connections(), 1);

  for (const std::string scheme : {"http", "https"}) {
    HttpScriptServer proxy({Answer("HTTP/1.0 302 Found\r\nLocation: " + scheme +
                                   "://localhost\rX-Injected-Host: 1/\r\n\r\n")});
    Client proxied;
    proxied.http.Proxy = "127.0.0.1:" + proxy.PortText();
    EXPECT_EQ(proxied.Get("http://www.h.test/"), 404) << scheme;
    EXPECT_EQ(proxy.Requests().size(), 1u) << scheme;
    EXPECT_EQ(proxy.Connections(), 1) << scheme;
  }
}

// Header values come from the caller (a user agent typed on a command
// line): one with a line break would add header lines of its own.
TEST(HttpClient, ARequestLineWithALineBreakOrNulIsNeverSent) {
  struct Row {
    std::string what;
    std::function<void(THttpCli&)> set;
  };
  const std::vector<Row> rows = {
      {"agent CR LF", [](THttpCli& http) { http.Agent = "x\r\nX-Injected: 1"; }},
      {"referer LF", [](THttpCli& http) { http.Reference = "http://r/\nX: 1"; }},
      {"cookie NUL", [](THttpCli& http) { http.Cookie = std::string("a=1\0b", 5); }},
      {"a handler's CR",
       [](THttpCli& http) {
         http.OnCommand = [](TObject*, std::string& line) {
           if (line.starts_with("Host:")) line += "\rX: 1";
         };
       }},
  };
  for (const Row& row : rows) {
    testpeer::LoopbackPeer peer(testpeer::LoopbackPeer::Collect);
    Client client;
    row.set(client.http);
    EXPECT_EQ(client.Get("http://127.0.0.1:" + peer.PortText() + "/"), 404) << row.what;
    EXPECT_EQ(client.error, "Line break or NUL in a request header") << row.what;
    ASSERT_TRUE(client.WaitDone());
    EXPECT_EQ(client.doneError, kHttpErrorUnsafeHeader) << row.what;
    ASSERT_TRUE(testpeer::WaitUntil([&] { return peer.done.load(); })) << row.what;
    EXPECT_EQ(peer.Received(), "") << row.what;
  }
}

// Credentials of an address or set by the caller belong to one origin
// (scheme, host, port): a followed link or a relocation elsewhere never
// receives them, in either direction.
TEST(HttpClient, SiteCredentialsGoOnlyToTheOriginTheyWereGivenFor) {
  const std::string kAuth = "\r\nAuthorization: Basic dTpwdw==\r\n";
  HttpScriptServer other({Answer("HTTP/1.0 200 OK\r\n\r\n"), Answer()});
  HttpScriptServer site({Answer("HTTP/1.0 200 OK\r\n\r\n"),
                         Answer("HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" +
                                other.PortText() + "/moved\r\n\r\n"),
                         Answer("HTTP/1.0 200 OK\r\n\r\n"), Answer("HTTP/1.0 200 OK\r\n\r\n")});
  const std::string sitePort = site.PortText();
  other.SetAnswer(1, Answer("HTTP/1.0 302 Found\r\nLocation: " + site.Url("/back") + "\r\n\r\n"));
  Client client;
  EXPECT_EQ(client.Get("http://u:pw@127.0.0.1:" + sitePort + "/"), 0);
  EXPECT_EQ(client.http.AuthOrigin, "http://127.0.0.1:" + sitePort);
  // To the site, then relocated to another port of the same host.
  EXPECT_EQ(client.Get("http://127.0.0.1:" + sitePort + "/page"), 0);
  // Another origin that relocates back to the site.
  EXPECT_EQ(client.Get(other.Url("/")), 0);
  ASSERT_EQ(site.Requests().size(), 3u);
  ASSERT_EQ(other.Requests().size(), 2u);
  EXPECT_NE(site.Requests()[0].find(kAuth), std::string::npos);
  EXPECT_NE(site.Requests()[1].find(kAuth), std::string::npos);
  EXPECT_EQ(other.Requests()[0].find("Authorization"), std::string::npos) << other.Requests()[0];
  EXPECT_EQ(other.Requests()[1].find("Authorization"), std::string::npos) << other.Requests()[1];
  EXPECT_NE(site.Requests()[2].find(kAuth), std::string::npos) << site.Requests()[2];

  // Set by the caller: bound to the first request's origin; a host name of
  // the same address is another origin.
  HttpScriptServer named({Answer("HTTP/1.0 200 OK\r\n\r\n"), Answer("HTTP/1.0 200 OK\r\n\r\n")});
  Client caller;
  caller.http.Username = "u";
  caller.http.Password = "pw";
  EXPECT_EQ(caller.Get("HTTP://127.0.0.1:" + named.PortText() + "/"), 0);
  EXPECT_EQ(caller.Get("http://localhost:" + named.PortText() + "/"), 0);
  ASSERT_EQ(named.Requests().size(), 2u);
  EXPECT_NE(named.Requests()[0].find(kAuth), std::string::npos);
  EXPECT_EQ(named.Requests()[1].find("Authorization"), std::string::npos);
}

// An answer cut short is a failed request, not a page: no status line at all
// (nothing, a reset, header lines without one), or fewer body bytes than
// Content-Length announced. A body without a length ends with the close.
TEST(HttpClient, AnswersCutShortFailWithTheirOwnCodes) {
  struct Row {
    std::string what;
    testpeer::LoopbackPeer::Behaviour serve;
    int status;
    std::uint16_t error;
    std::string body;
  };
  auto answer = [](std::string bytes) {
    // The request is read first: closing with unread bytes would reset.
    return [bytes](int fd, testpeer::LoopbackPeer& peer) {
      peer.ReadRequestHeader(fd);
      testpeer::LoopbackPeer::SendAll(fd, bytes);
    };
  };
  const std::vector<Row> rows = {
      {"nothing", answer(""), 404, kHttpErrorNoStatus, ""},
      {"reset", testpeer::LoopbackPeer::ResetAtOnce, 404, winsock::WSAECONNRESET, ""},
      {"no status line", answer("Content-Type: text/html\r\n\r\n<p>x"), 404, kHttpErrorNoStatus,
       ""},
      {"17 of 1000",
       answer("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(17, 'x')), 404,
       kHttpErrorShortBody, std::string(17, 'x')},
      {"header cut", answer("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n"), 404, kHttpErrorShortBody,
       ""},
      {"no length", answer("HTTP/1.0 200 OK\r\n\r\n" + std::string(17, 'x')), 0, 0,
       std::string(17, 'x')},
      {"no body status", answer("HTTP/1.0 304 Same\r\nContent-Length: 10\r\n\r\n"), 0, 0, ""},
      {"headerless page", answer("<HTML>page\n<p>x"), 0, 0, "<HTML>page\n<p>x"},
      // A page of one line without its end: once lost, the request done.
      {"headerless line", answer("<HTML>page"), 0, 0, "<HTML>page"},
      // The server's own failure stays its own: no code of the client's.
      {"error status", answer("HTTP/1.0 404 Gone\r\nContent-Length: 99\r\n\r\n"), 404, 0, ""},
  };
  for (const Row& row : rows) {
    testpeer::LoopbackPeer peer(row.serve);
    Client client;
    EXPECT_EQ(client.Get("http://127.0.0.1:" + peer.PortText() + "/"), row.status) << row.what;
    EXPECT_EQ(client.body.Data(), row.body) << row.what;
    ASSERT_TRUE(client.WaitDone()) << row.what;
    EXPECT_EQ(client.doneError, row.error) << row.what;
  }
}

// The caller may keep a relocation from being followed: the request ends
// there, done, and the new address is never asked.
TEST(HttpClient, ARelocationRefusedByTheHandlerEndsTheRequestThere) {
  HttpScriptServer target({Answer("HTTP/1.0 200 OK\r\n\r\nthere")});
  HttpScriptServer server({Answer("HTTP/1.0 301 Moved\r\nLocation: " + target.Url("/t") +
                                  "\r\nContent-Length: 5\r\n\r\nmoved"),
                           Answer("HTTP/1.0 302 Found\r\nLocation: /b\r\n\r\n"),
                           Answer("HTTP/1.0 200 OK\r\n\r\nb")});
  Client client;
  std::vector<std::string> asked;
  client.http.OnRelocate = [&](TObject*, bool& follow) {
    asked.push_back(client.http.Location());
    follow = asked.size() > 1;
  };
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(client.http.StatusCode(), 301);
  EXPECT_EQ(client.http.Location(), target.Url("/t"));
  EXPECT_EQ(client.body.Data(), "");
  ASSERT_TRUE(client.WaitDone());
  EXPECT_EQ(client.doneError, 0);
  EXPECT_EQ(target.Connections(), 0);
  EXPECT_EQ(client.Get(server.Url("/a")), 0);
  EXPECT_EQ(client.body.Data(), "b");
  EXPECT_EQ(asked, (std::vector<std::string>{target.Url("/t"), server.Url("/b")}));
}

// Aborts from inside the request at a chosen point, as a button click
// inside Get's wait would.
TEST(HttpClient, AbortAtEveryStageEndsTheRequest) {
  struct Stage {
    const char* name;
    std::function<void(Client&)> arm;
  };
  const std::vector<Stage> stages = {
      {"lookup",
       [](Client& c) {
         c.http.OnStateChange = [&c](TObject*) {
           if (c.http.State() == hsResolving) QTimer::singleShot(0, [&c] { c.http.Abort(); });
         };
       }},
      {"resolved",
       [](Client& c) {
         c.http.OnStateChange = [&c](TObject*) {
           if (c.http.State() == hsResolved) c.http.Abort();
         };
       }},
      {"connected",
       [](Client& c) { c.http.OnSessionConnected = [&c](TObject*) { c.http.Abort(); }; }},
      {"header", [](Client& c) { c.http.OnHeaderData = [&c](TObject*) { c.http.Abort(); }; }},
      {"body",
       [](Client& c) { c.http.OnDocData = [&c](TObject*, const void*, int) { c.http.Abort(); }; }},
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
    EXPECT_EQ(client.doneError, kHttpErrorAborted) << stage.name;
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
  client.http.OnDocData = [&](TObject*, const void* data, int len) {
    seen.append(static_cast<const char*>(data), len);
  };
  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.ReceivedBytes(), 6);
  EXPECT_EQ(seen, "");  // the event comes after the write, which failed
}

// Data arriving as fast as the connection takes it must not keep Get from
// the application's other events: an abort posted as a Qt event, as a click
// on a button is, ends the request while the flood goes on.
TEST(HttpClient, AQtEventPostedDuringAFloodEndsTheGet) {
  for (testpeer::TFlood kind : {testpeer::TFlood::Body, testpeer::TFlood::HeaderLines}) {
    testpeer::SiteServer site({});
    site.Flood("/flood", kind);
    Client client;
    FullStream discard;  // the flood is not kept
    client.http.ReceiveStream = &discard;
    site.WhenFlooded(std::int64_t{1} << 20, [&] { client.http.Abort(); });
    EXPECT_EQ(client.Get(site.Root() + "flood"), 404) << static_cast<int>(kind);
    EXPECT_EQ(client.error, "Connection aborted on request");
    EXPECT_TRUE(testpeer::WaitUntil([&] { return site.FloodCutOff(); })) << site.FloodSent();
  }
}

TEST(HttpClient, HostileServersNeverHangTheClient) {
  // Silent and never closing: only Abort ends it.
  Client client;
  Answer silent;
  silent.holdOpen = true;
  silent.onRequest = [&] { client.http.Abort(); };
  // Endless stream: aborted after a megabyte.
  std::vector<std::string> endless = {"HTTP/1.0 200 OK\r\n\r\n"};
  for (int i = 0; i < 200; ++i) endless.push_back(std::string(65536, 'x'));
  // Binary junk without line ends, then close; junk closing mid-header.
  std::string junk;
  for (int i = 0; i < 20000; ++i) junk += static_cast<char>((i * 37) % 256);
  HttpScriptServer server(
      {silent, Answer(endless), Answer(junk), Answer("HTTP/1.0 200 OK\r\nX-Half: ab")});

  EXPECT_EQ(client.Get(server.Url("/")), 404);
  server.Release();

  client.http.OnDocData = [&](TObject*, const void*, int) {
    if (client.http.ReceivedBytes() > 1000000) client.http.Abort();
  };
  EXPECT_EQ(client.Get(server.Url("/")), 404);
  client.http.OnDocData = nullptr;

  // The junk starts with a 0 byte, which hides every line end behind it.
  client.body.Clear();
  EXPECT_EQ(client.Get(server.Url("/")), 404);
  EXPECT_EQ(client.doneError, kHttpErrorLineTooLong);

  EXPECT_EQ(client.Get(server.Url("/")), 0);
  EXPECT_EQ(client.http.StatusCode(), 200);
}

}  // namespace
