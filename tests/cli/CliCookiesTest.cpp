// tirasel-cli's cookies and header lines against a site behind a consent
// wall (its inner page shows its words only to a request with the cookie
// the front page sets) and a members' area behind a login.
#include <gtest/gtest.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "LoopbackPeer.h"
#include "TempDir.h"

namespace {

using clitest::Result;
using clitest::RunCli;
using testpeer::LoopbackPeer;

// One request per connection; keeps every request header it saw.
class ConsentSite {
 public:
  ConsentSite() : peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); }, 64) {}
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + peer_.PortText() + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard lock(mu_);
    return requests_;
  }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    const std::string request = peer.ReadRequestHeader(fd);
    {
      std::lock_guard lock(mu_);
      requests_.push_back(request);
    }
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n";
    std::string body;
    if (request.starts_with("GET /index.html ")) {
      head += "Set-Cookie: consent=ja; Path=/\r\nSet-Cookie: other=x; Domain=example.org\r\n";
      body = "<p>Vorne</p><a href=\"inner.html\">weiter</a>";
    } else if (request.find("\r\nCookie: consent=ja\r\n") != std::string::npos) {
      body = "<p>Innen Wortschatz</p>";
    } else {
      body = "<p>Zustimmung fehlt</p>";
    }
    LoopbackPeer::SendAll(fd, head + "Content-Length: " + std::to_string(body.size()) +
                                  "\r\n\r\n" + body);
  }

  std::mutex mu_;
  std::vector<std::string> requests_;
  LoopbackPeer peer_;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(CliCookies, ACookieSetByTheSiteOpensItsInnerPages) {
  ConsentSite site;
  TTempDir dir;
  const Result run = RunCli({"--save-cookies", dir.Path("jar.txt"), site.Url("/index.html")});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Vorne\nweiter\nInnen\nWortschatz\n");
  // The cookie for another site was never stored, so never saved.
  const std::string jar = ReadAll(dir.Path("jar.txt"));
  EXPECT_TRUE(jar.starts_with("# Netscape HTTP Cookie File")) << jar;
  EXPECT_NE(jar.find("127.0.0.1\tFALSE\t/\tFALSE\t0\tconsent\tja"), std::string::npos) << jar;
  EXPECT_EQ(jar.find("other"), std::string::npos) << jar;
  // Over HTTP/1.0, as the window fetches, no cookie is kept.
  EXPECT_EQ(RunCli({"--http1.0", site.Url("/index.html")}).out,
            "Vorne\nweiter\nZustimmung\nfehlt\n");
  // A saved jar opens the inner page at once.
  const Result again = RunCli({"--cookies", dir.Path("jar.txt"), site.Url("/inner.html")});
  EXPECT_EQ(again.out, "Innen\nWortschatz\n") << again.err;
}

// A members' area: the login address (credentials in its query, as some
// sites take them) sets the session cookie on its relocation to the
// members' start page; without the session every members' page relocates
// to the login form, and the logout page ends the session.
class LoginSite {
 public:
  LoginSite() : peer_([this](int fd, LoopbackPeer& peer) { Serve(fd, peer); }, 64) {}
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + peer_.PortText() + path;
  }

 private:
  void Serve(int fd, LoopbackPeer& peer) {
    const std::string request = peer.ReadRequestHeader(fd);
    const bool session = request.find("\r\nCookie: session=s1\r\n") != std::string::npos;
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nConnection: close\r\n";
    std::string body;
    if (request.starts_with("GET /login.php?user=anna&pw=geheim ")) {
      head = "HTTP/1.1 302 Found\r\nConnection: close\r\nLocation: /members/index.html\r\n"
             "Set-Cookie: session=s1; Path=/; HttpOnly\r\n";
    } else if (request.starts_with("GET /members/") && !session) {
      head = "HTTP/1.1 302 Found\r\nConnection: close\r\nLocation: /login.html\r\n";
    } else if (request.starts_with("GET /members/index.html ")) {
      body = "<p>Mitglieder</p><a href=\"logout.html\">Abmelden</a><a href=\"liste.html\">Liste</a>";
    } else if (request.starts_with("GET /members/liste.html ")) {
      body = "<p>Geheime Preisliste</p>";
    } else if (request.starts_with("GET /members/logout.html ")) {
      head += "Set-Cookie: session=; Path=/; Max-Age=0\r\n";
      body = "<p>Abgemeldet</p>";
    } else {
      body = "<p>Anmeldung bitte</p>";
    }
    LoopbackPeer::SendAll(fd, head + "Content-Length: " + std::to_string(body.size()) +
                                  "\r\n\r\n" + body);
  }

  LoopbackPeer peer_;
};

TEST(CliCookies, TheLoginsSessionOpensTheMembersPagesUntilTheLogoutEndsIt) {
  LoginSite site;
  const std::string login = site.Url("/login.php?user=anna&pw=geheim");
  // The logout page left out, as CeWL's users do: every members' page.
  const Result run = RunCli({"--parallel", "1", "--exclude", "logout", login});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Mitglieder\nAbmelden\nListe\nGeheime\nPreisliste\n") << run.err;
  // Followed, the logout's expired cookie ends the session: the next page
  // shows the login form.
  const Result out = RunCli({"--parallel", "1", login});
  EXPECT_EQ(out.out, "Mitglieder\nAbmelden\nListe\nAbgemeldet\nAnmeldung\nbitte\n") << out.err;
}

TEST(CliCookies, CookieFilesThatCannotBeReadOrWrittenStopTheRunBeforeItBegins) {
  ConsentSite site;
  TTempDir dir;
  EXPECT_EQ(RunCli({"--cookies", dir.Path("missing.txt"), site.Url("/index.html")}).status, 2);
  EXPECT_EQ(RunCli({"--save-cookies", dir.Path("no/dir/jar.txt"), site.Url("/index.html")}).status,
            2);
  EXPECT_TRUE(site.Requests().empty());
  // Lines that hold no cookie are skipped with a note; the run goes on.
  std::ofstream(dir.Path("bad.txt")) << "kein Keks\n127.0.0.1\tFALSE\t/\tFALSE\t0\tconsent\tja\n";
  const Result run = RunCli({"--cookies", dir.Path("bad.txt"), site.Url("/inner.html")});
  EXPECT_EQ(run.out, "Innen\nWortschatz\n");
  EXPECT_NE(run.err.find("the cookie file"), std::string::npos) << run.err;
}

TEST(CliHeaders, HeaderLinesGoWithEveryRequestAndReplaceTheClientsOwn) {
  ConsentSite site;
  const Result run = RunCli({"--header", "X-Projekt: Tirasel", "--header", "User-Agent: Eigener",
                             "--header", "Cookie: consent=ja", site.Url("/inner.html")});
  EXPECT_EQ(run.out, "Innen\nWortschatz\n") << run.err;
  const std::vector<std::string> requests = site.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_NE(requests[0].find("\r\nX-Projekt: Tirasel\r\n"), std::string::npos) << requests[0];
  EXPECT_NE(requests[0].find("\r\nUser-Agent: Eigener\r\n"), std::string::npos);
  EXPECT_EQ(requests[0].find("Mozilla"), std::string::npos);
  for (const std::string bad : {"X-Neu", ": leer", "Zwei Worte: x", "X: a\r\nY: b"}) {
    EXPECT_EQ(RunCli({"--header", bad, site.Url("/inner.html")}).status, 2) << bad;
  }
  EXPECT_EQ(site.Requests().size(), 1u);
}

}  // namespace
