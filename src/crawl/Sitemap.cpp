#include "Sitemap.h"

#include <libxml/parser.h>
#include <zlib.h>

#include <algorithm>

#include "AsciiCase.h"
#include "ByteScan.h"
#include "Utf8Text.h"
#include "WarcError.h"
#include "XmlErrorScope.h"
#include "ZlibStreams.h"

namespace {

constexpr std::string_view kGzipMagic = "\x1F\x8B";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kSpace = " \t\r\n\v\f";
// zlib tells a gzip header from a zlib one by itself.
constexpr int kGzipOrZlibWindowBits = 15 + 32;
constexpr std::size_t kInflateStep = 64 * 1024;
constexpr std::size_t kMaxInflateInput = std::size_t{1} << 30;  // avail_in is 32 bits wide

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

void Fail(TSitemap& sitemap, std::string problem) {
  // The first fault tells most; what follows from it adds nothing.
  if (sitemap.Error.empty()) sitemap.Error = std::move(problem);
}

std::string TooLargeProblem(std::size_t limit) {
  return "the sitemap is larger than " + std::to_string(limit) + " bytes; only those were read";
}

// Adds an address unless the sitemap has its fill; false when it has.
bool AddLocation(TSitemap& sitemap, std::string_view utf8) {
  if (sitemap.Locations.size() == kMaxSitemapLocations) {
    Fail(sitemap, "the sitemap lists more than " + std::to_string(kMaxSitemapLocations) +
                      " addresses; the rest were left out");
    return false;
  }
  sitemap.Locations.push_back(Utf8ToCp1252(utf8));
  return true;
}

// The decompressed bytes of one or more gzip members, at most `limit` of
// them: inflating stops at the limit, however much more the data holds.
// Bytes after the last member that do not start another are ignored, as
// gzip does.
std::string Gunzipped(std::string_view gz, std::size_t limit, TSitemap& sitemap) {
  TInflater inflater(kGzipOrZlibWindowBits);
  z_stream& stream = inflater.Stream();
  std::string out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t fed = std::min(gz.size() - at, kMaxInflateInput);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data() + at));
    stream.avail_in = static_cast<uInt>(fed);
    // One byte of room beyond the limit tells a file of exactly `limit` bytes
    // from a larger one.
    const std::size_t used = out.size();
    const std::size_t room = std::min(kInflateStep, limit - used + 1);
    out.resize(used + room);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
    stream.avail_out = static_cast<uInt>(room);
    const int result = inflate(&stream, Z_NO_FLUSH);
    out.resize(used + room - stream.avail_out);
    at += fed - stream.avail_in;
    if (out.size() > limit) {
      out.resize(limit);
      Fail(sitemap, TooLargeProblem(limit));
      return out;
    }
    if (result == Z_STREAM_END) {
      if (!gz.substr(at).starts_with(kGzipMagic)) return out;
      inflater.Reset();
    } else if (result == Z_BUF_ERROR) {
      // There is room for output, so what is missing is input.
      Fail(sitemap, "the gzip data is cut short");
      return out;
    } else if (result != Z_OK) {
      Fail(sitemap,
           std::string("broken gzip data: ") + (stream.msg ? stream.msg : "inflate failed"));
      return out;
    }
  }
}

bool LooksLikeXml(std::string_view text) {
  if (text.starts_with("\xFE\xFF") || text.starts_with("\xFF\xFE")) return true;  // UTF-16
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  const std::size_t first = text.find_first_not_of(kSpace);
  return first != text.npos && text[first] == '<';
}

void ReadPlainText(std::string_view text, TSitemap& sitemap) {
  if (text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* lineEnd = FindFirstOf<'\r', '\n'>(p, end);
    const std::string_view line = Trimmed({p, static_cast<std::size_t>(lineEnd - p)});
    if (StartsWithIgnoringAsciiCase(line, "http://") ||
        StartsWithIgnoringAsciiCase(line, "https://")) {
      if (!AddLocation(sitemap, line)) return;
    }
    if (lineEnd == end) break;
    p = lineEnd + 1;
  }
}

// Follows the elements as libxml2's push parser reports them (SAX2, no tree
// is built): <loc> at depth 2 inside a <url> or <sitemap> at depth 1, as the
// root at depth 0 requires. libxml2's text reader would hand out nodes a
// chunk behind the parser, and a fault drops the chunk it is in; the
// parser's own events stop right at the fault.
class TSitemapXmlReader {
 public:
  explicit TSitemapXmlReader(TSitemap& sitemap) : sitemap_(sitemap) {}

  void Read(std::string_view xml);

 private:
  // NONET keeps libxml2 off the network; without NOENT, DTDLOAD and HUGE it
  // neither loads external entities or DTDs nor puts entities in, and keeps
  // its limits on names and text. The handler below knows no entity at all,
  // so that a reference to one ends the reading where it stands (or, after
  // an external DTD, drops the address it is in).
  static constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  static constexpr std::size_t kChunk = 64 * 1024;

  static xmlSAXHandler Handler();
  static TSitemapXmlReader& Self(void* context) {
    return *static_cast<TSitemapXmlReader*>(context);
  }
  void Parse(xmlParserCtxt* parser, std::string_view xml);
  void StartElement(std::string_view name);
  void EndElement();
  void KeepLocation();
  void Stop();
  void NoteError(int level, int line, const char* message);

