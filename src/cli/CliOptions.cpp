#include "CliOptions.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <string_view>

#include <re2/re2.h>

#include "AsciiCase.h"

namespace {

using TSetter =
    std::function<bool(TCliOptions& options, const std::string& value, std::string& error)>;

// One option: its name, the name of its value (nullptr for a flag), the
// help text (the default included) and what it does to the options.
struct TOptionSpec {
  const char* Name;
  const char* Value;
  const char* Help;
  TSetter Set;
};

// A decimal number from 0 to `max`, nothing else around it; nullopt with
// `error` set otherwise.
std::optional<unsigned long long> ParseNumber(const std::string& text, unsigned long long max,
                                              std::string& error) {
  unsigned long long value = 0;
  const char* end = text.data() + text.size();
  auto [at, failure] = std::from_chars(text.data(), end, value);
  if (text.empty() || failure != std::errc() || at != end || value > max) {
    error = "not a number from 0 to " + std::to_string(max) + ": \"" + text + "\"";
    return std::nullopt;
  }
  return value;
}

constexpr unsigned long long kMaxCount = std::numeric_limits<std::uint32_t>::max();

template <class T>
TSetter Number(T TCliOptions::*field, unsigned long long max) {
  return [field, max](TCliOptions& options, const std::string& value, std::string& error) {
    std::optional<unsigned long long> number = ParseNumber(value, max, error);
    if (number) options.*field = static_cast<T>(*number);
    return number.has_value();
  };
}

// A number from 1 to `max`.
TSetter PositiveCount(size_t TCliOptions::*field, unsigned long long max) {
  return [field, max](TCliOptions& options, const std::string& value, std::string& error) {
    std::optional<unsigned long long> number = ParseNumber(value, max, error);
    if (number && *number == 0) {
      error = "not a number from 1 to " + std::to_string(max) + ": \"" + value + "\"";
      return false;
    }
    if (number) options.*field = static_cast<size_t>(*number);
    return number.has_value();
  };
}

TSetter OptionalCount(std::optional<size_t> TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string& value, std::string& error) {
    std::optional<unsigned long long> number = ParseNumber(value, kMaxCount, error);
    if (number) options.*field = static_cast<size_t>(*number);
    return number.has_value();
  };
}

TSetter Text(std::string TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string& value, std::string&) {
    options.*field = value;
    return true;
  };
}

TSetter Flag(bool TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string&, std::string&) {
    options.*field = true;
    return true;
  };
}

TSetter Texts(std::vector<std::string> TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string& value, std::string&) {
    (options.*field).push_back(value);
    return true;
  };
}

TSetter Pattern(std::vector<TAddressPattern> TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string& value, std::string& error) {
    RE2::Options settings;
    // One byte of the address, one character; the usage error tells what is
    // wrong, once, instead of RE2's own log.
    settings.set_encoding(RE2::Options::EncodingLatin1);
    settings.set_log_errors(false);
    auto pattern = std::make_shared<const RE2>(value, settings);
    if (!pattern->ok()) {
      error = "bad regular expression \"" + value + "\": " + pattern->error();
      return false;
    }
    (options.*field).push_back({value, std::move(pattern)});
    return true;
  };
}

// "USER:PASSWORD", split at the first colon; the password may be empty.
TSetter Credentials(std::string TCliOptions::*user, std::string TCliOptions::*password) {
  return [user, password](TCliOptions& options, const std::string& value, std::string& error) {
    size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0) {
      error = "expected USER:PASSWORD";
      return false;
    }
    options.*user = value.substr(0, colon);
    options.*password = value.substr(colon + 1);
    return true;
  };
}

// For a value that goes into a request's header lines: a CR or LF would end
// its line and start one of the caller's making, a NUL would cut it short.
TSetter InRequest(TSetter set) {
  return
      [set = std::move(set)](TCliOptions& options, const std::string& value, std::string& error) {
        if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
          error = "CR, LF and NUL cannot go into a request";
          return false;
        }
        return set(options, value, error);
      };
}

