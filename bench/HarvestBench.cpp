// Speed of the page pipeline: split into lines, tokenize, harvest words.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>
#include <vector>

#include "BenchPages.h"
#include "HTMLPars.h"
#include "PageCharset.h"
#include "Utf8Text.h"
#include "WordHarvest.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

// The realistic page as today's sites write it: in UTF-8, declared in its
// meta tag, with the references of its umlauts either kept (`keepReferences`)
// or written as the characters themselves.
std::string Utf8Page(bool keepReferences) {
  std::string page = RealisticPage(kMiB);
  auto replaceAll = [&](std::string_view from, std::string_view to) {
    for (size_t at = page.find(from); at != std::string::npos;
         at = page.find(from, at + to.size())) {
      page.replace(at, from.size(), to);
    }
  };
  replaceAll("charset=iso-8859-1", "charset=utf-8");
  if (!keepReferences) {
    replaceAll("&auml;", "\xE4");
    replaceAll("&ouml;", "\xF6");
    replaceAll("&uuml;", "\xFC");
    replaceAll("&szlig;", "\xDF");
  }
  return Cp1252ToUtf8(page);
}

// One page through the whole pipeline, as the crawl does it: decoded by its
// character set (Windows-1252 pages pass unchanged), split, tokenized, harvested.
void ProcessPage(const std::string& page, THTMLParser& parser, TWordHarvest& harvest) {
  parser.Lines.clear();
  std::optional<std::string> decoded = DecodePage("text/html", page);
  std::string_view text = decoded ? std::string_view(*decoded) : std::string_view(page);
  SplitLines(text.data(), text.size(), parser.Lines);
  parser.Parse([&](const THTMLNode& node) {
    if (!node.IsTag()) harvest.HarvestText(node.Text().Text);
  });
}

// Runs `pages` through the pipeline until `total` bytes are processed. As in
// a crawl run, one parser and one word list serve page after page.
void RunPipeline(benchmark::State& state, const std::vector<std::string>& pages, size_t total) {
  WordList words;
  TWordHarvest harvest(words, nullptr);
  THTMLParser parser;
  for (const std::string& page : pages) ProcessPage(page, parser, harvest);  // warm up
  for (auto _ : state) {
    size_t done = 0;
    for (size_t i = 0; done < total; ++i) {
      const std::string& page = pages[i % pages.size()];
      ProcessPage(page, parser, harvest);
      done += page.size();
    }
    benchmark::DoNotOptimize(words.WordCount());
    state.counters["words"] = static_cast<double>(words.WordCount());
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(done));
  }
}

void BM_RealisticPages(benchmark::State& state) {
  static const std::vector<std::string> pages = {RealisticPage(kMiB)};
  RunPipeline(state, pages, 50 * kMiB);
}
BENCHMARK(BM_RealisticPages)->Unit(benchmark::kMillisecond);

// The same page set in UTF-8: with its references, and with the umlauts
// written as characters. Against BM_RealisticPages this is the cost of decoding.
void BM_RealisticPagesUtf8(benchmark::State& state) {
  static const std::vector<std::string> pages = {Utf8Page(true)};
  RunPipeline(state, pages, 50 * kMiB);
}
BENCHMARK(BM_RealisticPagesUtf8)->Unit(benchmark::kMillisecond);

void BM_RealisticPagesUtf8Characters(benchmark::State& state) {
  static const std::vector<std::string> pages = {Utf8Page(false)};
  RunPipeline(state, pages, 50 * kMiB);
}
BENCHMARK(BM_RealisticPagesUtf8Characters)->Unit(benchmark::kMillisecond);

// Decoding alone, the part of the UTF-8 rows above that the Windows-1252 row
// does not pay; on a busy machine a steadier measure of it than their difference.
void BM_DecodeUtf8Page(benchmark::State& state) {
  static const std::string page = Utf8Page(false);
  for (auto _ : state) {
    std::optional<std::string> text = DecodePage("text/html", page);
    benchmark::DoNotOptimize(text);
    state.SetBytesProcessed(state.bytes_processed() + static_cast<int64_t>(page.size()));
  }
}
BENCHMARK(BM_DecodeUtf8Page)->Unit(benchmark::kMillisecond);

// Adversarial documents of 50 MB each.
std::string Repeat(std::string_view unit, size_t size) {
  std::string out;
  out.reserve(size + unit.size());
  while (out.size() < size) out += unit;
  return out;
}

void BM_Adversarial(benchmark::State& state) {
  static const std::vector<std::string> inputs = [] {
    std::vector<std::string> docs;
    docs.push_back(Repeat("x" + std::string(1000, ' '), 50 * kMiB));  // runs of spaces
    docs.push_back("<p>&" + Repeat("amp;", 50 * kMiB));               // &amp;amp;amp;...
    docs.push_back(Repeat("&", 50 * kMiB));                           // no terminator
    docs.push_back(Repeat("Wort &auml; &#65; lang ", 50 * kMiB));     // one 50 MB line
    docs.push_back("<a href=\"" + Repeat("x \"y\" ", 50 * kMiB));     // a tag never closed
    docs.push_back(Repeat("&#38;amp;&lt;", 50 * kMiB));               // decoded ampersands
    return docs;
  }();
  const std::vector<std::string> one = {inputs[static_cast<size_t>(state.range(0))]};
  RunPipeline(state, one, one[0].size());
}
BENCHMARK(BM_Adversarial)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

// Harvesting a million distinct words into an empty list.
void BM_MillionDistinctWords(benchmark::State& state) {
  std::vector<std::string> texts;
  for (int i = 0; i < 1000; ++i) {
    std::string text;
    for (int j = 0; j < 1000; ++j) text += "wort" + std::to_string(i * 1000 + j) + " ";
    texts.push_back(std::move(text));
  }
  for (auto _ : state) {
    auto heapInUse = [] {
      struct mallinfo2 info = mallinfo2();
      return info.uordblks + info.hblkhd;  // small blocks plus mapped ones
    };
    size_t before = heapInUse();
    WordList words;
    TWordHarvest harvest(words, [](const std::string&) {});
    for (const std::string& text : texts) harvest.HarvestText(text);
    state.counters["words"] = static_cast<double>(words.WordCount());
    state.counters["heap_MB"] = static_cast<double>(heapInUse() - before) / kMiB;
  }
}
BENCHMARK(BM_MillionDistinctWords)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
