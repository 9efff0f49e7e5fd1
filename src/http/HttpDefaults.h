// What THttpCli sends and where it connects unless told otherwise. The crawl
// run sets its clients up with the same values, and the command line's
// options start from them.
#pragma once

#include "UrlOrigin.h"

// The User-Agent line; the window has always sent it.
inline constexpr char kDefaultUserAgent[] = "Mozilla/3.0 (compatible)";
// The Accept line.
inline constexpr char kDefaultAccept[] = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
// The Accept-Encoding line of HTTP/1.1 runs: the content codings the
// client undoes.
inline constexpr char kDefaultAcceptEncoding[] = "gzip, deflate, br";
// The port of a proxy given without one.
inline constexpr const char* kDefaultProxyPort = kHttpPort;
