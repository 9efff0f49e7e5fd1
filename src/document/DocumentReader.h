// Documents a site links to, read from their bytes: PDF (through Poppler),
// Office Open XML (.docx, .xlsx, .pptx) and OpenDocument (.odt, .ods, .odp)
// (through libzip and libxml2). What a document gives:
//
//   Text    its words in reading order, UTF-8, paragraphs and lines ending
//           in "\n" (no blank lines; a table cell holds paragraphs, so it
//           is a line of its own), tabs as "\t";
//   People  the persons its metadata names (author, last editor), each once,
//           trimmed, in the order below; never the software that made it;
//   Links   the addresses of its hyperlinks as written (absolute or
//           relative), each once, in the order they were found.
//
// Documents are hostile input: any bytes give a result or an error, never a
// crash, and every limit below holds while the bytes are read (a container
// entry is inflated in bounded pieces, whatever its declared size). Poppler
// can still spend unbounded time or memory on a crafted PDF: the caller
// runs this in a process of its own with limits on both. Calls may come
// from one thread at a time; Poppler's and libxml2's messages never reach
// stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TDocumentKind { Pdf, Docx, Xlsx, Pptx, Odt, Ods, Odp };

// The kind of a document by its answer's content type (any case, parameters
// allowed: application/pdf, the three Office Open XML and the three
// OpenDocument types), else by the extension of the address's path (.pdf
// .docx .xlsx .pptx .odt .ods .odp, any case; query and fragment ignored).
// A text/* or XHTML content type is a page whatever the address says;
// nullopt: no document.
std::optional<TDocumentKind> DocumentKindOf(std::string_view contentType,
                                            std::string_view address);

// "PDF", "DOCX", ...: for messages.
std::string_view DocumentKindName(TDocumentKind kind);

struct TDocumentLimits {
  std::size_t MaxText = 64 << 20;         // bytes given back: text, people and links together
  std::uint64_t MaxUnpacked = 256 << 20;  // bytes inflated from a container, all entries together
  std::size_t MaxEntries = 10000;         // entries a container may have
};

struct TDocumentContent {
  std::string Text;                 // UTF-8; paragraphs and lines end in "\n"
  std::vector<std::string> People;  // UTF-8
  std::vector<std::string> Links;   // as written in the document
};

// The text, people and links of `bytes` read as a document of `kind`.
// nullopt, with a short English reason in `error`, when the bytes are no
// readable document of that kind (damaged, cut short, encrypted, a PDF
// without a page) or when reading them passes a limit: more than MaxText
// bytes of text, people and links, more entries than
// MaxEntries, more inflated bytes than MaxUnpacked (reported as a zip bomb).
//
// Per kind:
//   PDF   the pages' text in Poppler's reading order (as pdftotext gives
//         it, less its blank lines and form feeds); people: Author, and
//         Creator when it names no software (see DocumentPeople.h); links:
//         the URI actions of the pages' link annotations.
//   DOCX  word/document.xml, then the headers, footers, footnotes and
//         endnotes; people: dc:creator, cp:lastModifiedBy of
//         docProps/core.xml; links: external hyperlink relationships.
//   XLSX  the shared strings, then the inline strings of each sheet (sheet
//         number order); people and links as DOCX.
//   PPTX  the slides in slide number order; people and links as DOCX.
//   ODF   content.xml (paragraphs, headings, spans, list items, table
//         cells); people: meta:initial-creator, dc:creator of meta.xml;
//         links: xlink:href of text:a and draw:a.
std::optional<TDocumentContent> ReadDocument(TDocumentKind kind, std::string_view bytes,
                                             const TDocumentLimits& limits, std::string& error);