  TSitemap& sitemap_;
  xmlParserCtxt* parser_ = nullptr;
  int depth_ = 0;               // of the next element to start
  std::string_view entryName_;  // "url" or "sitemap" once the root is known
  bool inEntry_ = false;
  bool inLoc_ = false;
  bool locHasEntity_ = false;  // a reference we do not put in: the address is not whole
  std::string loc_;
  bool done_ = false;
  std::string xmlProblem_;  // libxml2's first error
};

xmlSAXHandler TSitemapXmlReader::Handler() {
  xmlSAXHandler handler{};
  handler.initialized = XML_SAX2_MAGIC;
  handler.startElementNs = [](void* self, const xmlChar* name, const xmlChar*, const xmlChar*, int,
                              const xmlChar**, int, int, const xmlChar**) {
    Self(self).StartElement(reinterpret_cast<const char*>(name));
  };
  handler.endElementNs = [](void* self, const xmlChar*, const xmlChar*, const xmlChar*) {
    Self(self).EndElement();
  };
  handler.characters = [](void* self, const xmlChar* text, int length) {
    TSitemapXmlReader& reader = Self(self);
    if (reader.inLoc_ && reader.depth_ == 3) {
      reader.loc_.append(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    }
  };
  handler.cdataBlock = handler.characters;
  handler.reference = [](void* self, const xmlChar*) {
    if (Self(self).inLoc_) Self(self).locHasEntity_ = true;
  };
  // A generic lambda fits the handler type of every libxml2 version (the
  // error is const from 2.12 on).
  handler.serror = [](void* self, auto error) {
    Self(self).NoteError(error->level, error->line, error->message);
  };
  return handler;
}

void TSitemapXmlReader::Read(std::string_view xml) {
  static const bool initialised = (xmlInitParser(), true);
  (void)initialised;
  xmlSAXHandler handler = Handler();
  TXmlErrorScope errorScope(this, handler.serror);
  // The first four bytes tell libxml2 the character encoding.
  const std::size_t head = std::min<std::size_t>(4, xml.size());
  xmlParserCtxt* parser =
      xmlCreatePushParserCtxt(&handler, this, xml.data(), static_cast<int>(head), nullptr);
  if (!parser) {
    Fail(sitemap_, "libxml2 cannot start reading the sitemap");
    return;
  }
  xmlCtxtUseOptions(parser, kOptions);
  Parse(parser, xml.substr(head));
  // libxml2 keeps the entity declarations of a handler like ours in a
  // document of its own.
  if (parser->myDoc) xmlFreeDoc(parser->myDoc);
  xmlFreeParserCtxt(parser);
}

void TSitemapXmlReader::Parse(xmlParserCtxt* parser, std::string_view xml) {
  parser_ = parser;
  int result = 0;
  do {
    const std::size_t step = std::min(xml.size(), kChunk);
    result = xmlParseChunk(parser, xml.data(), static_cast<int>(step), step == xml.size());
    xml.remove_prefix(step);
  } while (result == 0 && !done_ && !xml.empty());
  if (done_) return;
  if (result != 0 || !parser->wellFormed) {
    Fail(sitemap_, xmlProblem_.empty() ? "malformed XML" : xmlProblem_);
  }
}

void TSitemapXmlReader::StartElement(std::string_view name) {
  const int depth = depth_++;
  if (depth == 0) {
    if (name == "urlset") {
      entryName_ = "url";
    } else if (name == "sitemapindex") {
      entryName_ = "sitemap";
      sitemap_.IsIndex = true;
    } else {
      Fail(sitemap_, "not a sitemap: the root element is <" + std::string(name) + ">");
      Stop();
    }
  } else if (depth == 1) {
    inEntry_ = name == entryName_;
  } else if (depth == 2 && inEntry_ && name == "loc") {
    inLoc_ = true;
    locHasEntity_ = false;
    loc_.clear();
  }
}

void TSitemapXmlReader::EndElement() {
  const int depth = --depth_;
  if (depth == 1) inEntry_ = false;
  if (depth == 2 && inLoc_) {
    inLoc_ = false;
    KeepLocation();
  }
}

void TSitemapXmlReader::KeepLocation() {
  const std::string_view location = Trimmed(loc_);
  if (location.empty() || locHasEntity_) return;
  if (!AddLocation(sitemap_, location)) Stop();
}

void TSitemapXmlReader::Stop() {
  done_ = true;
  xmlStopParser(parser_);
}

void TSitemapXmlReader::NoteError(int level, int line, const char* message) {
  if (level < XML_ERR_ERROR || !xmlProblem_.empty()) return;
  const std::string_view text = Trimmed(message ? message : "");
  xmlProblem_ = "XML error on line " + std::to_string(line) + ": " +
                std::string(text.empty() ? "malformed XML" : text);
}

}  // namespace

TSitemap ReadSitemap(std::string_view bytes, std::size_t maxDecodedBytes) {
  TSitemap sitemap;
  // One byte of room beyond the limit must still be countable.
  maxDecodedBytes = std::min(maxDecodedBytes, std::string().max_size() / 2);
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.starts_with(kGzipMagic)) {
    try {
      decoded = Gunzipped(bytes, maxDecodedBytes, sitemap);
    } catch (const EWarcError& error) {
      Fail(sitemap, error.what());
    }
    text = decoded;
  } else if (text.size() > maxDecodedBytes) {
    text = text.substr(0, maxDecodedBytes);
    Fail(sitemap, TooLargeProblem(maxDecodedBytes));
  }
  if (LooksLikeXml(text)) {
    TSitemapXmlReader(sitemap).Read(text);
  } else {
    ReadPlainText(text, sitemap);
  }
  return sitemap;
}
