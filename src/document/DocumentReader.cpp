#include "DocumentReader.h"

#include <new>
#include <utility>

#include "DocumentBuilder.h"
#include "OfficeDocument.h"
#include "PdfDocument.h"

std::optional<TDocumentContent> ReadDocument(TDocumentKind kind, std::string_view bytes,
                                             const TDocumentLimits& limits, std::string& error) {
  error.clear();
  TDocumentBuilder builder(limits, error);
  try {
    const bool read = kind == TDocumentKind::Pdf
                          ? ReadPdfDocument(bytes, builder, error)
                          : ReadOfficeDocument(kind, bytes, limits, builder, error);
    if (!read) return std::nullopt;
  } catch (const std::bad_alloc&) {
    error = "out of memory while reading the " + std::string(DocumentKindName(kind));
    return std::nullopt;
  }
  return std::move(builder.Content());
}