// "Name: value" with a name of token characters, as a header line needs.
TSetter Header(std::vector<std::string> TCliOptions::*field) {
  return [field](TCliOptions& options, const std::string& value, std::string& error) {
    const size_t colon = value.find(':');
    const std::string_view name = std::string_view(value).substr(0, colon);
    auto tokenChar = [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) ||
             std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    };
    if (colon == std::string::npos || name.empty() ||
        !std::all_of(name.begin(), name.end(), tokenChar)) {
      error = "expected 'Name: value'";
      return false;
    }
    (options.*field).push_back(value);
    return true;
  };
}

TSetter Scope() {
  return [](TCliOptions& options, const std::string& value, std::string& error) {
    if (value == "dir") {
      options.Scope = TLinkScope::Dir;
    } else if (value == "host") {
      options.Scope = TLinkScope::Host;
    } else if (value == "domain") {
      options.Scope = TLinkScope::Domain;
    } else {
      error = "unknown scope \"" + value + "\" (dir, host or domain)";
      return false;
    }
    return true;
  };
}

// One of the named values.
template <class T>
TSetter Choice(T TCliOptions::*field, std::vector<std::pair<const char*, T>> names) {
  return [field, names](TCliOptions& options, const std::string& value, std::string& error) {
    std::string known;
    for (const auto& [name, choice] : names) {
      if (value == name) {
        options.*field = choice;
        return true;
      }
      known += (known.empty() ? "" : ", ") + std::string(name);
    }
    error = "unknown value \"" + value + "\" (" + known + ")";
    return false;
  };
}

TSetter Format() {
  return [](TCliOptions& options, const std::string& value, std::string& error) {
    static const TSetter choose = Choice<TVocabularyFormat>(
        &TCliOptions::Format, {{"list", TVocabularyFormat::List},
                               {"count", TVocabularyFormat::Count},
                               {"tsv", TVocabularyFormat::Tsv},
                               {"csv", TVocabularyFormat::Csv},
                               {"jsonl", TVocabularyFormat::Jsonl}});
    if (!choose(options, value, error)) return false;
    options.Count = options.Format == TVocabularyFormat::Count;
    return true;
  };
}

TSetter Encoding() {
  return [](TCliOptions& options, const std::string& value, std::string& error) {
    const std::string name = LowerAscii(value);
    if (name == "utf-8" || name == "utf8") {
      options.Encoding = TCliEncoding::Utf8;
    } else if (name == "windows-1252" || name == "cp1252") {
      options.Encoding = TCliEncoding::Windows1252;
    } else {
      error = "unknown encoding \"" + value + "\" (utf-8 or windows-1252)";
      return false;
    }
    return true;
  };
}

