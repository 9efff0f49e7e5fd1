// The vocabulary's rows as tirasel-cli writes them: keyness against a
// hand-computed example, umlaut spellings, orders, the quoting of each
// format, and TSV read back and merged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "TempDir.h"
#include "VocabularyOutput.h"

namespace {

// The rows' texts are literals: they outlive the rows.
TVocabularyRow Row(std::string_view text, std::uint64_t count, std::uint64_t pages,
                   std::string_view first = "http://x/", std::string_view context = "") {
  TVocabularyRow row;
  row.Text = text;
  row.Count = count;
  row.Pages = pages;
  row.FirstPage = first;
  row.Context = context;
  row.Words = 1 + static_cast<std::uint32_t>(std::count(text.begin(), text.end(), ' '));
  return row;
}

std::string Write(std::vector<TVocabularyRow> rows, TVocabularyFormat format,
                  TVocabularySort sort = TVocabularySort::First, TUmlauts umlauts = TUmlauts::Keep,
                  const TReferenceCounts* reference = nullptr, bool context = false) {
  TVocabularyOutput output;
  output.Format = format;
  output.Sort = sort;
  output.Umlauts = umlauts;
  output.Reference = reference;
  output.Context = context;
  return FormatVocabulary(rows, output);
}

TEST(VocabularyOutput, KeynessIsDunningsLogLikelihoodSignedByRelativeFrequency) {
  // 10 of 1,000 here against 5 of 10,000 there: E1 = 1.364, E2 = 13.636,
  // G2 = 2 (10 ln(10/E1) + 5 ln(5/E2)).
  EXPECT_NEAR(Keyness(10, 1000, 5, 10000), 29.8156, 1e-3);
  EXPECT_NEAR(Keyness(1, 1000, 100, 10000), -12.6375, 1e-3);
  EXPECT_NEAR(Keyness(3, 1000, 0, 10000), 14.3874, 1e-3);
  EXPECT_NEAR(Keyness(0, 1000, 7, 10000), -2 * 7 * std::log(7 / (10000.0 * 7 / 11000)), 1e-9);
  EXPECT_EQ(Keyness(5, 0, 5, 10), 0);

  TReferenceCounts reference;
  reference.Add("haus", 5);
  reference.Add("der", 100);
  reference.Add("das Haus", 1);
  reference.Add("Rest", 9895);
  std::vector<TVocabularyRow> rows = {Row("der", 1, 1), Row("Haus", 10, 2), Row("Zug", 989, 3),
                                      Row("das Haus", 4, 1)};
  const std::string tsv = Write(rows, TVocabularyFormat::Tsv, TVocabularySort::Key,
                                TUmlauts::Keep, &reference);
  // Words against words (1,000 here, 10,000 there), groups against groups.
  EXPECT_EQ(tsv,
            "word\tcount\tpages\tfirst_page\tkey\n"
            "Zug\t989\t3\thttp://x/\t4743.037\n"
            "Haus\t10\t2\thttp://x/\t29.816\n"
            "das Haus\t4\t1\thttp://x/\t0.000\n"
            "der\t1\t1\thttp://x/\t-12.638\n");
}

TEST(VocabularyOutput, UmlautsAreSpelledBesideOrInsteadAndMerged) {
  std::vector<TVocabularyRow> rows = {Row("M\xfcller", 3, 2), Row("Stra\xdf" "e", 1, 1),
                                      Row("Mueller", 2, 1), Row("\xc4rger", 1, 1)};
  EXPECT_EQ(Write(rows, TVocabularyFormat::Count, TVocabularySort::First, TUmlauts::Both),
            "M\xc3\xbcller, 3\nMueller, 5\nStra\xc3\x9f" "e, 1\nStrasse, 1\n\xc3\x84rger, 1\n"
            "Aerger, 1\n");
  EXPECT_EQ(Write(rows, TVocabularyFormat::Count, TVocabularySort::Count, TUmlauts::Ascii),
            "Mueller, 5\nStrasse, 1\nAerger, 1\n");
  EXPECT_EQ(TransliterateUmlauts("\xe4\xf6\xfc\xc4\xd6\xdc\xdf" "x"), "aeoeueAeOeUessx");
}

TEST(VocabularyOutput, OrdersBreakTiesByFirstOccurrence) {
  std::vector<TVocabularyRow> rows = {Row("b", 2, 1), Row("\xe4", 5, 1), Row("A", 2, 2),
                                      Row("z", 5, 2)};
  EXPECT_EQ(Write(rows, TVocabularyFormat::List, TVocabularySort::Count), "\xc3\xa4\nz\nb\nA\n");
  EXPECT_EQ(Write(rows, TVocabularyFormat::List, TVocabularySort::Pages), "z\nA\n\xc3\xa4\nb\n");
  // Dictionary order: "ä" beside "a", not after "z".
  EXPECT_EQ(Write(rows, TVocabularyFormat::List, TVocabularySort::Alpha), "A\n\xc3\xa4\nb\nz\n");
}

// A context is written on one line, its tab and line break a space.
TEST(VocabularyOutput, FieldsAreQuotedAsEachFormatWants) {
  std::vector<TVocabularyRow> rows = {
      Row("a,\"b\"", 1, 1, "http://x/?a=1,2", "ein \\ Text"),
      Row("\tthe", 2, 1, "", "x\t\r\n y ")};
  EXPECT_EQ(Write(rows, TVocabularyFormat::Csv, TVocabularySort::First, TUmlauts::Keep, nullptr,
                  true),
            "word,count,pages,first_page,context\r\n"
            "\"a,\"\"b\"\"\",1,1,\"http://x/?a=1,2\",ein \\ Text\r\n"
            "\tthe,2,1,,x y\r\n");
  EXPECT_EQ(Write(rows, TVocabularyFormat::Tsv, TVocabularySort::First, TUmlauts::Keep, nullptr,
                  true),
            "word\tcount\tpages\tfirst_page\tcontext\n"
            "a,\"b\"\t1\t1\thttp://x/?a=1,2\tein \\\\ Text\n"
            "\\tthe\t2\t1\t\tx y\n");
  EXPECT_EQ(Write(rows, TVocabularyFormat::Jsonl, TVocabularySort::First, TUmlauts::Keep, nullptr,
                  true),
            "{\"word\":\"a,\\\"b\\\"\",\"count\":1,\"pages\":1,\"first_page\":\"http://x/?a=1,2\","
            "\"context\":\"ein \\\\ Text\"}\n"
            "{\"word\":\"\\u0009the\",\"count\":2,\"pages\":1,\"first_page\":\"\","
            "\"context\":\"x y\"}\n");
}

TEST(VocabularyOutput, TsvReadBackMergesCountsAndKeepsTheFirstPlace) {
  TTempDir dir;
  std::vector<TVocabularyRow> first = {Row("Haus", 3, 2, "http://a/", "das Haus\tam"),
                                       Row("&#8364;", 1, 1, "http://a/2", "5 &#8364;")};
  std::vector<TVocabularyRow> second = {Row("Baum", 1, 1, "http://b/"),
                                        Row("haus", 2, 1, "http://b/", "ein haus")};
  std::ofstream(dir.Path("a.tsv"), std::ios::binary)
      << Write(first, TVocabularyFormat::Tsv, TVocabularySort::First, TUmlauts::Keep, nullptr,
               true);
  std::ofstream(dir.Path("b.tsv"), std::ios::binary)
      << Write(second, TVocabularyFormat::Tsv, TVocabularySort::First);
  TRowMerge merge;
  EXPECT_EQ(merge.AddTsvFile(dir.Path("a.tsv")), std::nullopt);
  EXPECT_EQ(merge.AddTsvFile(dir.Path("b.tsv")), std::nullopt);
  const TVocabularyRows& rows = merge.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].Text, "Haus");
  EXPECT_EQ(rows[0].Count, 5u);
  EXPECT_EQ(rows[0].Pages, 3u);
  EXPECT_EQ(rows[0].FirstPage, "http://a/");
  EXPECT_EQ(rows[0].Context, "das Haus am");
  EXPECT_EQ(rows[1].Text, "&#8364;");
  EXPECT_EQ(rows[2].Text, "Baum");

  std::ofstream(dir.Path("bad.tsv")) << "word\tcount\tpages\tfirst_page\nHaus\tdrei\t1\tx\n";
  std::ofstream(dir.Path("list.txt")) << "Haus\nBaum\n";
  EXPECT_NE(merge.AddTsvFile(dir.Path("bad.tsv")), std::nullopt);
  EXPECT_NE(merge.AddTsvFile(dir.Path("list.txt")), std::nullopt);
  EXPECT_NE(merge.AddTsvFile(dir.Path("missing.tsv")), std::nullopt);
}

