// One XML part of a document container (document.xml, content.xml, a
// .rels file), parsed as it inflates by libxml2's push parser (SAX2, no
// tree), element by element into a TXmlHandler. The parts of these formats
// never declare a document type, so a DOCTYPE ends the reading before its
// entities are even read (no entity expansion, external or internal, and
// no DTD loading); libxml2 keeps its limits on names, text and depth.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "ZipPackage.h"

// The attributes of one element, as libxml2 hands them over.
class TXmlAttributes {
 public:
  TXmlAttributes(const unsigned char** attributes, int count)
      : attributes_(attributes), count_(count) {}
  // The value of the attribute with that local name (any namespace).
  std::optional<std::string_view> Value(std::string_view localName) const;

 private:
  const unsigned char** attributes_;
  int count_;
};

// Names are local names, without a namespace prefix. Each call returns
// false to stop the reading, after writing the reason into the error.
class TXmlHandler {
 public:
  virtual ~TXmlHandler() = default;
  virtual bool StartElement(std::string_view name, const TXmlAttributes& attributes) = 0;
  virtual bool EndElement(std::string_view name) = 0;
  virtual bool Characters(std::string_view text) = 0;
};

// Reads the entry `name` of the package through `handler`. False with
// `error` when the entry is missing or cannot be inflated, is no
// well-formed XML, declares a document type, or the handler stops.
bool ReadXmlPart(TZipPackage& package, const std::string& name, TXmlHandler& handler,
                 std::string& error);
