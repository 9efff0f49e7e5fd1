#include "ZipPackage.h"

#include <zip.h>

#include <memory>

namespace {

// libzip's message for a failure it reports through a zip_error_t.
std::string ZipErrorText(zip_error_t& zipError) {
  std::string text = zip_error_strerror(&zipError);
  zip_error_fini(&zipError);
  return text;
}

struct TZipFileCloser {
  void operator()(zip_file_t* file) const { zip_fclose(file); }
};

}  // namespace

TZipPackage::~TZipPackage() {
  // Read-only: nothing to write back, the source (not owned) goes with it.
  if (zip_) zip_discard(zip_);
}

bool TZipPackage::Open(std::string_view bytes, std::string& error) {
  zip_error_t zipError;
  zip_error_init(&zipError);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &zipError);
  if (!source) {
    error = "cannot read the container: " + ZipErrorText(zipError);
    return false;
  }
  zip_ = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
  if (!zip_) {
    // A source that no archive took is still ours.
    zip_source_free(source);
    error = "no zip container: " + ZipErrorText(zipError);
    return false;
  }
  zip_error_fini(&zipError);
  const zip_int64_t entries = zip_get_num_entries(zip_, 0);
  if (entries < 0 || static_cast<std::uint64_t>(entries) > limits_.MaxEntries) {
    error = "the container has more than " + std::to_string(limits_.MaxEntries) + " entries";
    return false;
  }
  return true;
}

std::vector<std::string> TZipPackage::EntryNames() const {
  std::vector<std::string> names;
  const zip_int64_t entries = zip_get_num_entries(zip_, 0);
  for (zip_int64_t i = 0; i < entries; ++i) {
    if (const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), 0)) {
      names.emplace_back(name);
    }
  }
  return names;
}

bool TZipPackage::Has(const std::string& name) const {
  return zip_name_locate(zip_, name.c_str(), 0) >= 0;
}

bool TZipPackage::CountUnpacked(std::uint64_t bytes, std::string& error) {
  if (bytes > limits_.MaxUnpacked - unpacked_) {
    error = "zip bomb: the container inflates to more than " +
            std::to_string(limits_.MaxUnpacked) + " bytes";
    return false;
  }
  unpacked_ += bytes;
  return true;
}

bool TZipPackage::Read(const std::string& name, const TZipSink& sink, std::string& error) {
  const zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
  if (index < 0) {
    error = "the container has no " + name;
    return false;
  }
  // The declared size ends a bomb early; the count below holds for entries
  // that declare less than they inflate to.
  zip_stat_t stat;
  if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &stat) == 0 &&
      (stat.valid & ZIP_STAT_SIZE) && stat.size > limits_.MaxUnpacked - unpacked_) {
    return CountUnpacked(stat.size, error);
  }
  std::unique_ptr<zip_file_t, TZipFileCloser> file(
      zip_fopen_index(zip_, static_cast<zip_uint64_t>(index), 0));
  if (!file) {
    error = "cannot open " + name + ": " + zip_strerror(zip_);
    return false;
  }
  std::string piece(kZipPiece, '\0');
  for (;;) {
    const zip_int64_t got = zip_fread(file.get(), piece.data(), piece.size());
    if (got < 0) {
      error = "cannot inflate " + name + ": " + zip_file_strerror(file.get());
      return false;
    }
    if (got == 0) return true;
    if (!CountUnpacked(static_cast<std::uint64_t>(got), error)) return false;
    if (!sink({piece.data(), static_cast<std::size_t>(got)})) return false;
  }
}
