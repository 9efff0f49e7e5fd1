#include "DocumentReader.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "ChildProcess.h"
#include "DocumentPeople.h"
#include "SampleDocuments.h"

namespace documenttest {

namespace {

const TTempDir& SampleDir() {
  static const std::unique_ptr<TTempDir> dir = [] {
    auto made = std::make_unique<TTempDir>();
    testsupport::RunProgram({"/usr/bin/python3", TIRASEL_MAKE_DOCUMENTS, made->Path()}, 300000);
    return made;
  }();
  return *dir;
}

}  // namespace

std::string SampleBytes(const std::string& name) { return SampleDir().Read(name); }
std::string SamplePath(const std::string& name) { return SampleDir().Path(name); }

}  // namespace documenttest

namespace {

using documenttest::Read;
using Strings = std::vector<std::string>;

// Runs of whitespace as one space, none at the ends.
std::string Normalized(const std::string& text) {
  std::string normal;
  for (char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t' || c == '\f' || c == '\r';
    if (!space) {
      normal += c;
    } else if (!normal.empty() && normal.back() != ' ') {
      normal += ' ';
    }
  }
  if (!normal.empty() && normal.back() == ' ') normal.pop_back();
  return normal;
}

TEST(DocumentReader, PdfTextIsPdftotextsAndPeopleAndLinksComeFromInfoAndAnnotations) {
  SAMPLE_OR_SKIP(pdf, "sample.pdf");
  const auto read = Read(TDocumentKind::Pdf, pdf);
  ASSERT_TRUE(read.content) << read.error;
  TTempDir dir;
  ASSERT_EQ(testsupport::RunProgram({"/usr/bin/pdftotext", "-enc", "UTF-8",
                                     documenttest::SamplePath("sample.pdf"), dir.Path("out.txt")},
                                    60000),
            0);
  EXPECT_EQ(Normalized(read.content->Text), Normalized(dir.Read("out.txt")));
  EXPECT_EQ(read.content->Text,
            "Grüße aus München\nDie Straße ist schön\nZweite Seite über Äpfel\n");
  EXPECT_EQ(read.content->People, (Strings{"Anna Müller", "Jürgen Weiß"}));
  EXPECT_EQ(read.content->Links,
            (Strings{"https://example.org/pdf-link", "https://example.org/second-page"}));

  // The same document, made by a word processor: its Creator is no person.
  SAMPLE_OR_SKIP(software, "software.pdf");
  const auto made = Read(TDocumentKind::Pdf, software);
  ASSERT_TRUE(made.content) << made.error;
  EXPECT_EQ(made.content->People, Strings{"Anna Müller"});
}

TEST(DocumentReader, PdfCreatorIsAPersonUnlessItNamesSoftware) {
  EXPECT_FALSE(NamesSoftware("Jürgen Weiß", "ReportLab PDF Library"));
  EXPECT_FALSE(NamesSoftware("Wordsworth, William", "pdfTeX-1.40.21"));
  EXPECT_TRUE(NamesSoftware(" ReportLab PDF Library ", "reportlab pdf library"));
  EXPECT_TRUE(NamesSoftware("Writer", ""));
  EXPECT_TRUE(NamesSoftware("LaTeX with hyperref", ""));
  EXPECT_TRUE(NamesSoftware("PDFCreator", ""));
  EXPECT_TRUE(NamesSoftware("wkhtmltopdf", ""));
  EXPECT_TRUE(NamesSoftware("Microsoft® Word für Microsoft 365", ""));
  // A version number is software even without a known word.
  EXPECT_TRUE(NamesSoftware("Zorblax 3.2", ""));
}

TEST(DocumentReader, DocxGivesBodyThenHeaderAndItsPeopleAndHyperlink) {
  SAMPLE_OR_SKIP(docx, "sample.docx");
  const auto read = Read(TDocumentKind::Docx, docx);
  ASSERT_TRUE(read.content) << read.error;
  EXPECT_EQ(read.content->Text,
            "Grüße aus München\nDie Straße ist schön, siehe Verweis\nKopfzeile\n");
  EXPECT_EQ(read.content->People, (Strings{"Anna Müller", "Jürgen Weiß"}));
  EXPECT_EQ(read.content->Links, Strings{"https://example.org/docx-link"});
}

TEST(DocumentReader, XlsxGivesSharedStringsAndTheCreatorAndCellHyperlinks) {
  SAMPLE_OR_SKIP(xlsx, "sample.xlsx");
  const auto read = Read(TDocumentKind::Xlsx, xlsx);
  ASSERT_TRUE(read.content) << read.error;
  // Numbers are no text.
  EXPECT_EQ(read.content->Text, "Haus\nBäume\nVerweis\nWolke\n");
  EXPECT_EQ(read.content->People, Strings{"Clara Schmidt"});
  EXPECT_EQ(read.content->Links, Strings{"https://example.org/xlsx-link"});
}

TEST(DocumentReader, PptxSlidesInNumberOrderAndOnlyHyperlinkRelationships) {
  SAMPLE_OR_SKIP(pptx, "sample.pptx");
  const auto read = Read(TDocumentKind::Pptx, pptx);
  ASSERT_TRUE(read.content) << read.error;
  EXPECT_EQ(read.content->Text, "Erste Folie\nGröße\nZweite Folie\nZehnte Folie\n");
  // Creator and last editor are one person, trimmed.
  EXPECT_EQ(read.content->People, Strings{"Hanna Öztürk"});
  EXPECT_EQ(read.content->Links, Strings{"https://example.org/pptx-link"});
}

TEST(DocumentReader, OpenDocumentGivesParagraphsCellsPeopleAndLinks) {
  SAMPLE_OR_SKIP(odt, "sample.odt");
  const auto text = Read(TDocumentKind::Odt, odt);
  ASSERT_TRUE(text.content) << text.error;
  // <text:s text:c="3"/> is one space; the line break ends a line.
  EXPECT_EQ(text.content->Text,
            "Überschrift\nErster Absatz mit Öl Verweis\nneue Zeile\nZweiter Absatz\n");
  EXPECT_EQ(text.content->People, (Strings{"Dieter Groß", "Eva Kühn"}));
  EXPECT_EQ(text.content->Links, Strings{"https://example.org/odt-link"});

  SAMPLE_OR_SKIP(ods, "sample.ods");
  const auto sheet = Read(TDocumentKind::Ods, ods);
  ASSERT_TRUE(sheet.content) << sheet.error;
  EXPECT_EQ(sheet.content->Text, "Apfel\nBirne\nKirsche\nPflaume\n");
  EXPECT_EQ(sheet.content->People, Strings{"Fritz Bär"});
  EXPECT_TRUE(sheet.content->Links.empty());
}

TEST(DocumentReader, AFileOfAnotherKindIsNoDocumentOfThisOne) {
  SAMPLE_OR_SKIP(docx, "sample.docx");
  SAMPLE_OR_SKIP(pdf, "sample.pdf");
  const auto asSheet = Read(TDocumentKind::Xlsx, docx);
  EXPECT_FALSE(asSheet.content);
  EXPECT_EQ(asSheet.error, "no XLSX file: the container has no xl/workbook.xml");
  const auto asText = Read(TDocumentKind::Odt, pdf);
  EXPECT_FALSE(asText.content);
  EXPECT_TRUE(asText.error.starts_with("no zip container")) << asText.error;
}

}  // namespace
