// Which document an answer holds, by its content type or its address.
#include "DocumentReader.h"

#include <array>
#include <utility>

#include "AsciiCase.h"

namespace {

struct TKindNames {
  TDocumentKind Kind;
  std::string_view Name;
  std::string_view Extension;
  std::string_view ContentType;
};

constexpr std::array<TKindNames, 7> kKinds = {{
    {TDocumentKind::Pdf, "PDF", "pdf", "application/pdf"},
    {TDocumentKind::Docx, "DOCX", "docx",
     "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {TDocumentKind::Xlsx, "XLSX", "xlsx",
     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {TDocumentKind::Pptx, "PPTX", "pptx",
     "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    {TDocumentKind::Odt, "ODT", "odt", "application/vnd.oasis.opendocument.text"},
    {TDocumentKind::Ods, "ODS", "ods", "application/vnd.oasis.opendocument.spreadsheet"},
    {TDocumentKind::Odp, "ODP", "odp", "application/vnd.oasis.opendocument.presentation"},
}};

std::string_view TrimmedSpaces(std::string_view text) {
  const std::size_t start = text.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// The media type without its parameters, in lower case.
std::string MediaType(std::string_view contentType) {
  return LowerAscii(TrimmedSpaces(contentType.substr(0, contentType.find(';'))));
}

// A page's types: the address of a page may end in ".pdf" (a viewer, an
// error page) and the page is still read as one.
bool IsPageType(std::string_view mediaType) {
  return mediaType.starts_with("text/") || mediaType == "application/xhtml+xml";
}

// The extension of the address's last path segment; none without a path.
std::string_view PathExtension(std::string_view address) {
  address = address.substr(0, address.find_first_of("?#"));
  if (const std::size_t scheme = address.find("://"); scheme != std::string_view::npos) {
    const std::size_t path = address.find('/', scheme + 3);
    if (path == std::string_view::npos) return {};
    address.remove_prefix(path);
  }
  const std::string_view segment = address.substr(address.rfind('/') + 1);
  const std::size_t dot = segment.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : segment.substr(dot + 1);
}

}  // namespace

std::optional<TDocumentKind> DocumentKindOf(std::string_view contentType,
                                            std::string_view address) {
  const std::string mediaType = MediaType(contentType);
  for (const TKindNames& kind : kKinds) {
    if (mediaType == kind.ContentType) return kind.Kind;
  }
  if (IsPageType(mediaType)) return std::nullopt;
  const std::string_view extension = PathExtension(address);
  for (const TKindNames& kind : kKinds) {
    if (EqualIgnoringAsciiCase(extension, kind.Extension)) return kind.Kind;
  }
  return std::nullopt;
}

std::string_view DocumentKindName(TDocumentKind kind) {
  for (const TKindNames& names : kKinds) {
    if (names.Kind == kind) return names.Name;
  }
  return "document";
}
