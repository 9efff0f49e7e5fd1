// Speed of the page pipeline: split into lines, tokenize, harvest words.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cctype>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "HTMLPars.h"
#include "WordHarvest.h"

namespace {

constexpr size_t kMiB = 1024 * 1024;

// A vocabulary of about 20,000 words made of German-looking syllables, some
// written with references, used with a skewed (Zipf-like) frequency.
std::vector<std::string> Vocabulary(std::mt19937& random) {
  static const char* syllables[] = {"haus", "gar", "ten", "welt", "stra", "&szlig;e", "m&uuml;l", "ler", "&auml;p",
                                    "fel", "be", "ge", "ver", "ung", "keit", "lich", "sch", "&ouml;n", "ein",
                                    "der", "die", "und", "ist", "mit", "f&uuml;r", "wer", "den", "sam", "an", "ab"};
  std::vector<std::string> words = {"und", "die", "der", "das", "ist", "ein", "zu", "mit", "the", "of"};
  while (words.size() < 20000) {
    std::string word;
    int count = 1 + random() % 4;
    for (int i = 0; i < count; ++i) word += syllables[random() % std::size(syllables)];
    if (random() % 5 == 0) word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
    if (random() % 9 == 0) word += random() % 2 ? "," : ".";
    words.push_back(word);
  }
  return words;
}

// About 1 MB of varied markup: headings, paragraphs, links, tables, images,
// entities, a script and a style block.
std::string RealisticPage() {
  std::mt19937 random(42);
  const std::vector<std::string> vocabulary = Vocabulary(random);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  auto word = [&] {
    // Zipf-like: low indexes are far more frequent.
    double u = uniform(random);
    return vocabulary[static_cast<size_t>(std::pow(static_cast<double>(vocabulary.size()), u)) - 1];
  };
  std::string page = "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\r\n<html><head>\r\n"
                     "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n"
                     "<title>Beispiel</title>\r\n<style type=\"text/css\">\r\nbody { margin: 0; }\r\n</style>\r\n"
                     "<script language=\"JavaScript\">\r\nfunction f(a, b) { return a < b; }\r\n</script>\r\n"
                     "</head><body bgcolor=\"#ffffff\">\r\n";
  int n = 0;
  while (page.size() < kMiB) {
    switch (random() % 6) {
      case 0:
        page += "<h2>" + word() + " " + word() + "</h2>\r\n";
        break;
      case 1:
      case 5: {
        page += "<p class=\"text\">";
        int count = 10 + random() % 60;
        for (int i = 0; i < count; ++i) {
          if (random() % 15 == 0) {
            page += "<b>" + word() + "</b> ";
            continue;
          }
          page += word();
          page += (i % 13 == 12) ? "\r\n" : " ";
        }
        page += "</p>\r\n";
        break;
      }
      case 2:
        page += "<a href=\"seite" + std::to_string(n++) + ".html\" title=\"" + word() + "\">" + word() + "</a> | ";
        break;
      case 3:
        page += "<table border=0 cellpadding=2><tr><td width=\"50%\">" + word() + "</td><td>" + word() +
                "&nbsp;" + word() + "</td></tr></table>\r\n";
        break;
      case 4:
        page += "<div class=\"bild\"><img src=\"bild" + std::to_string(n++) + ".gif\" alt=\"" + word() +
                "\" width=\"120\" height=\"80\"></div><br>\r\n";
        break;
    }
  }
  page += "</body></html>\r\n";
  return page;
}

// One page through the whole pipeline, as the crawl does it.
void ProcessPage(const std::string& page, THTMLParser& parser, TWordHarvest& harvest) {
  parser.Lines.clear();
  parser.Nodes.clear();
  SplitLines(page.data(), page.size(), parser.Lines);
  parser.Parse();
  for (const THTMLNode& node : parser.Nodes) {
    if (!node.IsTag()) harvest.HarvestText(node.Text().Text);
  }
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
  static const std::vector<std::string> pages = {RealisticPage()};
  RunPipeline(state, pages, 50 * kMiB);
}
BENCHMARK(BM_RealisticPages)->Unit(benchmark::kMillisecond);

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
    docs.push_back(Repeat("x" + std::string(1000, ' '), 50 * kMiB));            // runs of spaces
    docs.push_back("<p>&" + Repeat("amp;", 50 * kMiB));                         // &amp;amp;amp;...
    docs.push_back(Repeat("&", 50 * kMiB));                                      // no terminator
    docs.push_back(Repeat("Wort &auml; &#65; lang ", 50 * kMiB));                // one 50 MB line
    docs.push_back("<a href=\"" + Repeat("x \"y\" ", 50 * kMiB));                // a tag never closed
    docs.push_back(Repeat("&#38;amp;&lt;", 50 * kMiB));                          // decoded ampersands
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
