#include "OfficeDocument.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "XmlPart.h"
#include "ZipPackage.h"

namespace {

// The text of an Office Open XML part: <t> elements (w:t, a:t, and the
// strings of a workbook), less a workbook's phonetic runs (<rPh>); a
// paragraph (<p>), shared string (<si>) or inline string (<is>) ends a
// line, and so does a break (<br>, <cr>). A <tab> is one only inside a run:
// elsewhere it is a tab stop's definition.
class TOoxmlTextHandler : public TXmlHandler {
 public:
  explicit TOoxmlTextHandler(TDocumentBuilder& builder) : builder_(builder) {}

  bool StartElement(std::string_view name, const TXmlAttributes&) override {
    if (name == "t") ++textDepth_;
    if (name == "rPh") ++phoneticDepth_;
    if (name == "r") ++runDepth_;
    if (name == "tab" && runDepth_ > 0) return builder_.Tab();
    if (name == "br" || name == "cr") return builder_.EndLine();
    return true;
  }
  bool EndElement(std::string_view name) override {
    if (name == "t") --textDepth_;
    if (name == "rPh") --phoneticDepth_;
    if (name == "r") --runDepth_;
    if (name == "p" || name == "si" || name == "is") return builder_.EndLine();
    return true;
  }
  bool Characters(std::string_view text) override {
    return textDepth_ == 0 || phoneticDepth_ > 0 || builder_.AppendText(text);
  }

 private:
  TDocumentBuilder& builder_;
  int textDepth_ = 0;
  int phoneticDepth_ = 0;
  int runDepth_ = 0;
};

// The hyperlinks among a part's relationships: external targets of the
// hyperlink type (an external image or template is no link to follow).
class TRelationshipsHandler : public TXmlHandler {
 public:
  explicit TRelationshipsHandler(TDocumentBuilder& builder) : builder_(builder) {}

  bool StartElement(std::string_view name, const TXmlAttributes& attributes) override {
    if (name != "Relationship" || attributes.Value("TargetMode") != "External") return true;
    const std::optional<std::string_view> type = attributes.Value("Type");
    const std::optional<std::string_view> target = attributes.Value("Target");
    if (!type || !type->ends_with("/hyperlink") || !target) return true;
    return builder_.AddLink(*target);
  }
  bool EndElement(std::string_view) override { return true; }
  bool Characters(std::string_view) override { return true; }

 private:
  TDocumentBuilder& builder_;
};

// The people of a metadata part: the text of the elements named.
class TPeopleHandler : public TXmlHandler {
 public:
  TPeopleHandler(TDocumentBuilder& builder, std::initializer_list<std::string_view> names)
      : builder_(builder), names_(names) {}

  bool StartElement(std::string_view name, const TXmlAttributes&) override {
    if (!IsPersonElement(name)) return true;
    ++depth_;
    person_.clear();
    return true;
  }
  bool EndElement(std::string_view name) override {
    if (!IsPersonElement(name)) return true;
    --depth_;
    return builder_.AddPerson(person_);
  }
  bool Characters(std::string_view text) override {
    if (depth_ > 0) person_.append(text);
    return true;
  }

 private:
  bool IsPersonElement(std::string_view name) const {
    return std::find(names_.begin(), names_.end(), name) != names_.end();
  }

  TDocumentBuilder& builder_;
  std::vector<std::string_view> names_;
  int depth_ = 0;
  std::string person_;
};

// The text and links of an OpenDocument content.xml: the text of
// paragraphs and headings (<text:p>, <text:h>, with everything inside
// them: spans, links, list items and table cells hold paragraphs), less
// the deleted text of tracked changes. <text:s> stands for any number of
// spaces and gives one; <text:tab> a tab; <text:line-break> a line end.
// Links: xlink:href of <text:a> and <draw:a>.
class TOdfContentHandler : public TXmlHandler {
 public:
  explicit TOdfContentHandler(TDocumentBuilder& builder) : builder_(builder) {}

  bool StartElement(std::string_view name, const TXmlAttributes& attributes) override {
    if (skipDepth_ > 0 || name == "tracked-changes") {
      ++skipDepth_;
      return true;
    }
    if (name == "p" || name == "h") ++paragraphDepth_;
    if (name == "s" && paragraphDepth_ > 0) return builder_.AppendText(" ");
    if (name == "tab" && paragraphDepth_ > 0) return builder_.Tab();
    if (name == "line-break") return builder_.EndLine();
    if (name == "a") {
      if (const std::optional<std::string_view> href = attributes.Value("href")) {
        return builder_.AddLink(*href);
      }
    }
    return true;
  }
  bool EndElement(std::string_view name) override {
    if (skipDepth_ > 0) {
      --skipDepth_;
      return true;
    }
    if (name != "p" && name != "h") return true;
    --paragraphDepth_;
    return builder_.EndLine();
  }
  bool Characters(std::string_view text) override {
    return paragraphDepth_ == 0 || skipDepth_ > 0 || builder_.AppendText(text);
  }

