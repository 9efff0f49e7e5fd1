// The vocabulary as the word harvest feeds it: counts and pages of words
// and word groups, groups that never reach across text nodes or past a
// word the output leaves out, keys that merge spellings, and the text kept
// around a first occurrence.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Vocabulary.h"
#include "WordHarvest.h"
#include "WordList.h"

namespace {

struct Figures {
  std::uint64_t count;
  std::uint32_t pages;
  std::string first;
  bool operator==(const Figures&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Figures& f) {
  return out << "{" << f.count << ", " << f.pages << ", " << f.first << "}";
}

struct Harvest {
  explicit Harvest(TVocabularyOptions options) : vocabulary(std::move(options)) {
    harvest.FeedVocabulary(&vocabulary);
  }
  // Each page: its text nodes.
  void Pages(const std::vector<std::pair<std::string, std::vector<std::string>>>& pages) {
    for (const auto& [address, texts] : pages) {
      vocabulary.StartPage(address);
      for (const std::string& text : texts) harvest.HarvestText(text);
    }
  }
  std::map<std::string, Figures> Entries() const {
    std::map<std::string, Figures> figures;
    for (const TVocabularyEntry& e : vocabulary.Entries()) {
      figures[std::string(e.Text)] = {e.Count, e.Pages,
                                      std::string(vocabulary.PageAddress(e.FirstPage))};
    }
    return figures;
  }
  std::vector<std::string> Order() const {
    std::vector<std::string> order;
    for (const TVocabularyEntry& e : vocabulary.Entries()) order.emplace_back(e.Text);
    return order;
  }
  std::string ContextOf(const std::string& text) const {
    for (const TVocabularyEntry& e : vocabulary.Entries()) {
      std::string line;
      if (e.Text == text) return std::string(ContextLine(e.Context, line));
    }
    return "(none)";
  }