const std::vector<TOptionSpec>& OptionSpecs() {
  static const std::string userAgentHelp =
      std::string("the User-Agent header (default: \"") + kDefaultUserAgent + "\")";
  static const std::vector<TOptionSpec> specs = {
      {"--proxy", "HOST[:PORT]",
       "fetch through this HTTP proxy, port 80 when none is given (default: none)",
       InRequest(Text(&TCliOptions::Proxy))},
      {"--proxy-auth", "USER:PASSWORD",
       "Basic authorization towards the proxy, never sent inside an https tunnel "
       "(default: none)",
       InRequest(Credentials(&TCliOptions::ProxyUser, &TCliOptions::ProxyPassword))},
      {"--auth", "USER:PASSWORD",
       "Basic authorization towards the site, or Digest when the site asks for it (not with "
       "--http1.0), sent only to the scheme, host and port of URL (default: none)",
       InRequest(Credentials(&TCliOptions::AuthUser, &TCliOptions::AuthPassword))},
      {"--user-agent", "TEXT", userAgentHelp.c_str(), InRequest(Text(&TCliOptions::UserAgent))},
      {"--http1.0", nullptr,
       "speak HTTP/1.0 with a connection per request, as the window does (default: HTTP/1.1 "
       "with persistent connections and chunked answers)",
       Flag(&TCliOptions::Http10)},
      {"--header", "'NAME: VALUE'",
       "send this header line with every request (repeatable); one naming a line Tirasel sends "
       "itself (User-Agent, Accept...) takes its place (default: none)",
       InRequest(Header(&TCliOptions::Headers))},
      {"--cookies", "FILE",
       "start with the cookies of FILE (Netscape cookies.txt, as browsers' export tools and curl "
       "-c write it; default: none)",
       Text(&TCliOptions::CookiesFile)},
      {"--save-cookies", "FILE",
       "write the run's cookies to FILE at the end, in the same format (default: none); cookies "
       "are kept for the run over HTTP/1.1, or with --cookies or --save-cookies",
       Text(&TCliOptions::SaveCookiesFile)},
      {"--no-compression", nullptr,
       "ask for no compressed answers (default: \"Accept-Encoding: gzip, deflate, br\" over "
       "HTTP/1.1, each page decoded before --max-page-size counts it)",
       Flag(&TCliOptions::NoCompression)},
      {"--ca-file", "FILE",
       "trust the certificates in FILE (PEM) for https too, besides the system's; SSL_CERT_FILE is "
       "honoured "
       "(default: the system's only)",
       Text(&TCliOptions::CaFile)},
      {"--insecure", nullptr,
       "https without checking certificates and host names (default: check them)",
       Flag(&TCliOptions::Insecure)},
      {"--list", "FILE",
       "start from the word list in FILE and continue it (default: an empty list)",
       Text(&TCliOptions::ListFile)},
      {"--warc", "FILE",
       "write every request and answer of the run to the web archive FILE (WARC 1.1, each "
       "record gzip-compressed; default: none)",
       Text(&TCliOptions::WarcFile)},
      {"--from-warc", "FILE",
       "take the pages from the web archive FILE instead of the network (repeatable); without "
       "URL, harvest every HTML answer in the archives, in their order, following no link "
       "(default: the network)",
       Texts(&TCliOptions::FromWarc)},
      {"--output", "FILE", "write the word list to FILE (default: standard output)",
       Text(&TCliOptions::OutputFile)},
      {"--encoding", "ENC",
       "utf-8 or windows-1252: how the word list, the log and the questions are written; "
       "windows-1252 "
       "writes the list exactly as the window saves it (default: utf-8)",
       Encoding()},
      {"--ask", nullptr,
       "ask before following a link into another directory (default: never ask, stay on the site)",
       Flag(&TCliOptions::Ask)},
      {"--timeout", "SECONDS",
       "skip a page that sends nothing for this long, also while connecting (default: 30; 0: "
       "never)",
       Number(&TCliOptions::TimeoutSeconds, 86400)},
      {"--delay", "MS",
       "pause between requests, in milliseconds; with --parallel above 1 the least time between "
       "two "
       "request starts (default: 0)",
       Number(&TCliOptions::DelayMs, 86400000)},
      {"--parallel", "N",
       "keep up to N requests in flight (never more to one host), fetching the next pages of the "
       "queue "
       "ahead; the log, the questions and the words are those of one request at a time (default: "
       "4; 1: "
       "one request at a time; at most 64)",
       PositiveCount(&TCliOptions::Parallel, kMaxParallel)},
      {"--max-pages", "N", "end the run after N fetched pages (default: 0, no limit)",
       Number(&TCliOptions::MaxPages, kMaxCount)},
      {"--max-page-size", "BYTES",
       "treat a page larger than BYTES as a failed fetch (default: 268435456, 256 MiB; 0: no "
       "limit)",
       Number(&TCliOptions::MaxPageSize, std::numeric_limits<std::int64_t>::max())},
      {"--depth", "N",
       "follow links at most N steps from the start page; 0: the start page only (default: no "
       "limit)",
       OptionalCount(&TCliOptions::MaxDepth)},
      {"--scope", "dir|host|domain",
       "where links are followed without asking: dir, the start directory and the directories "
       "accepted with --ask; host, every directory of the start host too; domain, also every "
       "host of its registrable domain (default: dir)",
       Scope()},
      {"--robots", nullptr,
       "fetch each host's /robots.txt once and leave out what it disallows for \"Tirasel\" (or "
       "\"*\"), logging each address left out (default: robots.txt is not read)",
       Flag(&TCliOptions::Robots)},
      {"--sitemap", nullptr,
       "queue the addresses of the start host's /sitemap.xml and of the sitemaps its robots.txt "
       "names (indexes and gzip too) after the start address, through the same link rules "
       "(default: links only)",
       Flag(&TCliOptions::Sitemap)},
      {"--include", "REGEX", "queue only addresses that match (repeatable; default: all)",
       Pattern(&TCliOptions::Include)},
      {"--exclude", "REGEX", "never queue addresses that match (repeatable; default: none)",
       Pattern(&TCliOptions::Exclude)},
      {"--min-length", "N", "write only words of at least N characters (default: no limit)",
       OptionalCount(&TCliOptions::MinLength)},
      {"--max-length", "N", "write only words of at most N characters (default: no limit)",
       OptionalCount(&TCliOptions::MaxLength)},
      {"--lowercase", nullptr, "write every word in lower case, each once (default: as found)",
       Flag(&TCliOptions::Lowercase)},
      {"--no-numbers", nullptr, "leave out words that contain a digit (default: keep them)",
       Flag(&TCliOptions::NoNumbers)},
      {"--strip-punctuation", nullptr,
       "cut leading and trailing punctuation from each word (default: keep it)",
       Flag(&TCliOptions::StripPunctuation)},
      {"--skip-code", nullptr,
       "do not harvest text inside <script>, <style> and comments (default: harvest it)",
       Flag(&TCliOptions::SkipCode)},
      {"--count", nullptr, "write \"word, n\" lines, the most frequent first (default: words only)",
       [](TCliOptions& options, const std::string&, std::string&) {
         options.Count = true;
         options.Format = TVocabularyFormat::Count;
         return true;
       }},
      {"--format", "list|count|tsv|csv|jsonl",
       "list: one word per line; count: \"word, n\" lines (as --count); tsv, csv, jsonl: per "
       "word its count, its pages, the first page it was seen on, with --context a piece of "
       "text around it, with --reference its keyness; UTF-8, the most frequent first "
       "(default: list)",
       Format()},
      {"--sort", "first|count|pages|key|alpha",
       "the order of the entries: first seen, most occurrences, most pages, highest keyness "
       "(with --reference), dictionary order; ties in order of first occurrence (default: first "
       "for list, count for the others)",
       Choice<std::optional<TVocabularySort>>(
           &TCliOptions::Sort, {{"first", TVocabularySort::First},
                                {"count", TVocabularySort::Count},
                                {"pages", TVocabularySort::Pages},
                                {"key", TVocabularySort::Key},
                                {"alpha", TVocabularySort::Alpha}})},
      {"--context", "N",
       "with --format tsv, csv or jsonl: up to N characters of text around each entry's first "
       "occurrence, whole words on one line (default: none)",
       Number(&TCliOptions::Context, kMaxContext)},
      {"--groups", "N",
       "also count every run of 2 to N consecutive words of one text as an entry, each word "
       "passing the filters (default: 1, words only; at most 8)",
       PositiveCount(&TCliOptions::Groups, kMaxGroups)},
      {"--reference", "FILE",
       "word counts of ordinary language or another site (\"word<TAB>count\" lines, our tsv or "
       "count output, UTF-8): adds each entry's keyness, Dunning's log-likelihood, positive "
       "where the entry is more frequent here (default: none)",
       Text(&TCliOptions::ReferenceFile)},
      {"--split", "spaces|words",
       "cut texts into words at spaces only, or at the Unicode word boundaries, punctuation "
       "and every kind of blank separating words, hyphens and apostrophes inside words kept "
       "(default: spaces)",
       Choice<TWordSplit>(&TCliOptions::Split,
                          {{"spaces", TWordSplit::Spaces}, {"words", TWordSplit::Unicode}})},
      {"--umlauts", "keep|both|ascii",
       "German umlauts and the sharp s as they are, also written ae, oe, ue, ss beside them, or "
       "only so (default: keep)",
       Choice<TUmlauts>(&TCliOptions::Umlauts,
                        {{"keep", TUmlauts::Keep}, {"both", TUmlauts::Both}, {"ascii", TUmlauts::Ascii}})},
      {"--merge", "FILE",
       "instead of a run, merge vocabularies written with --format tsv --sort first "
       "(repeatable), counts and pages added, the first file's first page and context kept, "
       "and write them as the output options say (default: a run)",
       Texts(&TCliOptions::MergeFiles)},
      {"--documents", nullptr,
       "also follow links to PDF, Office (.docx .xlsx .pptx) and OpenDocument (.odt .ods .odp) "
       "files of the site and harvest their text, read in a separate process under limits "
       "(default: pages only)",
       Flag(&TCliOptions::Documents)},
      {"--names", "FILE",
       "with --documents, write the people the documents' metadata name (authors, last editors) "
       "to FILE, one per line, each once; with --format tsv also the first document naming "
       "them (default: none)",
       Text(&TCliOptions::NamesFile)},
      {"--emails", "FILE", "write the e-mail addresses found to FILE, one per line (default: none)",
       Text(&TCliOptions::EmailsFile)},
      {"--stats", nullptr, "print a summary of the run on standard error (default: no summary)",
       Flag(&TCliOptions::Stats)},
      {"--version", nullptr, "show the version and end", Flag(&TCliOptions::Version)},
      {"--help", nullptr, "show this text and end", Flag(&TCliOptions::Help)},
  };
  return specs;
}

