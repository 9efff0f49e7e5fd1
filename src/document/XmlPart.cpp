#include "XmlPart.h"

#include <libxml/parser.h>
#include <libxml/xmlerror.h>

#include <algorithm>

#include "DocumentBuilder.h"
#include "XmlErrorScope.h"

namespace {

std::string_view Chars(const xmlChar* text) {
  return text ? std::string_view(reinterpret_cast<const char*>(text)) : std::string_view();
}

class TXmlPartParser {
 public:
  TXmlPartParser(const std::string& name, TXmlHandler& handler, std::string& error)
      : name_(name), handler_(handler), error_(error) {}
  ~TXmlPartParser();
  TXmlPartParser(const TXmlPartParser&) = delete;
  TXmlPartParser& operator=(const TXmlPartParser&) = delete;

  bool Feed(std::string_view piece);
  bool Finish();

 private:
  // NONET keeps libxml2 off the network; without NOENT, DTDLOAD and HUGE it
  // puts in no entities, loads nothing and keeps its limits.
  static constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

  static xmlSAXHandler Handler();
  static TXmlPartParser& Self(void* context) { return *static_cast<TXmlPartParser*>(context); }
  bool Start(std::string_view piece);
  bool Parse(std::string_view piece, bool last);
  void Stop() {
    stopped_ = true;
    xmlStopParser(parser_);
  }
  void NoteError(const char* message);

  const std::string& name_;
  TXmlHandler& handler_;
  std::string& error_;
  xmlParserCtxt* parser_ = nullptr;
  bool stopped_ = false;    // the error says why
  std::string xmlProblem_;  // libxml2's first error
};

xmlSAXHandler TXmlPartParser::Handler() {
  xmlSAXHandler handler{};
  handler.initialized = XML_SAX2_MAGIC;
  handler.startElementNs = [](void* self, const xmlChar* name, const xmlChar*, const xmlChar*, int,
                              const xmlChar**, int count, int, const xmlChar** attributes) {
    TXmlPartParser& parser = Self(self);
    if (!parser.stopped_ &&
        !parser.handler_.StartElement(Chars(name), TXmlAttributes(attributes, count))) {
      parser.Stop();
    }
  };
  handler.endElementNs = [](void* self, const xmlChar* name, const xmlChar*, const xmlChar*) {
    TXmlPartParser& parser = Self(self);
    if (!parser.stopped_ && !parser.handler_.EndElement(Chars(name))) parser.Stop();
  };
  handler.characters = [](void* self, const xmlChar* text, int length) {
    TXmlPartParser& parser = Self(self);
    const std::string_view chars(reinterpret_cast<const char*>(text),
                                 static_cast<std::size_t>(length));
    if (!parser.stopped_ && !parser.handler_.Characters(chars)) parser.Stop();
  };
  handler.cdataBlock = handler.characters;
  handler.internalSubset = [](void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    TXmlPartParser& parser = Self(self);
    parser.error_ = parser.name_ + " declares a document type, which these parts never do";
    parser.Stop();
  };
  // A generic lambda fits the handler type of every libxml2 version.
  handler.serror = [](void* self, auto error) { Self(self).NoteError(error->message); };
  return handler;
}

TXmlPartParser::~TXmlPartParser() {
  if (!parser_) return;
  if (parser_->myDoc) xmlFreeDoc(parser_->myDoc);
  xmlFreeParserCtxt(parser_);
}

void TXmlPartParser::NoteError(const char* message) {
  if (!xmlProblem_.empty() || !message) return;
  xmlProblem_ = TrimmedWhitespace(message);
}

bool TXmlPartParser::Start(std::string_view piece) {
  static const bool initialised = (xmlInitParser(), true);
  (void)initialised;
  xmlSAXHandler handler = Handler();
  // The first four bytes tell libxml2 the character encoding.
  const std::size_t head = std::min<std::size_t>(4, piece.size());
  parser_ = xmlCreatePushParserCtxt(&handler, this, piece.data(), static_cast<int>(head),
                                    nullptr);
  if (!parser_) {
    error_ = "libxml2 cannot start reading " + name_;
    return false;
  }
  xmlCtxtUseOptions(parser_, kOptions);
  return Parse(piece.substr(head), false);
}

bool TXmlPartParser::Feed(std::string_view piece) {
  return parser_ ? Parse(piece, false) : Start(piece);
}

bool TXmlPartParser::Finish() {
  if (!parser_) {
    error_ = name_ + " is empty";
    return false;
  }
  return Parse({}, true);
}

bool TXmlPartParser::Parse(std::string_view piece, bool last) {
  TXmlErrorScope quiet;
  const int result = xmlParseChunk(parser_, piece.data(), static_cast<int>(piece.size()), last);
  if (stopped_) return false;
  if (result != 0 || (last && !parser_->wellFormed)) {
    error_ = name_ + " is no well-formed XML" + (xmlProblem_.empty() ? "" : ": " + xmlProblem_);
    return false;
  }
  return true;
}

}  // namespace

std::optional<std::string_view> TXmlAttributes::Value(std::string_view localName) const {
  // Five pointers per attribute: local name, prefix, namespace, value, value end.
  for (int i = 0; i < count_; ++i) {
    const unsigned char** attribute = attributes_ + 5 * i;
    if (Chars(attribute[0]) != localName) continue;
    return std::string_view(reinterpret_cast<const char*>(attribute[3]),
                            static_cast<std::size_t>(attribute[4] - attribute[3]));
  }
  return std::nullopt;
}

bool ReadXmlPart(TZipPackage& package, const std::string& name, TXmlHandler& handler,
                 std::string& error) {
  TXmlPartParser parser(name, handler, error);
  return package.Read(name, [&](std::string_view piece) { return parser.Feed(piece); }, error) &&
         parser.Finish();
}