TEST(VocabularyOutput, TsvCountsThatAddUpPastTheLargestNumberAreAnErrorNotAWrappedSum) {
  TTempDir dir;
  const std::string header = "word\tcount\tpages\tfirst_page\n";
  std::ofstream(dir.Path("most.tsv")) << header << "Haus\t18446744073709551615\t1\tx\n";
  std::ofstream(dir.Path("one.tsv")) << header << "haus\t1\t1\tx\n";
  std::ofstream(dir.Path("pages.tsv")) << header << "Baum\t1\t18446744073709551615\tx\n"
                                       << "Baum\t1\t1\tx\n";
  TRowMerge merge;
  EXPECT_EQ(merge.AddTsvFile(dir.Path("most.tsv")), std::nullopt);
  const std::optional<std::string> error = merge.AddTsvFile(dir.Path("one.tsv"));
  ASSERT_NE(error, std::nullopt);
  EXPECT_NE(error->find("one.tsv:2:"), std::string::npos) << *error;
  EXPECT_EQ(merge.Rows()[0].Count, 18446744073709551615u);  // stopped, not wrapped to 0
  EXPECT_NE(TRowMerge().AddTsvFile(dir.Path("pages.tsv")), std::nullopt);
}

TEST(VocabularyOutput, ReferencesAreReadFromEveryCountFormat) {
  TTempDir dir;
  std::ofstream(dir.Path("ref.tsv"))
      << "word\tcount\tpages\tfirst_page\nHaus\t7\t2\thttp://x/\nM\xc3\xbcller\t2\t1\t\n";
  std::ofstream(dir.Path("ref.txt")) << "haus, 3\nkein Zaehler\nBaum\t4\n";
  std::string error;
  std::optional<TReferenceCounts> tsv = TReferenceCounts::Read(dir.Path("ref.tsv"), error);
  ASSERT_TRUE(tsv) << error;
  EXPECT_EQ(tsv->CountOf("HAUS"), 7u);
  EXPECT_EQ(tsv->CountOf("m\xfcller"), 2u);
  EXPECT_EQ(tsv->Total(), 9u);
  std::optional<TReferenceCounts> lines = TReferenceCounts::Read(dir.Path("ref.txt"), error);
  ASSERT_TRUE(lines) << error;
  EXPECT_EQ(lines->CountOf("Haus"), 3u);
  EXPECT_EQ(lines->Total(), 7u);
  std::ofstream(dir.Path("empty.txt")) << "nichts\n";
  EXPECT_FALSE(TReferenceCounts::Read(dir.Path("empty.txt"), error));
  EXPECT_FALSE(TReferenceCounts::Read(dir.Path("missing.txt"), error));
}

}  // namespace

