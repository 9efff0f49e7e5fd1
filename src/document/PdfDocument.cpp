#include "PdfDocument.h"

#include <glib.h>
#include <poppler.h>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "DocumentPeople.h"

namespace {

// Poppler's complaints about damaged files go to stderr unless told
// otherwise: the C++ interface through its debug function, the GLib one
// through GLib's log. Once per process.
void SilencePoppler() {
  static const bool silenced = [] {
    poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr);
    g_log_set_handler("Poppler",
                      static_cast<GLogLevelFlags>(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL |
                                                  G_LOG_FLAG_RECURSION),
                      [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
    return true;
  }();
  (void)silenced;
}

std::string Utf8(const poppler::ustring& text) {
  const poppler::byte_array bytes = text.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

struct TGObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using TPopplerDocument = std::unique_ptr<PopplerDocument, TGObjectUnref>;
using TPopplerPage = std::unique_ptr<PopplerPage, TGObjectUnref>;

// A page's text without the blank lines between its blocks and the form
// feed at its end.
bool AppendLines(std::string_view text, TDocumentBuilder& builder) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (TrimmedWhitespace(line).empty()) continue;
    if (!builder.AppendText(line) || !builder.EndLine()) return false;
  }
  return true;
}

// The text of every page in reading order, the order pdftotext uses
// (neither the content stream's order nor the physical layout's columns of
// spaces).
// A page tree that holds itself leaves Poppler no page, and a PDF without
// one is damaged rather than empty.
bool ReadText(const poppler::document& document, TDocumentBuilder& builder, std::string& error) {
  const int pages = document.pages();
  int read = 0;
  for (int i = 0; i < pages; ++i) {
    const std::unique_ptr<poppler::page> page(document.create_page(i));
    if (!page) continue;
    ++read;
    const std::string text =
        Utf8(page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout));
    if (!AppendLines(text, builder)) return false;
  }
  if (read == 0) error = "the PDF has no page Poppler can read";
  return read > 0;
}

bool ReadPeople(const poppler::document& document, TDocumentBuilder& builder) {
  const std::string creator = Utf8(document.get_creator());
  if (!builder.AddPerson(Utf8(document.get_author()))) return false;
  return NamesSoftware(creator, Utf8(document.get_producer())) || builder.AddPerson(creator);
}

bool ReadPageLinks(PopplerPage* page, TDocumentBuilder& builder) {
  GList* mappings = poppler_page_get_link_mapping(page);
  bool kept = true;
  for (GList* item = mappings; item && kept; item = item->next) {
    const auto* mapping = static_cast<const PopplerLinkMapping*>(item->data);
    const PopplerAction* action = mapping->action;
    if (action && action->type == POPPLER_ACTION_URI && action->uri.uri) {
      kept = builder.AddLink(action->uri.uri);
    }
  }
  poppler_page_free_link_mapping(mappings);
  return kept;
}

bool ReadLinks(std::string_view bytes, TDocumentBuilder& builder, std::string& error) {
  // The bytes outlive the document: GLib need not copy them.
  GBytes* data = g_bytes_new_static(bytes.data(), bytes.size());
  GError* failure = nullptr;
  TPopplerDocument document(poppler_document_new_from_bytes(data, nullptr, &failure));
  g_bytes_unref(data);
  if (!document) {
    error = std::string("Poppler cannot read the PDF's links: ") +
            (failure ? failure->message : "no reason given");
    if (failure) g_error_free(failure);
    return false;
  }
  const int pages = poppler_document_get_n_pages(document.get());
  for (int i = 0; i < pages; ++i) {
    const TPopplerPage page(poppler_document_get_page(document.get(), i));
    if (page && !ReadPageLinks(page.get(), builder)) return false;
  }
  return true;
}

}  // namespace

bool ReadPdfDocument(std::string_view bytes, TDocumentBuilder& builder, std::string& error) {
  SilencePoppler();
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
    error = "the PDF is larger than Poppler reads from memory";
    return false;
  }
  const std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  if (!document) {
    error = "no readable PDF (damaged, cut short or no PDF at all)";
    return false;
  }
  if (document->is_locked()) {
    error = "the PDF is encrypted with a password";
    return false;
  }
  return ReadText(*document, builder, error) && ReadPeople(*document, builder) &&
         ReadLinks(bytes, builder, error);
}
