// Damaged and hostile documents: each is an error or some text, within the
// limits, never a crash.
#include "DocumentReader.h"

#include <gtest/gtest.h>

#include <vector>

#include "SampleDocuments.h"
#include "SplitMix.h"

namespace {

using documenttest::Read;

constexpr TDocumentKind kAllKinds[] = {TDocumentKind::Pdf,  TDocumentKind::Docx,
                                       TDocumentKind::Xlsx, TDocumentKind::Pptx,
                                       TDocumentKind::Odt,  TDocumentKind::Ods,
                                       TDocumentKind::Odp};

struct TSample {
  const char* name;
  TDocumentKind kind;
};

constexpr TSample kSamples[] = {
    {"sample.pdf", TDocumentKind::Pdf},   {"sample.docx", TDocumentKind::Docx},
    {"sample.xlsx", TDocumentKind::Xlsx}, {"sample.pptx", TDocumentKind::Pptx},
    {"sample.odt", TDocumentKind::Odt},   {"sample.ods", TDocumentKind::Ods},
};

// A failure says why; a success keeps to the limit.
void ExpectErrorOrBoundedText(const documenttest::TReadResult& read,
                              const TDocumentLimits& limits, const std::string& what) {
  if (read.content) {
    EXPECT_LE(read.content->Text.size(), limits.MaxText) << what;
  } else {
    EXPECT_FALSE(read.error.empty()) << what;
  }
}

TEST(HostileDocument, CutShortIsAnErrorOrTheTextThatIsLeft) {
  const TDocumentLimits limits;
  for (const TSample& sample : kSamples) {
    const std::string bytes = documenttest::SampleBytes(sample.name);
    if (bytes.empty()) continue;
    for (std::size_t length : {std::size_t{0}, std::size_t{10}, bytes.size() / 2,
                               bytes.size() * 9 / 10, bytes.size() - 1}) {
      const auto read = Read(sample.kind, bytes.substr(0, length), limits);
      ExpectErrorOrBoundedText(read, limits, sample.name + (" cut at " + std::to_string(length)));
      // A zip file keeps its directory at the end.
      if (sample.kind != TDocumentKind::Pdf) {
        EXPECT_FALSE(read.content) << sample.name;
      }
    }
  }
}

TEST(HostileDocument, RandomBytesAreNoDocumentOfAnyKind) {
  testsupport::SplitMix64 random(20261209);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(random.Below(20000), '\0');
    for (char& c : bytes) c = static_cast<char>(random.Next());
    // Half of them dressed as the files they claim to be.
    if (round % 2) bytes.replace(0, std::min<std::size_t>(bytes.size(), 8), "%PDF-1.4");
    if (round % 4 == 3) bytes.replace(0, std::min<std::size_t>(bytes.size(), 4), "PK\3\4");
    for (TDocumentKind kind : kAllKinds) {
      const auto read = Read(kind, bytes);
      EXPECT_FALSE(read.content && !read.content->Text.empty()) << round;
      ExpectErrorOrBoundedText(read, {}, "round " + std::to_string(round));
    }
  }
}

TEST(HostileDocument, ZipBombsStopAtTheUnpackedLimitWhateverTheyDeclare) {
  for (const char* name : {"bomb.docx", "lying-bomb.docx"}) {
    SAMPLE_OR_SKIP(bomb, name);
    const auto read = Read(TDocumentKind::Docx, bomb);
    EXPECT_FALSE(read.content) << name;
    EXPECT_TRUE(read.error.starts_with("zip bomb")) << name << ": " << read.error;
  }
}

TEST(HostileDocument, EachLimitEndsTheReadingWithItsReason) {
  SAMPLE_OR_SKIP(docx, "sample.docx");
  TDocumentLimits entries;
  entries.MaxEntries = 3;
  EXPECT_EQ(Read(TDocumentKind::Docx, docx, entries).error,
            "the container has more than 3 entries");
  TDocumentLimits unpacked;
  unpacked.MaxUnpacked = 1000;
  EXPECT_EQ(Read(TDocumentKind::Docx, docx, unpacked).error,
            "zip bomb: the container inflates to more than 1000 bytes");
  TDocumentLimits text;
  text.MaxText = 20;
  EXPECT_EQ(Read(TDocumentKind::Docx, docx, text).error,
            "the document holds more than 20 bytes of text");

  SAMPLE_OR_SKIP(pdf, "sample.pdf");
  EXPECT_EQ(Read(TDocumentKind::Pdf, pdf, text).error,
            "the document holds more than 20 bytes of text");
  // People and links count too: the text alone fits.
  text.MaxText = 66;
  EXPECT_EQ(Read(TDocumentKind::Pdf, pdf, text).error,
            "the document holds more than 66 bytes of text");
}

TEST(HostileDocument, DocumentTypeDeclarationsAreRefusedBeforeAnyEntity) {
  for (const char* name : {"laughs.docx", "external.docx"}) {
    SAMPLE_OR_SKIP(docx, name);
    const auto read = Read(TDocumentKind::Docx, docx);
    EXPECT_FALSE(read.content) << name;
    EXPECT_EQ(read.error, "word/document.xml declares a document type, which these parts never do")
        << name;
  }
}

// A PDF of the given objects (numbered from 1, the first the catalog),
// with a correct cross-reference table.
std::string PdfOf(const std::vector<std::string>& objects) {
  std::string pdf = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(pdf.size());
    pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = pdf.size();
  pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    const std::string number = std::to_string(offset);
    pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
  }
  pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return pdf;
}

const std::string kContent = "BT /F1 12 Tf 72 720 Td (Hallo Welt) Tj ET";

std::vector<std::string> OnePage(const std::string& pages, const std::string& contents) {
  return {"<< /Type /Catalog /Pages 2 0 R >>", pages,
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
          " /Resources << /Font << /F1 5 0 R >> >> >>",
          contents, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
}

TEST(HostileDocument, PdfReferenceLoopsEndInAnErrorOrWhatIsLeft) {
  const std::string pages = "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
  const std::string contents = "<< /Length " + std::to_string(kContent.size()) + " >>\nstream\n" +
                               kContent + "\nendstream";
  // The helper makes sound PDFs: the loops below are the only fault.
  const auto sound = Read(TDocumentKind::Pdf, PdfOf(OnePage(pages, contents)));
  ASSERT_TRUE(sound.content) << sound.error;
  EXPECT_EQ(sound.content->Text, "Hallo Welt\n");

  struct TLoop {
    std::vector<std::string> objects;
    const char* text;  // nullptr: an error
  };
  const TLoop loops[] = {
      // The page tree holds itself: no page is left.
      {OnePage("<< /Type /Pages /Kids [2 0 R] /Count 1 >>", contents), nullptr},
      {{"<< /Type /Catalog /Pages 1 0 R >>"}, nullptr},
      // Poppler goes past the loop to the page.
      {OnePage("<< /Type /Pages /Kids [3 0 R 2 0 R] /Count 2 >>", contents), "Hallo Welt\n"},
      // The stream's length is the stream: its end is searched for.
      {OnePage(pages, "<< /Length 4 0 R >>\nstream\n" + kContent + "\nendstream"),
       "Hallo Welt\n"},
  };
  for (const TLoop& loop : loops) {
    const auto read = Read(TDocumentKind::Pdf, PdfOf(loop.objects));
    if (loop.text) {
      ASSERT_TRUE(read.content) << read.error;
      EXPECT_EQ(read.content->Text, loop.text);
    } else {
      EXPECT_FALSE(read.content);
      EXPECT_EQ(read.error, "the PDF has no page Poppler can read");
    }
  }
}

}  // namespace