// The file is read in blocks of some MiB: rows cut by a block's end, a
// field longer than a block, CR LF ends and a last line without its end
// must read as rows written whole.
TEST(VocabularyOutput, TsvReadInBlocksGivesEveryRowWhole) {
  TTempDir dir;
  const std::string longContext(5 << 20, 'k');
  std::string tsv = "word\tcount\tpages\tfirst_page\tcontext\r\n";
  constexpr int kRows = 200000;
  for (int i = 0; i < kRows; ++i) {
    tsv += "w" + std::to_string(i) + "\t" + std::to_string(i + 1) + "\t1\thttp://a/" +
           std::to_string(i / 100) + "\t" + (i == 77777 ? longContext : "c") +
           (i % 2 ? "\r\n" : "\n");
  }
  tsv += "W3\t5\t2\thttp://b/\tlast";  // no line end; counted with w3
  std::ofstream(dir.Path("big.tsv"), std::ios::binary) << tsv;
  TRowMerge merge;
  ASSERT_EQ(merge.AddTsvFile(dir.Path("big.tsv")), std::nullopt);
  const TVocabularyRows& rows = merge.Rows();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kRows));
  for (int i : {0, 1, 12345, 77776, 77777, 77778, kRows - 1}) {
    EXPECT_EQ(rows[i].Text, "w" + std::to_string(i));
    EXPECT_EQ(rows[i].Count, static_cast<std::uint64_t>(i == 3 ? 9 : i + 1));
    EXPECT_EQ(rows[i].FirstPage, "http://a/" + std::to_string(i / 100));
    EXPECT_EQ(rows[i].Context, i == 77777 ? std::string_view(longContext) : "c");
  }
  EXPECT_EQ(rows[3].Pages, 3u);
}