const TOptionSpec* FindOption(const std::string& name) {
  if (name == "-h") return FindOption("--help");
  for (const TOptionSpec& spec : OptionSpecs()) {
    if (name == spec.Name) return &spec;
  }
  return nullptr;
}

// "  --name VALUE" and the help text from column kHelpColumn, wrapped at
// word ends to stay within kTextWidth.
std::string OptionLine(const TOptionSpec& spec) {
  constexpr size_t kHelpColumn = 26, kTextWidth = 79;
  std::string text =
      std::string("  ") + spec.Name + (spec.Value ? std::string(" ") + spec.Value : "");
  size_t lineStart = 0;
  if (text.size() + 1 >= kHelpColumn) {
    text += "\n";
    lineStart = text.size();
  }
  text += std::string(kHelpColumn - (text.size() - lineStart), ' ');
  std::string_view help = spec.Help;
  while (!help.empty()) {
    size_t room = kTextWidth - (text.size() - lineStart);
    size_t cut = help.size() <= room ? help.size() : help.rfind(' ', room);
    if (cut == std::string_view::npos || cut == 0) cut = std::min(help.find(' '), help.size());
    text += help.substr(0, cut);
    help.remove_prefix(cut);
    if (!help.empty() && help.front() == ' ') help.remove_prefix(1);
    if (!help.empty()) {
      text += "\n";
      lineStart = text.size();
      text += std::string(kHelpColumn, ' ');
    }
  }
  return text + "\n";
}

}  // namespace