  WordList words;
  TVocabulary vocabulary;
  TWordHarvest harvest{words, nullptr};
};

TEST(Vocabulary, WordsAndGroupsCountOccurrencesAndPages) {
  TVocabularyOptions options;
  options.Groups = 3;
  Harvest h(options);
  h.Pages({{"http://x/1", {"Das Haus, das Haus.", "Haus am See"}},
           {"http://x/2", {"am See das"}}});
  const std::map<std::string, Figures> entries = h.Entries();
  // The list compares without regard to case: "das" is "Das".
  EXPECT_EQ(entries.at("Das"), (Figures{3, 2, "http://x/1"}));
  EXPECT_EQ(entries.at("Haus"), (Figures{3, 1, "http://x/1"}));
  EXPECT_EQ(entries.at("See"), (Figures{2, 2, "http://x/1"}));
  EXPECT_EQ(entries.at("Das Haus"), (Figures{2, 1, "http://x/1"}));
  EXPECT_EQ(entries.at("Haus Das"), (Figures{1, 1, "http://x/1"}));
  EXPECT_EQ(entries.at("Das Haus Das"), (Figures{1, 1, "http://x/1"}));
  EXPECT_EQ(entries.at("am See"), (Figures{2, 2, "http://x/1"}));
  EXPECT_EQ(entries.at("See Das"), (Figures{1, 1, "http://x/2"}));
  // No group reaches from one text node into the next.
  EXPECT_EQ(entries.count("Haus Haus"), 0u);
  EXPECT_EQ(entries.count("See am"), 0u);
  // First occurrence: a group comes with its last word.
  // Each group was first seen with its last word; no group is longer than 3.
  EXPECT_EQ(h.Order(), (std::vector<std::string>{"Das", "Haus", "Das Haus", "Haus Das",
                                                 "Das Haus Das", "Haus Das Haus", "am", "Haus am",
                                                 "See", "am See", "Haus am See", "See Das",
                                                 "am See Das"}));
  EXPECT_EQ(h.vocabulary.Occurrences(1), 10u);
  EXPECT_EQ(h.vocabulary.Occurrences(3), 4u);
}

TEST(Vocabulary, KeysMergeSpellingsAndLeftOutWordsBreakGroups) {
  TVocabularyOptions options;
  options.Groups = 2;
  // As --strip-punctuation --min-length 3 would have it.
  options.KeyOf = [](std::string_view caption) -> std::optional<std::string> {
    while (!caption.empty() && (caption.front() == '(' || caption.back() == ')')) {
      caption = caption.front() == '(' ? caption.substr(1) : caption.substr(0, caption.size() - 1);
    }
    if (caption.size() < 3) return std::nullopt;
    return std::string(caption);
  };
  Harvest h(options);
  h.Pages({{"p1", {"(Zug) f\xe4hrt ab", "zug zug"}}, {"p2", {"der Zug ist da"}}});
  const std::map<std::string, Figures> entries = h.Entries();
  // "(Zug)", "zug" and "Zug" are one entry, counted once per page.
  EXPECT_EQ(entries.at("Zug"), (Figures{4, 2, "p1"}));
  EXPECT_EQ(entries.at("Zug f\xe4hrt"), (Figures{1, 1, "p1"}));
  EXPECT_EQ(entries.at("Zug Zug"), (Figures{1, 1, "p1"}));
  EXPECT_EQ(entries.at("der Zug"), (Figures{1, 1, "p2"}));
  // "ab", "ist" and "da" are left out: no group spans them.
  EXPECT_EQ(entries.count("ab"), 0u);
  EXPECT_EQ(entries.count("f\xe4hrt ab"), 0u);
  EXPECT_EQ(entries.count("Zug ist"), 1u);
  EXPECT_EQ(entries.count("ist da"), 0u);
  EXPECT_EQ(h.vocabulary.Occurrences(2), 4u);
}

TEST(Vocabulary, ContextsAreWholeWordsOnOneLineAroundTheFirstOccurrence) {
  TVocabularyOptions options;
  options.Context = 20;
  Harvest h(options);
  h.Pages({{"p", {"Ein sehr langer Satz\tmit dem Wort Mitte darin und noch mehr Text",
                  "kurz", "Stra&szlig;e &#8364;&#8364;&#8364;&#8364;&#8364;&#8364; Ende",
                  "Donaudampfschifffahrtsgesellschaftskapit\xe4n"}}});
  // At most 20 characters, about as many on either side, no word cut.
  EXPECT_EQ(h.ContextOf("Mitte"), "Wort Mitte darin");
  EXPECT_EQ(h.ContextOf("Ein"), "Ein sehr langer Satz");
  // A tab is a blank of the line.
  EXPECT_EQ(h.ContextOf("Satz\tmit"), "Satz mit dem");
  EXPECT_EQ(h.ContextOf("Text"), "und noch mehr Text");
  EXPECT_EQ(h.ContextOf("kurz"), "kurz");
  // A reference is one character and never cut.
  EXPECT_EQ(h.ContextOf("Ende"),
            "Stra\xdf" "e &#8364;&#8364;&#8364;&#8364;&#8364;&#8364; Ende");
  // A word longer than the context is its own context.
  EXPECT_EQ(h.ContextOf("Donaudampfschifffahrtsgesellschaftskapit\xe4n"),
            "Donaudampfschifffahrtsgesellschaftskapit\xe4n");
}

TEST(Vocabulary, ListEntriesFromBeforeTheRunComeFirstWithoutOccurrences) {
  Harvest h(TVocabularyOptions{});
  h.words.AddWord("Alt");
  h.words.AddWord("Haus");
  h.vocabulary.AddListEntries(h.words);
  h.Pages({{"p", {"Neu Haus"}}});
  EXPECT_EQ(h.Order(), (std::vector<std::string>{"Alt", "Haus", "Neu"}));
  EXPECT_EQ(h.Entries().at("Alt"), (Figures{0, 0, ""}));
  EXPECT_EQ(h.Entries().at("Haus"), (Figures{1, 1, "p"}));
}

}  // namespace
