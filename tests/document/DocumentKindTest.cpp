#include "DocumentReader.h"

#include <gtest/gtest.h>

namespace {

constexpr auto kNone = std::nullopt;

TEST(DocumentKind, ContentTypeFirstThenThePathsExtension) {
  EXPECT_EQ(DocumentKindOf("application/pdf", ""), TDocumentKind::Pdf);
  EXPECT_EQ(DocumentKindOf(" Application/PDF ; name=x", "http://h.de/"), TDocumentKind::Pdf);
  EXPECT_EQ(DocumentKindOf("application/vnd.openxmlformats-officedocument.wordprocessingml."
                           "document",
                           "http://h.de/a.pdf"),
            TDocumentKind::Docx);
  EXPECT_EQ(DocumentKindOf("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
                           ""),
            TDocumentKind::Xlsx);
  EXPECT_EQ(DocumentKindOf("application/vnd.openxmlformats-officedocument.presentationml."
                           "presentation",
                           ""),
            TDocumentKind::Pptx);
  EXPECT_EQ(DocumentKindOf("application/vnd.oasis.opendocument.text", ""), TDocumentKind::Odt);
  EXPECT_EQ(DocumentKindOf("application/vnd.oasis.opendocument.spreadsheet", ""),
            TDocumentKind::Ods);
  EXPECT_EQ(DocumentKindOf("application/vnd.oasis.opendocument.presentation", ""),
            TDocumentKind::Odp);

  // Servers often send documents as mere bytes: the address tells.
  EXPECT_EQ(DocumentKindOf("application/octet-stream", "http://h.de/b/Bericht.PDF"),
            TDocumentKind::Pdf);
  EXPECT_EQ(DocumentKindOf("", "https://h.de/x.pptx?download=1#seite"), TDocumentKind::Pptx);
  EXPECT_EQ(DocumentKindOf("", "/relative/t.odp"), TDocumentKind::Odp);
  EXPECT_EQ(DocumentKindOf("", "http://h.de/a.xlsx/"), kNone);
  EXPECT_EQ(DocumentKindOf("", "http://h.de/a.docx.html"), kNone);
  EXPECT_EQ(DocumentKindOf("", "http://h.de/a?file=b.pdf"), kNone);
  // The host is no file name.
  EXPECT_EQ(DocumentKindOf("", "http://www.pdf"), kNone);
  // A page whose address ends like a document is a page.
  EXPECT_EQ(DocumentKindOf("text/html; charset=utf-8", "http://h.de/a.pdf"), kNone);
  EXPECT_EQ(DocumentKindOf("application/msword", "http://h.de/a.doc"), kNone);
}

TEST(DocumentKind, NamesForMessages) {
  EXPECT_EQ(DocumentKindName(TDocumentKind::Pdf), "PDF");
  EXPECT_EQ(DocumentKindName(TDocumentKind::Ods), "ODS");
}

}  // namespace
