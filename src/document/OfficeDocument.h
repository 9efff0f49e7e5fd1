// Office Open XML (.docx, .xlsx, .pptx) and OpenDocument (.odt, .ods,
// .odp) files: zip containers of XML parts, read through TZipPackage and
// ReadXmlPart. What each gives is told at ReadDocument.
#pragma once

#include <string>
#include <string_view>

#include "DocumentBuilder.h"
#include "DocumentReader.h"

// `kind` is any kind but Pdf. False with `error` as ReadDocument.
bool ReadOfficeDocument(TDocumentKind kind, std::string_view bytes, const TDocumentLimits& limits,
                        TDocumentBuilder& builder, std::string& error);