std::string CliUsage() {
  std::string text =
      "Usage: tirasel-cli [OPTION]... URL\n"
      "       tirasel-cli [OPTION]... --from-warc FILE [--from-warc FILE]... [URL]\n"
      "       tirasel-cli [OPTION]... --merge FILE [--merge FILE]...\n"
      "\n"
      "Harvests the vocabulary of the web site at URL: fetches the page, follows its\n"
      "links to further pages of the same site, and collects every new word.\n"
      "Options with a value also take it as --option=VALUE.\n"
      "\n";
  for (const TOptionSpec& spec : OptionSpecs()) text += OptionLine(spec);
  text +=
      "\n"
      "REGEX is an ECMAScript regular expression without backreferences (\\1) and\n"
      "lookaround ((?=, (?!, (?<=, (?<!), as RE2 reads it; it is searched for\n"
      "anywhere in the full address (anchor it with ^ and $ to match the whole\n"
      "address). Lengths count characters: a reference such as &#8364; is one\n"
      "character.\n"
      "\n"
      "Progress and the status log go to standard error. The word list is written\n"
      "one word per line: in UTF-8 each ended by LF; in Windows-1252 each ended by\n"
      "CR LF, as Tirasel's window saves it. A list FILE may be in either encoding.\n"
      "Ctrl+C ends the run like \"Abbrechen\" (after the page in work); a\n"
      "second Ctrl+C ends it at once. Either way the words (and --save-cookies\n"
      "cookies) found so far are written.\n"
      "\n"
      "Each output FILE is tried before the first request; one that cannot be\n"
      "written (a missing directory, a pipe nobody reads) is a usage error, and so\n"
      "is a CR, LF or NUL in a value that goes into a request (--proxy, --auth,\n"
      "--proxy-auth, --user-agent).\n"
      "\n"
      "Exit status: 0 after a run that fetched at least one page, 3 after a run that\n"
      "fetched none, 1 when an output file cannot be written at the end, 2 for a\n"
      "usage error.\n";
  return text;
}

