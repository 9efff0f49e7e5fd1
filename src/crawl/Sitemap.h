// A sitemap file as a site publishes it (sitemaps.org): the addresses it
// lists. Three forms are read, each possibly gzip-compressed:
//
//   <urlset><url><loc>http://h/a</loc>...</url>...</urlset>   pages
//   <sitemapindex><sitemap><loc>...</loc></sitemap>...</sitemapindex>
//                                                          more sitemaps
//   http://h/a                                             plain text:
//   http://h/b                                             one per line
//
// Elements are known by their local names, whatever their namespace. The
// XML is read as it streams (libxml2's push parser, building no tree),
// without the network, without loading a DTD, and knowing no entity but
// the five of XML itself and character references: a document that refers
// to an entity of its own is read up to that reference (in Error: not
// defined), and after an external DTD the address holding it is left out.
// libxml2 reports to Error, never to the terminal: while ReadSitemap runs,
// the calling thread's libxml2 error handlers are its own, and afterwards
// they are what they were. xmlInitParser is called once.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The protocol's limits on one sitemap: 50,000 addresses and 50 MiB once
// decompressed. kSitemapProtocolBytes suits ReadSitemap's maxDecodedBytes.
constexpr std::size_t kMaxSitemapLocations = 50000;
constexpr std::size_t kSitemapProtocolBytes = 50 * 1024 * 1024;

struct TSitemap {
  bool IsIndex = false;  // a <sitemapindex>: Locations are further sitemaps
  // Addresses in file order, trimmed of white space, at most
  // kMaxSitemapLocations; Windows-1252 text with "&#N;" for what it cannot
  // hold (Utf8ToCp1252), as the links of a page are.
  std::vector<std::string> Locations;
  // Empty, or why (part of) the file could not be read: malformed XML, a
  // root element that is not a sitemap's, broken gzip data, more than
  // maxDecodedBytes or kMaxSitemapLocations. The addresses read before the
  // fault are kept in Locations.
  std::string Error;
};

// The sitemap in `bytes`, gzip-compressed when they start with 1f 8b (one or
// more members). Of more than maxDecodedBytes (decompressed) only the first
// maxDecodedBytes are read, and Error says so; decompression stops there,
// so a small file that inflates to gigabytes costs maxDecodedBytes of
// memory. XML when the text starts with "<" (after a byte-order mark and
// white space), otherwise plain text: its lines that start with "http://"
// or "https://" (in any case).
TSitemap ReadSitemap(std::string_view bytes, std::size_t maxDecodedBytes);
