// The command line of tirasel-cli: what each option means, its default, the
// help text listing them all, and the parser. Long options take their value
// as the next argument or after "=" ("--timeout=5"). A usage error names the
// option it concerns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CrawlOptions.h"
#include "HttpProt.h"
#include "VocabularyOutput.h"

// Defaults, also shown by --help; the user agent is the client's (HttpDefaults.h).
inline constexpr int kDefaultTimeoutSeconds = 30;
inline constexpr size_t kDefaultParallel = 4;
inline constexpr size_t kMaxParallel = 64;
inline constexpr size_t kMaxGroups = 8;
inline constexpr size_t kMaxContext = 10000;

namespace re2 {
class RE2;
}

// A regular expression as given, with its compiled form. RE2 needs time in
// proportion to the address and a stack that does not grow with it, so a
// page's one huge link cannot end the run; its syntax is ECMAScript's but
// for backreferences and lookaround. Each byte of the address
// (Windows-1252) is one character.
struct TAddressPattern {
  std::string Text;
  std::shared_ptr<const re2::RE2> Pattern;  // shared by the copies of the options
};

// How the word list, the log and the questions are written.
enum class TCliEncoding { Utf8, Windows1252 };

struct TCliOptions {
  std::string Url;
  std::string Proxy;
  std::string ListFile;    // opened first, as the window's open command does
  std::string OutputFile;  // empty: standard output
  // A web archive of every request and answer of the run; empty: none.
  std::string WarcFile;
  // Web archives the pages come from instead of the network; with no URL,
  // every HTML answer in them is harvested, in archive order.
  std::vector<std::string> FromWarc;
  TCliEncoding Encoding = TCliEncoding::Utf8;
  bool Ask = false;  // ask on the terminal instead of automatic mode
  bool Help = false;
  bool Version = false;

  // What to fetch, and how.
  int TimeoutSeconds = kDefaultTimeoutSeconds;  // 0: no inactivity timeout
  int DelayMs = 0;
  size_t Parallel = kDefaultParallel;  // requests in flight at once; 1: one at a time
  size_t MaxPages = 0;                 // 0: no limit
  std::optional<size_t> MaxDepth;
  TLinkScope Scope = TLinkScope::Dir;
  bool Robots = false;   // obey robots.txt
  bool Sitemap = false;  // queue the sitemaps' addresses after the start
  std::vector<TAddressPattern> Include, Exclude;
  std::string UserAgent = kDefaultUserAgent;
  bool Http10 = false;  // HTTP/1.0, a connection per request, as the window sends
  bool NoCompression = false;  // HTTP/1.1 without Accept-Encoding
  std::vector<std::string> Headers;  // "Name: value", sent with every request
  std::string CookiesFile;           // cookies.txt read before the first request
  std::string SaveCookiesFile;       // cookies.txt written at the end
  std::string AuthUser, AuthPassword;  // AuthUser empty: no authorization
  std::string ProxyUser, ProxyPassword;
  std::int64_t MaxPageSize = kDefaultMaxDocSize;  // 0: no limit
  bool Insecure = false;                          // https: accept any certificate and host name
  std::string CaFile;                             // https: further trusted certificates (PEM)

  // What to write.
  std::optional<size_t> MinLength, MaxLength;  // in characters
  bool Lowercase = false;
  bool NoNumbers = false;
  bool StripPunctuation = false;
  bool SkipCode = false;
  bool Count = false;  // --count, --format count
  TVocabularyFormat Format = TVocabularyFormat::List;
  std::optional<TVocabularySort> Sort;  // unset: first for list, count for the others
  size_t Context = 0;                   // characters; 0: no context column
  size_t Groups = 1;                    // longest word group; 1: words only
  std::string ReferenceFile;            // empty: no keyness
  TWordSplit Split = TWordSplit::Spaces;
  TUmlauts Umlauts = TUmlauts::Keep;
  // Vocabularies in TSV merged instead of a run.
  std::vector<std::string> MergeFiles;
  std::string EmailsFile;  // empty: no e-mail collection
  bool Documents = false;  // PDF, Office and OpenDocument files too
  std::string NamesFile;   // the people documents name; empty: not collected
  bool Stats = false;

  // Whether the list is written from the vocabulary (counts, pages, groups...)
  // rather than from the word list alone.
  bool UsesVocabulary() const {
    return (Format != TVocabularyFormat::List && Format != TVocabularyFormat::Count) || Sort ||
           Context > 0 || Groups > 1 || !ReferenceFile.empty() || Umlauts != TUmlauts::Keep ||
           !MergeFiles.empty();
  }
};

// Parses the arguments (argv[0] excluded); nullopt with `error` set on a
// usage error. --help and --version end the parsing at once.
std::optional<TCliOptions> ParseCliArguments(int argc, const char* const* argv, std::string& error);
std::string CliUsage();
std::string CliVersion();