std::string CliVersion() { return "tirasel-cli 1.0\n"; }

std::optional<TCliOptions> ParseCliArguments(int argc, const char* const* argv,
                                             std::string& error) {
  TCliOptions options;
  bool haveUrl = false;
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (!arg.starts_with("-") || arg.size() == 1) {
      if (haveUrl) {
        error = "only one URL can be given";
        return std::nullopt;
      }
      options.Url = arg;
      haveUrl = true;
      continue;
    }
    size_t equals = arg.find('=');
    std::string name = arg.substr(0, equals);
    const TOptionSpec* spec = FindOption(name);
    if (!spec) {
      error = "unknown option " + name;
      return std::nullopt;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!spec->Value) {
        error = name + " takes no value";
        return std::nullopt;
      }
      value = arg.substr(equals + 1);
    } else if (spec->Value) {
      if (i + 1 >= argc) {
        error = name + " needs a value";
        return std::nullopt;
      }
      value = argv[++i];
    }
    std::string problem;
    if (!spec->Set(options, value, problem)) {
      error = name + ": " + problem;
      return std::nullopt;
    }
    if (options.Help || options.Version) return options;
  }
  if (!options.MergeFiles.empty()) {
    if (!options.Url.empty() || !options.FromWarc.empty()) {
      error = "--merge takes no URL and no --from-warc";
      return std::nullopt;
    }
  } else if (options.Url.empty() && options.FromWarc.empty()) {
    error = "no URL given";
    return std::nullopt;
  }
  const bool table = options.Format != TVocabularyFormat::List &&
                     options.Format != TVocabularyFormat::Count;
  if (options.Context > 0 && !table) {
    error = "--context needs --format tsv, csv or jsonl";
    return std::nullopt;
  }
  if (!options.NamesFile.empty() && !options.Documents) {
    error = "--names needs --documents";
    return std::nullopt;
  }
  if (options.Sort == TVocabularySort::Key && options.ReferenceFile.empty()) {
    error = "--sort key needs --reference";
    return std::nullopt;
  }
  return options;
}
