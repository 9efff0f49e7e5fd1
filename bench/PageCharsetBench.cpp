// Decoding a page of Cyrillic text with some markup into the program's
// Windows-1252 text (every letter becomes a reference such as "&#1078;"),
// in KOI8-R and in UTF-16: processor time and peak memory, each in a child
// process.
//
// The page sizes are TIRASEL_BENCH_CHARSET_KB kilobytes (1,024 unless set)
// and ten times that. Decoding is linear when both sizes show the same
// ns_per_byte; peak_per_page_and_text near 1 means nothing beyond the page
// and its decoded text is held.
#include <benchmark/benchmark.h>

#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "BenchProcess.h"
#include "MeasureInChild.h"
#include "PageCharset.h"

namespace {

constexpr size_t kKiB = 1024;
const int kSmallKiB = EnvInt("TIRASEL_BENCH_CHARSET_KB", 1024);

enum TPageSet { kKoi8R, kUtf16 };

// The lower-case letters in the order of their KOI8-R bytes 0xC0 to 0xDF;
// the capitals follow at 0xE0 to 0xFF, 0x20 below in Unicode.
constexpr char16_t kKoi8Letters[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";

// The page's text in one of the two sets, written as it is generated: no
// larger copy of the page ever exists, so the peak is the decoding's own.
class TPageWriter {
 public:
  TPageWriter(TPageSet set, size_t size) : set_(set) {
    page_.reserve(size + 64);
    if (set_ == kUtf16) page_ = "\xFF\xFE";  // the byte-order mark names the set
  }
  void Ascii(std::string_view text) {
    for (char c : text) Unit(static_cast<unsigned char>(c), static_cast<unsigned char>(c));
  }
  // `letter` 0 to 31, an index into kKoi8Letters.
  void Letter(int letter, bool capital) {
    char16_t ch = kKoi8Letters[letter] - (capital ? 0x20 : 0);
    Unit(ch, static_cast<unsigned char>(0xC0 + letter + (capital ? 0x20 : 0)));
  }
  std::string& Page() { return page_; }

 private:
  void Unit(char16_t unit, unsigned char koi8Byte) {
    if (set_ == kKoi8R) {
      page_ += static_cast<char>(koi8Byte);
    } else {
      page_ += static_cast<char>(unit & 0xFF);
      page_ += static_cast<char>(unit >> 8);
    }
  }

  TPageSet set_;
  std::string page_;
};

// About `size` bytes: paragraphs of words of two to nine letters, some
// capitalized, commas, links and headings, as a Russian site would be.
std::string CyrillicPage(TPageSet set, size_t size) {
  std::mt19937 random(11);
  TPageWriter writer(set, size);
  auto word = [&] {
    writer.Letter(random() % 32, random() % 8 == 0);
    for (int i = 1 + random() % 8; i > 0; --i) writer.Letter(random() % 32, false);
  };
  writer.Ascii("<html><head><title>");
  word();
  writer.Ascii("</title></head><body>\n");
  for (int n = 0; writer.Page().size() < size; ++n) {
    if (n % 10 == 0) {
      writer.Ascii("<h2>");
      word();
      writer.Ascii("</h2>\n");
    }
    writer.Ascii("<p>");
    for (int i = 20 + random() % 60; i > 0; --i) {
      if (random() % 12 == 0) {
        writer.Ascii("<a href=\"/stranica" + std::to_string(random() % 1000) + ".html\">");
        word();
        writer.Ascii("</a>");
      } else {
        word();
      }
      writer.Ascii(random() % 7 == 0 ? ", " : " ");
    }
    writer.Ascii("</p>\n");
  }
  writer.Ascii("</body></html>\n");
  return std::move(writer.Page());
}

struct TDecodeFigures {
  double seconds = 0;
  double pageBytes = 0;
  double textBytes = 0;
  double peakBytes = 0;  // above the process's size before the page was built
};

TDecodeFigures MeasureDecoding(TPageSet set, size_t size) {
  const char* contentType = set == kKoi8R ? "text/html; charset=koi8-r" : "text/html";
  return MeasureInChild<TDecodeFigures>([&] {
    // A first small page loads the decoder's tables, which no page pays again.
    DecodePage(contentType, CyrillicPage(set, kKiB));
    long before = MaxRssKiB();
    TDecodeFigures figures;
    std::string page = CyrillicPage(set, size);
    figures.pageBytes = static_cast<double>(page.size());
    double start = CpuSeconds();
    std::optional<std::string> text = DecodePage(contentType, page);
    figures.seconds = CpuSeconds() - start;
    figures.textBytes = text ? static_cast<double>(text->size()) : 0;
    figures.peakBytes = static_cast<double>(MaxRssKiB() - before) * 1024;
    return figures;
  });
}

// range(0): 0 KOI8-R, 1 UTF-16 (little-endian, with its mark); range(1):
// the page size in KiB.
void BM_DecodeCyrillicPage(benchmark::State& state) {
  for (auto _ : state) {
    TDecodeFigures figures = MeasureDecoding(static_cast<TPageSet>(state.range(0)),
                                             static_cast<size_t>(state.range(1)) * kKiB);
    if (figures.textBytes == 0) {
      state.SkipWithError("the page was not decoded");
      return;
    }
    state.SetIterationTime(figures.seconds);
    state.counters["page_MB"] = figures.pageBytes / kKiB / kKiB;
    state.counters["text_MB"] = figures.textBytes / kKiB / kKiB;
    state.counters["peak_MB"] = figures.peakBytes / kKiB / kKiB;
    state.counters["peak_per_page_and_text"] =
        figures.peakBytes / (figures.pageBytes + figures.textBytes);
    state.counters["ns_per_byte"] = figures.seconds * 1e9 / figures.pageBytes;
  }
}
BENCHMARK(BM_DecodeCyrillicPage)
    ->ArgsProduct({{kKoi8R, kUtf16}, {kSmallKiB, 10 * kSmallKiB}})
    ->ArgNames({"set", "KiB"})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
