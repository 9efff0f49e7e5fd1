// The word list commands and the list view with 1,000,000 words: open and
// save a 1,000,000-line file, sort, delete 500,000 marked entries, and
// scroll and select in the view.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QScrollBar>
#include <cstdio>
#include <filesystem>
#include <random>
#include <unistd.h>

#include "WordListCommands.h"
#include "WordListFile.h"
#include "WordListView.h"

namespace {

constexpr size_t kWords = 1'000'000;

// Words of 3 to 12 letters over a small alphabet, mixed case: many repeated
// sort keys, as in real vocabulary lists.
std::vector<std::string> MakeWords() {
  std::mt19937 random(1);
  std::vector<std::string> words(kWords);
  for (std::string& word : words) {
    size_t length = 3 + random() % 10;
    for (size_t i = 0; i < length; ++i)
      word += static_cast<char>((random() % 3 ? 'a' : 'A') + random() % 12);
  }
  return words;
}

const std::vector<std::string>& Words() {
  static const std::vector<std::string> words = MakeWords();
  return words;
}

void Fill(WordList& list) {
  TWordBatch batch(list);
  for (const std::string& word : Words()) list.AddWord(word);
}

std::string TempPath(const char* name) {
  return (std::filesystem::temp_directory_path() /
          (std::string("tirasel-bench-") + std::to_string(::getpid()) + name))
      .string();
}

void BM_OpenMillionLines(benchmark::State& state) {
  std::string path = TempPath("-open.txt");
  {
    WordList list;
    Fill(list);
    WriteWordListFile(path, list);
  }
  for (auto _ : state) {
    state.PauseTiming();
    auto list = std::make_unique<WordList>();
    TWordListView view(*list, nullptr);  // the window's view is attached while opening
    state.ResumeTiming();
    AppendWordListFile(path, *list);
    benchmark::DoNotOptimize(list->WordCount());
    state.PauseTiming();
    view.setModel(nullptr);
    state.ResumeTiming();
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_OpenMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SaveMillionLines(benchmark::State& state) {
  std::string path = TempPath("-save.txt");
  WordList list;
  Fill(list);
  for (auto _ : state) WriteWordListFile(path, list);
  std::remove(path.c_str());
}
BENCHMARK(BM_SaveMillionLines)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SortMillionWords(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    WordList list;
    Fill(list);
    TWordListView view(list, nullptr);
    state.ResumeTiming();
    SortWords(list);
  }
}
BENCHMARK(BM_SortMillionWords)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DeleteHalfMarked(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    WordList list;
    Fill(list);
    for (size_t i = 0; i < kWords; i += 2) list.SetMarked(i, true);
    TWordListView view(list, nullptr);
    state.ResumeTiming();
    DeleteMarkedWords(list);
  }
}
BENCHMARK(BM_DeleteHalfMarked)->Unit(benchmark::kMillisecond)->Iterations(3);

// One scroll step and one click-selection in a shown view of 1,000,000 rows,
// painted each time.
void BM_ViewScrollAndSelect(benchmark::State& state) {
  WordList list;
  Fill(list);
  TWordListView view(list, nullptr);
  view.resize(622, 190);
  view.show();
  QApplication::processEvents();
  QScrollBar* bar = view.verticalScrollBar();
  std::mt19937 random(3);
  for (auto _ : state) {
    int row = static_cast<int>(random() % kWords);
    bar->setValue(row);
    view.selectionModel()->select(view.model()->index(row, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    view.viewport()->repaint();
  }
}
BENCHMARK(BM_ViewScrollAndSelect)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
