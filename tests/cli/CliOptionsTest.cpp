#include "CliOptions.h"

#include "CliObserver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

namespace {

std::optional<TCliOptions> Parse(std::vector<const char*> args, std::string* error = nullptr) {
  std::string ignored;
  return ParseCliArguments(static_cast<int>(args.size()), args.data(), error ? *error : ignored);
}

// The usage error for the arguments ("" when they parse).
std::string ErrorOf(std::vector<const char*> args) {
  std::string error;
  return Parse(std::move(args), &error) ? "" : error;
}

TEST(CliOptions, DefaultsKeepTheWindowsRun) {
  std::optional<TCliOptions> options = Parse({"http://x/"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->TimeoutSeconds, 30);
  EXPECT_EQ(options->DelayMs, 0);
  EXPECT_EQ(options->Parallel, 4u);  // fetching ahead gives the same results
  EXPECT_EQ(options->MaxPages, 0u);
  EXPECT_FALSE(options->MaxDepth);
  EXPECT_EQ(options->UserAgent, "Mozilla/3.0 (compatible)");
  EXPECT_EQ(options->AuthUser, "");
  EXPECT_FALSE(options->Lowercase || options->Count || options->SkipCode || options->Stats);
}

TEST(CliOptions, ValuesFollowOrComeAfterAnEqualsSign) {
  std::optional<TCliOptions> options = Parse({"--timeout=5",
                                              "--delay",
                                              "250",
                                              "--parallel=8",
                                              "--max-pages=3",
                                              "--depth",
                                              "0",
                                              "--include",
                                              "a",
                                              "--include=b=c",
                                              "--exclude",
                                              "x",
                                              "--auth",
                                              "anna:ge:heim",
                                              "--proxy-auth=p:",
                                              "--user-agent=Bot 1.0",
                                              "--min-length",
                                              "5",
                                              "--max-length=9",
                                              "--lowercase",
                                              "--no-numbers",
                                              "--strip-punctuation",
                                              "--skip-code",
                                              "--count",
                                              "--emails",
                                              "m.txt",
                                              "--stats",
                                              "http://x/"});
  ASSERT_TRUE(options);
  EXPECT_EQ(options->TimeoutSeconds, 5);
  EXPECT_EQ(options->DelayMs, 250);
  EXPECT_EQ(options->Parallel, 8u);
  EXPECT_EQ(options->MaxPages, 3u);
  EXPECT_EQ(options->MaxDepth, 0u);
  ASSERT_EQ(options->Include.size(), 2u);
  EXPECT_EQ(options->Include[1].Text, "b=c");
  EXPECT_EQ(options->Exclude.size(), 1u);
  EXPECT_EQ(options->AuthUser, "anna");
  EXPECT_EQ(options->AuthPassword, "ge:heim");  // split at the first colon
  EXPECT_EQ(options->ProxyUser, "p");
  EXPECT_EQ(options->ProxyPassword, "");
  EXPECT_EQ(options->UserAgent, "Bot 1.0");
  EXPECT_EQ(options->MinLength, 5u);
  EXPECT_EQ(options->MaxLength, 9u);
  EXPECT_TRUE(options->Lowercase && options->NoNumbers && options->StripPunctuation &&
              options->SkipCode && options->Count && options->Stats);
  EXPECT_EQ(options->EmailsFile, "m.txt");
  EXPECT_EQ(options->Url, "http://x/");
}

TEST(CliOptions, UsageErrorsNameTheOption) {
  EXPECT_EQ(
      ErrorOf({"--include", "(", "http://x/"}).rfind("--include: bad regular expression \"(\"", 0),
      0u);
  EXPECT_EQ(ErrorOf({"--exclude=[a", "http://x/"}).rfind("--exclude: bad regular expression", 0),
            0u);
  // Backreferences and lookaround are beyond linear-time matching.
  EXPECT_EQ(ErrorOf({"--include=(a)\\1", "http://x/"}).rfind("--include: bad regular", 0), 0u);
  EXPECT_EQ(ErrorOf({"--include=a(?=b)", "http://x/"}).rfind("--include: bad regular", 0), 0u);
  EXPECT_EQ(ErrorOf({"--timeout", "x", "http://x/"}),
            "--timeout: not a number from 0 to 86400: \"x\"");
  EXPECT_EQ(ErrorOf({"--depth", "-1", "http://x/"}).rfind("--depth: not a number", 0), 0u);
  EXPECT_EQ(ErrorOf({"--max-pages", "3x", "http://x/"}).rfind("--max-pages: not a number", 0), 0u);
  EXPECT_EQ(ErrorOf({"--delay=", "http://x/"}).rfind("--delay: not a number", 0), 0u);
  EXPECT_EQ(
      ErrorOf({"--min-length", "99999999999", "http://x/"}).rfind("--min-length: not a number", 0),
      0u);
  EXPECT_EQ(ErrorOf({"--auth", "nocolon", "http://x/"}), "--auth: expected USER:PASSWORD");
  EXPECT_EQ(ErrorOf({"--auth", ":pw", "http://x/"}), "--auth: expected USER:PASSWORD");
  EXPECT_EQ(ErrorOf({"--count=yes", "http://x/"}), "--count takes no value");
  EXPECT_EQ(ErrorOf({"--bogus=1", "http://x/"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"http://x/", "--emails"}), "--emails needs a value");
  EXPECT_EQ(ErrorOf({"--stats"}), "no URL given");
  EXPECT_EQ(ErrorOf({"--version"}), "");
}

// A line break would end the header line the value goes into and start one
// of the caller's making.
TEST(CliOptions, ValuesThatGoIntoARequestHoldNoLineBreak) {
  for (const char* option : {"--user-agent", "--proxy", "--auth", "--proxy-auth"}) {
    for (const char* value : {"a:b\r\nX-Injected: 1", "a:b\nX: 1", "a:b\r"}) {
      EXPECT_EQ(ErrorOf({option, value, "http://x/"}),
                std::string(option) + ": CR, LF and NUL cannot go into a request")
          << value;
    }
  }
  EXPECT_EQ(ErrorOf({"--user-agent=Bot/1.0 (a:b)", "--proxy=p:81", "http://x/"}), "");
}

// Searched anywhere in the address; each byte (Windows-1252) is one character.
TEST(CliOptions, IncludePatternsAreSearchedInTheAddressBytes) {
  auto accepts = [](const char* pattern, std::string_view address) {
    std::optional<TCliOptions> options = Parse({"--include", pattern, "http://x/"});
    EXPECT_TRUE(options) << pattern;
    return options &&
           TCliObserver(options->Include, options->Exclude, false).AcceptAddress(address);
  };
  EXPECT_TRUE(accepts("docs", "http://h/docs/a.html"));
  EXPECT_FALSE(accepts("^docs", "http://h/docs/a.html"));
  EXPECT_TRUE(accepts("\\/\\d{4}\\/(?:a|b)\\.html$", "http://h/2024/a.html"));
  EXPECT_FALSE(accepts("\\/\\d{4}\\/(?:a|b)\\.html$", "http://h/2024/a.html?x"));
  EXPECT_TRUE(accepts("/m.ll\\.", "http://h/m\xFCll.html"));
  EXPECT_FALSE(accepts("/m..ll\\.", "http://h/m\xFCll.html"));
  EXPECT_TRUE(accepts("[\xE0-\xFF]", "http://h/m\xFCll.html"));
}

TEST(CliOptions, HelpListsEveryOptionWithItsDefault) {
  std::string help = CliUsage();
  for (const char* name : {"--proxy HOST[:PORT]",
                           "--proxy-auth USER:PASSWORD",
                           "--auth USER:PASSWORD",
                           "--user-agent TEXT",
                           "--list FILE",
                           "--output FILE",
                           "--ask",
                           "--timeout SECONDS",
                           "--delay MS",
                           "--max-pages N",
                           "--depth N",
                           "--include REGEX",
                           "--exclude REGEX",
                           "--min-length N",
                           "--max-length N",
                           "--lowercase",
                           "--no-numbers",
                           "--strip-punctuation",
                           "--skip-code",
                           "--count",
                           "--emails FILE",
                           "--stats",
                           "--version",
                           "--help"}) {
    EXPECT_NE(help.find(std::string("  ") + name), std::string::npos) << name;
  }
  for (const char* fact :
       {"(default: 30; 0: never)", "\"Mozilla/3.0", "0, no", "ECMAScript", "Exit status: 0"}) {
    EXPECT_NE(help.find(fact), std::string::npos) << fact;
  }
  size_t defaults = 0, options = 0;
  for (size_t at = help.find("default:"); at != std::string::npos;
       at = help.find("default:", at + 1))
    ++defaults;
  for (size_t at = help.find("\n  --"); at != std::string::npos; at = help.find("\n  --", at + 1))
    ++options;
  EXPECT_GE(options, 24u);
  EXPECT_EQ(defaults, options - 2);  // every option but --version and --help
}

TEST(CliOptions, ManPageDescribesEveryOptionOfTheHelp) {
  std::ifstream file(TIRASEL_MAN_PAGE);
  std::stringstream page;
  page << file.rdbuf();
  ASSERT_FALSE(page.str().empty());
  std::istringstream help(CliUsage());
  size_t options = 0;
  for (std::string line; std::getline(help, line);) {
    if (!line.starts_with("  --")) continue;
    std::string name = line.substr(4, line.find(' ', 2) - 4);
    std::string escaped;
    for (char c : name) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
    // ".B \-\-name" for a flag, ".BI \-\-name " for an option with a value.
    bool described = page.str().find("\n.B \\-\\-" + escaped + "\n") != std::string::npos ||
                     page.str().find("\n.BI \\-\\-" + escaped + " ") != std::string::npos;
    EXPECT_TRUE(described) << name;
    ++options;
  }
  EXPECT_GE(options, 24u);  // the help was read
}

}  // namespace
