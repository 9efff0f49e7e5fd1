// A fragment-heavy manual in the manner of generated documentation, crawled
// by tirasel-cli from nginx on loopback: every page has a table of contents
// of "#section" links, a "#" permalink per section, and links to sections of
// every other page ("page.html#section", "lib/#top"). Reports the requests
// nginx served, the distinct documents among them and the time, so that a
// build that fetches each document once can be compared with one that does
// not (TIRASEL_BENCH_CLI names another tirasel-cli to run; a run is ended
// after TIRASEL_BENCH_FRAGMENT_LIMIT_S seconds, default 30).
#include <benchmark/benchmark.h>
#include <sys/wait.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <unordered_set>
#include <vector>

#include "ChildProcess.h"
#include "NginxServer.h"
#include "TempDirectory.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPages = 40;
constexpr int kSections = 30;

int LimitSeconds() {
  const char* v = std::getenv("TIRASEL_BENCH_FRAGMENT_LIMIT_S");
  return v && *v ? std::atoi(v) : 30;
}

std::string CliPath() {
  const char* v = std::getenv("TIRASEL_BENCH_CLI");
  return v && *v ? v : TIRASEL_CLI_PATH;
}

std::string PageName(int page) {
  return page == 0 ? "index.html" : "kapitel" + std::to_string(page) + ".html";
}

std::string MakePage(int page, const std::string& up) {
  std::string html = "<html><head><meta charset=utf-8><title>Kapitel " + std::to_string(page) +
                     "</title></head><body><div class=toc><a href=\"#\">Inhalt</a>";
  for (int s = 0; s < kSections; ++s) {
    html += " <a href=\"#abschnitt-" + std::to_string(s) + "\">" + std::to_string(s) + "</a>";
  }
  html += "</div>";
  for (int s = 0; s < kSections; ++s) {
    html += "<h2 id=\"abschnitt-" + std::to_string(s) + "\">Abschnitt " + std::to_string(s) +
            " von Seite " + std::to_string(page) + "<a class=headerlink href=\"#abschnitt-" +
            std::to_string(s) + "\">\xC2\xB6</a></h2>";
    html +=
        "<p>Die Funktion gibt den Wert zur\xC3\xBC"
        "ck, wenn der Schl\xC3\xBCssel fehlt.</p>";
  }
  for (int other = 0; other < kPages; ++other) {
    html += "<a href=\"" + up + PageName(other) + "#abschnitt-1\">" + PageName(other) + "</a> ";
    html += "<a href=\"" + up + PageName(other) + "#abschnitt-2\">mehr</a> ";
  }
  html += "<a href=\"" + up + "lib/#top\">Bibliothek</a></body></html>";
  return html;
}

struct Served {
  size_t requests = 0;
  size_t documents = 0;
  size_t withFragment = 0;
};

Served CountServed(const testsupport::NginxServer& web) {
  Served served;
  std::unordered_set<std::string> documents;
  std::string log = testsupport::ReadFile(web.AccessLog());
  for (size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1) {
    std::string line = log.substr(at, end - at);
    size_t get = line.find("\"GET ");
    if (get == std::string::npos) continue;
    std::string target = line.substr(get + 5, line.find(' ', get + 5) - get - 5);
    ++served.requests;
    if (target.find('#') != std::string::npos) ++served.withFragment;
    documents.insert(target.substr(0, target.find('#')));
  }
  served.documents = documents.size();
  return served;
}

void BM_FragmentManual(benchmark::State& state) {
  for (auto _ : state) {
    testsupport::NginxServer web;
    for (int page = 0; page < kPages; ++page)
      web.AddFile("/handbuch/" + PageName(page), MakePage(page, ""));
    web.AddFile("/handbuch/lib/index.html", MakePage(kPages, "../"));
    web.Start();
    testsupport::TempDirectory dir("tirasel-bench-fragments");
    testsupport::ChildProcess child;
    auto start = Clock::now();
    child.Start(
        {CliPath(), "--output", (dir / "words.txt").string(), web.Url("/handbuch/index.html")},
        dir / "log.txt");
    int status = child.WaitExit(LimitSeconds() * 1000);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    bool ended = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (status == -1) child.Stop(SIGKILL, 0);
    web.Stop();
    Served served = CountServed(web);
    state.SetIterationTime(seconds);
    state.counters["requests"] = static_cast<double>(served.requests);
    state.counters["documents"] = static_cast<double>(served.documents);
    state.counters["with_fragment"] = static_cast<double>(served.withFragment);
    state.counters["ended"] = ended ? 1 : 0;
  }
}
BENCHMARK(BM_FragmentManual)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
