// Cost of the command line's counting and case folding on a harvest of
// 1,000,000 words: the plain harvest and list output against the same with
// --count and --lowercase (occurrence counts while harvesting, then folding,
// merging and sorting the output). Target: at most 1.5 times the plain time.
#include <benchmark/benchmark.h>

#include <cctype>
#include <cmath>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "OutputFilters.h"
#include "WordHarvest.h"

namespace {

constexpr size_t kWords = 1000000;

// Text nodes of 100 words each, from a vocabulary of about 200,000 distinct
// words (a fifth of them capitalised, some in Windows-1252 letters) used
// with a Zipf-like frequency, as a large site yields them.
const std::vector<std::string>& TextNodes() {
  static const std::vector<std::string> nodes = [] {
    std::mt19937 random(13);
    static const char* syllables[] = {"haus",
                                      "gar",
                                      "ten",
                                      "welt",
                                      "stra",
                                      "\xDF"
                                      "e",
                                      "m\xFCl",
                                      "ler",
                                      "\xE4p",
                                      "fel",
                                      "be",
                                      "ge",
                                      "ver",
                                      "ung",
                                      "keit",
                                      "lich",
                                      "sch",
                                      "\xF6n",
                                      "ein"};
    std::vector<std::string> vocabulary;
    while (vocabulary.size() < 200000) {
      std::string word;
      for (int i = 0, count = 2 + static_cast<int>(random() % 4); i < count; ++i)
        word += syllables[random() % std::size(syllables)];
      if (random() % 5 == 0)
        word[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[0])));
      vocabulary.push_back(word);
    }
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::string> texts;
    std::string text;
    for (size_t i = 0; i < kWords; ++i) {
      double u = uniform(random);
      text +=
          vocabulary[static_cast<size_t>(std::pow(static_cast<double>(vocabulary.size()), u)) - 1];
      text += ' ';
      if (i % 100 == 99) {
        texts.push_back(std::move(text));
        text.clear();
      }
    }
    return texts;
  }();
  return nodes;
}

// One run: harvest every node into a fresh list, then format what the
// command line would write.
size_t HarvestAndFormat(const TOutputRules& rules) {
  WordList words;
  std::vector<std::uint32_t> counts;
  TWordHarvest harvest(words, nullptr);
  if (rules.Count) harvest.CountOccurrencesInto(&counts);
  for (const std::string& text : TextNodes()) harvest.HarvestText(text);
  return FormatWordList(words, counts, rules).size();
}

// Processor seconds per run of the plain harvest, for the ratio of the others.
double gPlainSeconds = 0;

double ProcessorSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

void BM_Harvest1MWords_Plain(benchmark::State& state) {
  TextNodes();
  double start = ProcessorSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(HarvestAndFormat({}));
  gPlainSeconds = (ProcessorSeconds() - start) / static_cast<double>(state.iterations());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kWords));
}
BENCHMARK(BM_Harvest1MWords_Plain)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Harvest1MWords_CountLowercase(benchmark::State& state) {
  TOutputRules rules;
  rules.Count = true;
  rules.Lowercase = true;
  TextNodes();
  double start = ProcessorSeconds();
  for (auto _ : state) benchmark::DoNotOptimize(HarvestAndFormat(rules));
  double seconds = (ProcessorSeconds() - start) / static_cast<double>(state.iterations());
  if (gPlainSeconds > 0) state.counters["x_plain"] = seconds / gPlainSeconds;  // target <= 1.5
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kWords));
}
BENCHMARK(BM_Harvest1MWords_CountLowercase)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Harvest1MWords_Count(benchmark::State& state) {
  TOutputRules rules;
  rules.Count = true;
  for (auto _ : state) benchmark::DoNotOptimize(HarvestAndFormat(rules));
}
BENCHMARK(BM_Harvest1MWords_Count)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_Harvest1MWords_Lowercase(benchmark::State& state) {
  TOutputRules rules;
  rules.Lowercase = true;
  for (auto _ : state) benchmark::DoNotOptimize(HarvestAndFormat(rules));
}
BENCHMARK(BM_Harvest1MWords_Lowercase)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
