// Writes DIR/crawl.warc.gz: the archive tirasel-cli --warc makes of a crawl
// of a loopback site with relocations and failures, for independent readers
// to check (tests/warc/WarcioCheck.sh).
#include <cstdio>
#include <string>

#include "CliProcess.h"
#include "ConcurrentSiteServer.h"
#include "FixtureSite.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  auto pages = testsite::FixtureSite();
  pages["/a/alt.html"] = "HTTP/1.0 301 Moved\r\nLocation: {ROOT}a/refresh.html\r\n\r\n";
  pages["/a/index.html"] += "<a href=alt.html>alt</a><a href=kurz.html>kurz</a>";
  pages["/a/kurz.html"] = "HTTP/1.0 200 OK\r\nContent-Length: 900\r\n\r\n<p>kurz</p>";
  testpeer::ConcurrentSiteServer site(pages);
  const clitest::Result run = clitest::RunCli(
      {"--warc", std::string(argv[1]) + "/crawl.warc.gz", site.Root() + "a/index.html"});
  if (run.status != 0) std::fputs(run.err.c_str(), stderr);
  return run.status;
}
