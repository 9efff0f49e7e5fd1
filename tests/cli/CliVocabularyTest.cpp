// tirasel-cli's vocabulary output against nginx: counts, pages and first
// pages as an independent count over the same pages gives them (Python's
// HTML parser), every table format read back by Python's csv and json
// readers, and the vocabularies of two sites merged as one run of both.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <map>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "CliProcess.h"
#include "NginxServer.h"
#include "SplitMix.h"
#include "TempDir.h"

namespace {

using clitest::Result;
using clitest::RunCli;

// Reads the pages in crawl order, harvests them as the word list does
// (text nodes cut at spaces; one ",", ".", '"' cut off the end and one '"'
// off the start; words equal without regard to case, the first spelling
// kept) and checks the TSV, CSV and JSON lines against that count.
constexpr const char* kIndependentCount = R"PY(
import csv, html.parser, json, sys
root, folder, tsv, csv_file, jsonl = sys.argv[1:6]
pages = sys.argv[6:]

class Texts(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.texts = []
    def handle_data(self, data):
        self.texts.append(data)

entries = {}
for page in pages:
    parser = Texts()
    parser.feed(open(folder + page, encoding="windows-1252").read())
    for text in parser.texts:
        for word in text.split(" "):
            for end in ",.\"":
                if word.endswith(end):
                    word = word[:-1]
            if word.startswith("\""):
                word = word[1:]
            if not word:
                continue
            entry = entries.setdefault(word.lower(), [word, 0, set(), root + page])
            entry[1] += 1
            entry[2].add(page)

expected = [[e[0], str(e[1]), str(len(e[2])), e[3]] for e in entries.values()]
tsv_rows = [line.split("\t") for line in open(tsv, encoding="utf-8").read().splitlines()]
csv_rows = list(csv.reader(open(csv_file, encoding="utf-8", newline="")))
json_rows = [[o["word"], str(o["count"]), str(o["pages"]), o["first_page"]]
             for o in map(json.loads, open(jsonl, encoding="utf-8"))]
header = ["word", "count", "pages", "first_page"]
for name, rows in (("tsv", tsv_rows[1:]), ("csv", csv_rows[1:]), ("jsonl", json_rows)):
    if rows != expected:
        sys.exit(name + ": " + repr(rows) + "\nexpected: " + repr(expected))
if tsv_rows[0] != header or csv_rows[0] != header:
    sys.exit("header: " + repr(tsv_rows[0]) + " " + repr(csv_rows[0]))
)PY";

// A chain of pages under `dir`, each linking to the next, the last to
// `next` when given; words from a small vocabulary with punctuation,
// quotes, references and spellings in other letter case.
std::vector<std::string> AddChain(testsupport::NginxServer& web, const std::string& dir,
                                  int pages, std::uint64_t seed, const std::string& next = "") {
  static const char* const kWords[] = {
      "Haus",  "haus,", "Garten.", "\"Zitat\"", "M&uuml;ller", "Stra&szlig;e",
      "und",   "UND",   "Wald",    "Feld,",    "gr&uuml;n.",  "Berg",
      "Fluss", "Tal",   "&Auml;rger", "a&amp;b"};
  testsupport::SplitMix64 random(seed);
  std::vector<std::string> paths;
  for (int i = 0; i < pages; ++i) {
    std::string body = "<html><body><h1>";
    for (int w = 0; w < 3; ++w) body += std::string(w ? " " : "") + random.Pick(kWords);
    body += "</h1><p>";
    const int words = 5 + static_cast<int>(random.Below(20));
    for (int w = 0; w < words; ++w) body += std::string(w ? " " : "") + random.Pick(kWords);
    body += "</p>";
    if (i + 1 < pages) {
      body += "<a href=\"p" + std::to_string(i + 1) + ".html\">weiter</a>";
    } else if (!next.empty()) {
      body += "<a href=\"" + next + "\">weiter</a>";
    }
    body += "</body></html>";
    paths.push_back(dir + "p" + std::to_string(i) + ".html");
    web.AddFile(paths.back(), body);
  }
  return paths;
}

TEST(CliVocabulary, CountsPagesAndFirstPagesAreThoseOfAnIndependentCount) {
  testsupport::NginxServer web;
  std::vector<std::string> pages = AddChain(web, "/v/", 12, 7);
  web.Start();
  TTempDir dir;
  for (const char* format : {"tsv", "csv", "jsonl"}) {
    const Result run = RunCli({"--format", format, "--sort", "first", "--parallel", "1",
                               "--output", dir.Path(std::string("out.") + format),
                               web.Url(pages[0])});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::vector<std::string> args = {"/usr/bin/python3", "-c", kIndependentCount, web.Url(""),
                                   web.Root().string(), dir.Path("out.tsv"),
                                   dir.Path("out.csv"), dir.Path("out.jsonl")};
  args.insert(args.end(), pages.begin(), pages.end());
  testsupport::ChildProcess check;
  check.Start(args, dir.Path("check.log"));
  const int status = check.WaitExit(120000);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << dir.Read("check.log");

  // The table lists exactly the entries of the list, in the same order.
  const Result list = RunCli({"--parallel", "1", web.Url(pages[0])});
  const Result firsts =
      RunCli({"--format", "tsv", "--sort", "first", "--parallel", "1", web.Url(pages[0])});
  std::string words;
  for (size_t at = firsts.out.find('\n') + 1; at < firsts.out.size();
       at = firsts.out.find('\n', at) + 1) {
    words += firsts.out.substr(at, firsts.out.find('\t', at) - at) + "\n";
  }
  EXPECT_EQ(words, list.out);
}

TEST(CliVocabulary, TwoSitesMergedAreTheRunOfBoth) {
  testsupport::NginxServer web;
  const std::vector<std::string> a = AddChain(web, "/a/", 6, 11, "/b/p0.html");
  const std::vector<std::string> b = AddChain(web, "/b/", 5, 12);
  web.Start();
  TTempDir dir;
  const std::vector<std::string> table = {"--format", "tsv", "--sort", "first", "--parallel",
                                          "1", "--groups", "2", "--context", "30", "--output"};
  auto run = [&](const std::string& output, std::vector<std::string> more) {
    std::vector<std::string> args = table;
    args.push_back(dir.Path(output));
    args.insert(args.end(), more.begin(), more.end());
    const Result result = RunCli(args);
    EXPECT_EQ(result.status, 0) << result.err;
  };
  run("a.tsv", {web.Url(a[0])});
  run("b.tsv", {web.Url(b[0])});
  run("both.tsv", {"--scope", "host", web.Url(a[0])});
  run("merged.tsv", {"--merge", dir.Path("a.tsv"), "--merge", dir.Path("b.tsv")});
  EXPECT_EQ(dir.Read("merged.tsv"), dir.Read("both.tsv"));
  EXPECT_NE(dir.Read("both.tsv").find("M\xc3\xbcller"), std::string::npos);
  // Merged, the order is the output's again: the most frequent first.
  const Result counted = RunCli({"--merge", dir.Path("a.tsv"), "--merge", dir.Path("b.tsv"),
                                 "--format", "count"});
  const Result direct = RunCli({"--format", "count", "--groups", "2", "--parallel", "1",
                                "--scope", "host", web.Url(a[0])});
  EXPECT_EQ(counted.out, direct.out);
  EXPECT_EQ(RunCli({"--merge", dir.Path("missing.tsv")}).status, 2);
  EXPECT_EQ(RunCli({"--merge", dir.Path("a.tsv"), web.Url(a[0])}).status, 2);
}

TEST(CliVocabulary, UnicodeWordBoundariesAndUmlautSpellings) {
  testsupport::NginxServer web;
  web.AddFile("/w.html",
              "<p>Abschnitt\xa0" "1.4 (Haus), E-Mail-Adresse\tthe Schmidt's M&uuml;ller "
              "Stra&szlig;e &laquo;voil&agrave;&raquo;</p>");
  web.Start();
  const Result spaces = RunCli({"--umlauts", "both", web.Url("/w.html")});
  EXPECT_EQ(spaces.out,
            "Abschnitt\xc2\xa0" "1.4\n(Haus)\nE-Mail-Adresse\tthe\nSchmidt's\nM\xc3\xbcller\n"
            "Mueller\nStra\xc3\x9f" "e\nStrasse\n\xc2\xabvoil\xc3\xa0\xc2\xbb\n");
  const Result words = RunCli({"--split", "words", "--umlauts", "ascii", web.Url("/w.html")});
  EXPECT_EQ(words.out,
            "Abschnitt\n1.4\nHaus\nE-Mail-Adresse\nthe\nSchmidt's\nMueller\nStrasse\n"
            "voil\xc3\xa0\n");
}

}  // namespace