 private:
  TDocumentBuilder& builder_;
  int paragraphDepth_ = 0;
  int skipDepth_ = 0;
};

// The entries `stem` + number + ".xml" ("ppt/slides/slide12.xml"), in the
// order of their numbers.
std::vector<std::string> NumberedParts(const std::vector<std::string>& names,
                                       std::string_view stem) {
  std::vector<std::string> parts;
  for (const std::string& name : names) {
    if (!name.starts_with(stem) || !name.ends_with(".xml")) continue;
    const std::string_view number(name.data() + stem.size(), name.size() - stem.size() - 4);
    if (!number.empty() && number.find_first_not_of("0123456789") == std::string_view::npos) {
      parts.push_back(name);
    }
  }
  // Same stem and suffix: a shorter name is a smaller number, unless it has
  // leading zeros, which no writer uses.
  std::sort(parts.begin(), parts.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return parts;
}

// "word/document.xml" -> "word/_rels/document.xml.rels".
std::string RelationshipsOf(const std::string& part) {
  const std::size_t slash = part.rfind('/');
  const std::size_t file = slash == std::string::npos ? 0 : slash + 1;
  return part.substr(0, file) + "_rels/" + part.substr(file) + ".rels";
}

// The part every file of that kind has.
std::string MainPart(TDocumentKind kind) {
  switch (kind) {
    case TDocumentKind::Docx: return "word/document.xml";
    case TDocumentKind::Xlsx: return "xl/workbook.xml";
    case TDocumentKind::Pptx: return "ppt/presentation.xml";
    default: return "content.xml";
  }
}

// The parts whose text an Office Open XML file of that kind gives, in
// order.
std::vector<std::string> OoxmlTextParts(TDocumentKind kind, const TZipPackage& package) {
  const std::vector<std::string> names = package.EntryNames();
  std::vector<std::string> parts;
  auto append = [&](std::vector<std::string> more) {
    parts.insert(parts.end(), more.begin(), more.end());
  };
  auto appendIfThere = [&](const std::string& name) {
    if (package.Has(name)) parts.push_back(name);
  };
  switch (kind) {
    case TDocumentKind::Docx:
      parts.push_back("word/document.xml");
      append(NumberedParts(names, "word/header"));
      append(NumberedParts(names, "word/footer"));
      appendIfThere("word/footnotes.xml");
      appendIfThere("word/endnotes.xml");
      return parts;
    case TDocumentKind::Xlsx:
      appendIfThere("xl/sharedStrings.xml");
      append(NumberedParts(names, "xl/worksheets/sheet"));
      return parts;
    default:
      return NumberedParts(names, "ppt/slides/slide");
  }
}

bool HasMainPart(TDocumentKind kind, const TZipPackage& package, std::string& error) {
  if (package.Has(MainPart(kind))) return true;
  error = "no " + std::string(DocumentKindName(kind)) + " file: the container has no " +
          MainPart(kind);
  return false;
}

bool ReadOoxml(TDocumentKind kind, TZipPackage& package, TDocumentBuilder& builder,
               std::string& error) {
  if (!HasMainPart(kind, package, error)) return false;
  TOoxmlTextHandler text(builder);
  TRelationshipsHandler relationships(builder);
  for (const std::string& part : OoxmlTextParts(kind, package)) {
    if (!ReadXmlPart(package, part, text, error)) return false;
    const std::string links = RelationshipsOf(part);
    if (package.Has(links) && !ReadXmlPart(package, links, relationships, error)) return false;
  }
  TPeopleHandler people(builder, {"creator", "lastModifiedBy"});
  return !package.Has("docProps/core.xml") ||
         ReadXmlPart(package, "docProps/core.xml", people, error);
}

bool ReadOpenDocument(TDocumentKind kind, TZipPackage& package, TDocumentBuilder& builder,
                      std::string& error) {
  if (!HasMainPart(kind, package, error)) return false;
  TOdfContentHandler content(builder);
  if (!ReadXmlPart(package, "content.xml", content, error)) return false;
  TPeopleHandler people(builder, {"initial-creator", "creator"});
  return !package.Has("meta.xml") || ReadXmlPart(package, "meta.xml", people, error);
}

}  // namespace

bool ReadOfficeDocument(TDocumentKind kind, std::string_view bytes, const TDocumentLimits& limits,
                        TDocumentBuilder& builder, std::string& error) {
  TZipPackage package(limits);
  if (!package.Open(bytes, error)) return false;
  switch (kind) {
    case TDocumentKind::Docx:
    case TDocumentKind::Xlsx:
    case TDocumentKind::Pptx:
      return ReadOoxml(kind, package, builder, error);
    default:
      return ReadOpenDocument(kind, package, builder, error);
  }
}
