// Writes DIR/sample.warc.gz and DIR/sample.warc with every kind of exchange
// the writer knows, for independent readers to check.
#include <cstdio>
#include <exception>
#include <string>

#include "WarcTestArchives.h"

namespace {

using namespace warctest;

void WriteSample(const std::string& path, TWarcCompression compression) {
  TWarcWriter writer(path, compression);
  writer.WriteInfo({{"software", "Tirasel 1.0"}, {"format", "WARC File Format 1.1"}});
  writer.WriteExchange(Exchange("/", Page(1)));
  TWarcExchange chunked = Exchange("/chunked.html", "");
  chunked.ResponseBytes =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + Chunked(Page(2), 50);
  writer.WriteExchange(chunked);
  TWarcExchange gzip = Exchange("/gzip.html", "");
  std::string encoded = Gzipped(Page(3));
  gzip.ResponseBytes = Response(encoded, "Content-Encoding: gzip\r\n");
  writer.WriteExchange(gzip);
  TWarcExchange big = Exchange("/big.html", std::string(1 << 20, 'x'));
  writer.WriteExchange(big);
  writer.WriteExchange(
      Failed("/cut.html", Response(Page(4)).substr(0, 120), 10054, "Connection reset by peer"));
  writer.WriteExchange(Unsent("http://127.0.0.1:9/", 10061, "Connection refused"));
  writer.WriteExchange(Exchange("/odd path/\xe4.html", Page(5)));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  try {
    WriteSample(std::string(argv[1]) + "/sample.warc.gz", TWarcCompression::GzipPerRecord);
    WriteSample(std::string(argv[1]) + "/sample.warc", TWarcCompression::None);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
