// PDF files through Poppler: the text and the document information through
// its C++ interface, the link annotations through its GLib interface (the
// C++ one has none). What a PDF gives is told at ReadDocument.
#pragma once

#include <string>
#include <string_view>

#include "DocumentBuilder.h"

// False with `error` as ReadDocument.
bool ReadPdfDocument(std::string_view bytes, TDocumentBuilder& builder, std::string& error);
