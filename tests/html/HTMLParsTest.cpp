#include "HTMLPars.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "CharacterReferences.h"

namespace {

// The nodes of a fresh parser that tokenized the given lines.
struct Parsed {
  std::shared_ptr<THTMLParser> parser;
  size_t size() const { return parser->Nodes.size(); }
  bool empty() const { return parser->Nodes.empty(); }
  const THTMLNode& operator[](size_t index) const { return parser->Nodes.at(index); }
};

Parsed Tokenize(std::initializer_list<std::string_view> lines) {
  auto parser = std::make_shared<THTMLParser>();
  parser->Lines = lines;
  parser->Parse();
  return {parser};
}

std::string TextOf(std::string_view raw) {
  THTMLText text;
  text.Parse(raw);
  return std::string(text.Text);
}

THTMLTag TagOf(std::string_view raw) {
  THTMLTag tag;
  tag.Parse(raw);
  return tag;
}

TEST(Tables, CodeToCharMapsControlsAndNoBreakToSpace) {
  for (int code = 0; code < 256; ++code) {
    unsigned char expected = (code < 32 || code == 160) ? 32 : code;
    EXPECT_EQ(CodeToChar[code], expected) << code;
  }
}

TEST(Tables, NamedEntitiesAreTheLatin1ReferencesInCodeOrder) {
  EXPECT_EQ(NamedEntities[0].Name, "&quot;");
  EXPECT_EQ(NamedEntities[0].Numeric, "&#34;");
  EXPECT_EQ(NamedEntities[3].Name, "&gt;");
  EXPECT_EQ(NamedEntities[4].Name, "&nbsp;");
  EXPECT_EQ(NamedEntities[4].Numeric, "&#160;");
  EXPECT_EQ(NamedEntities[4 + 228 - 160].Name, "&auml;");
  EXPECT_EQ(NamedEntities[99].Name, "&yuml;");
  for (size_t i = 4; i < NamedEntities.size(); ++i) {
    EXPECT_EQ(NamedEntities[i].Numeric, "&#" + std::to_string(156 + i) + ";");
    EXPECT_EQ(NamedEntities[i].Name.front(), '&');
    EXPECT_EQ(NamedEntities[i].Name.back(), ';');
  }
}

TEST(Tokenizer, EmptyInputGivesNoNodes) {
  EXPECT_TRUE(Tokenize({}).empty());
  EXPECT_TRUE(Tokenize({"", "", ""}).empty());
}

TEST(Tokenizer, AdjacentTagsMakeNoTextNodeButASpaceDoes) {
  auto nodes = Tokenize({"<b><i>"});
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_TRUE(nodes[0].IsTag());
  EXPECT_TRUE(nodes[1].IsTag());

  nodes = Tokenize({"<b> <i>"});
  ASSERT_EQ(nodes.size(), 3u);
  ASSERT_FALSE(nodes[1].IsTag());
  EXPECT_EQ(nodes[1].Text().Text, " ");
}

TEST(Tokenizer, EmptyTagAndStrayGreaterThan) {
  auto nodes = Tokenize({"<>"});
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Tag().Name, "");
  EXPECT_EQ(nodes[0].Tag().Raw, "");
  EXPECT_TRUE(nodes[0].Tag().Params.empty());

  // A '>' in running text emits an empty tag before the pending text.
  nodes = Tokenize({"x > y"});
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_TRUE(nodes[0].IsTag());
  EXPECT_EQ(nodes[0].Tag().Name, "");
  EXPECT_EQ(nodes[1].Text().Text, "x y ");
  EXPECT_EQ(nodes[1].Text().Raw, "x  y\n");
}

TEST(Tokenizer, LessThanInsideTagVanishes) {
  auto nodes = Tokenize({"<a <b>"});
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Tag().Raw, "a b");
  EXPECT_EQ(nodes[0].Tag().Name, "A");
  ASSERT_EQ(nodes[0].Tag().Params.size(), 1u);
  EXPECT_EQ(nodes[0].Tag().Params[0].Key, "B");
}

TEST(Tokenizer, TagOverTwoLinesIsJoinedWithoutSpace) {
  auto nodes = Tokenize({"<a", "href=x>"});
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Tag().Raw, "ahref=x");
  EXPECT_EQ(nodes[0].Tag().Name, "AHREF=X");
  EXPECT_TRUE(nodes[0].Tag().Params.empty());
}

TEST(Tokenizer, UnterminatedTagAtEnd) {
  auto nodes = Tokenize({"text <a href=x"});
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[0].Text().Text, "text ");
  EXPECT_EQ(nodes[1].Tag().Name, "A");

  nodes = Tokenize({"text <"});
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Text().Text, "text ");
}

TEST(Tokenizer, TextAcrossLinesAndEmptyLines) {
  auto nodes = Tokenize({"Hello", "World"});
  ASSERT_EQ(nodes.size(), 1u);
  EXPECT_EQ(nodes[0].Text().Text, "Hello World ");
  EXPECT_EQ(nodes[0].Text().Raw, "Hello\nWorld\n");

  // A line ending right after a tag adds no line feed.
  nodes = Tokenize({"<p>", "", "word"});
  ASSERT_EQ(nodes.size(), 2u);
  EXPECT_EQ(nodes[1].Text().Text, "word ");
}

TEST(Tokenizer, ParseKeepsEarlierNodes) {
  THTMLParser parser;
  parser.Lines = {"<a>"};
  parser.Parse();
  parser.Parse();
  EXPECT_EQ(parser.Nodes.size(), 2u);
}

TEST(Tags, NamesParamsAndComments) {
  EXPECT_EQ(TagOf("/p").Name, "/P");
  EXPECT_EQ(TagOf(" x").Name, "");

  auto comment = TagOf("!-- note --");
  EXPECT_EQ(comment.Name, "!--");
  ASSERT_EQ(comment.Params.size(), 2u);
  EXPECT_EQ(comment.Params[0].Key, "NOTE");
  EXPECT_EQ(comment.Params[1].Key, "--");

  auto spaced = TagOf("a   href=x    title=y  ");
  ASSERT_EQ(spaced.Params.size(), 2u);
  EXPECT_EQ(spaced.Params[1].Raw, "title=y");

  // Tabs do not separate.
  EXPECT_EQ(TagOf("a\thref=x").Name, "A\tHREF=X");
}

TEST(Tags, QuotingOfValues) {
  auto quoted = TagOf("a href=\"a b.html\"");
  ASSERT_EQ(quoted.Params.size(), 1u);
  EXPECT_EQ(quoted.Params[0].Key, "HREF");
  EXPECT_EQ(quoted.Params[0].Value, "a b.html");
  EXPECT_EQ(quoted.Params[0].Raw, "href=\"a b.html\"");

  auto single = TagOf("a href='a b.html'");
  ASSERT_EQ(single.Params.size(), 2u);
  EXPECT_EQ(single.Params[0].Value, "'a");
  EXPECT_EQ(single.Params[1].Key, "B.HTML'");
  EXPECT_EQ(single.Params[1].Value, "");

  EXPECT_EQ(TagOf("a href=\"\"").Params[0].Value, "");
  EXPECT_EQ(TagOf("a href=\"").Params[0].Value, "\"");

  auto meta = TagOf("meta Content=\"0; URL=x.html\"");
  ASSERT_EQ(meta.Params.size(), 1u);
  EXPECT_EQ(meta.Params[0].Key, "CONTENT");
  EXPECT_EQ(meta.Params[0].Value, "0; URL=x.html");

  // An unbalanced quote swallows the rest of the tag.
  auto open = TagOf("a title=\"x y z");
  ASSERT_EQ(open.Params.size(), 1u);
  EXPECT_EQ(open.Params[0].Value, "\"x y z");
}

TEST(Tags, SpacesAroundEqualsSplitTheParameter) {
  auto tag = TagOf("a href = x");
  ASSERT_EQ(tag.Params.size(), 3u);
  EXPECT_EQ(tag.Params[0].Key, "HREF");
  EXPECT_EQ(tag.Params[1].Key, "");
  EXPECT_EQ(tag.Params[1].Value, "");
  EXPECT_EQ(tag.Params[2].Key, "X");
}

TEST(Tags, UpperCasingLeavesUmlautsAndValues) {
  auto tag = TagOf("\xe4x hRef=MiXed");
  EXPECT_EQ(tag.Name, "\xe4X");
  EXPECT_EQ(tag.Params[0].Key, "HREF");
  EXPECT_EQ(tag.Params[0].Value, "MiXed");
}

TEST(Text, SpaceCollapseAndLineFeeds) {
  EXPECT_EQ(TextOf("a   b\n\nc"), "a b c");
  EXPECT_EQ(TextOf("  a\t\tb  "), " a\t\tb ");
}

TEST(Text, NamedReferences) {
  EXPECT_EQ(TextOf("&auml;"), "\xe4");
  EXPECT_EQ(TextOf("&AUML;"), "&AUML;");
  EXPECT_EQ(TextOf("&auml x"), "&auml x");
  EXPECT_EQ(TextOf("&nbsp;"), " ");
  EXPECT_EQ(TextOf("&amp;amp;"), "&amp;");
  EXPECT_EQ(TextOf("&amp;lt;"), "&lt;");
  EXPECT_EQ(TextOf("a &nbsp; b"), "a   b");
  EXPECT_EQ(TextOf("&yuml;&quot;&gt;"), "\xff\">");
  EXPECT_EQ(TextOf("&unknown;"), "&unknown;");
  // A later ampersand restarts the reference.
  EXPECT_EQ(TextOf("&x&auml;"), "&x\xe4");
  EXPECT_EQ(TextOf("&&&&"), "&&&&");
}

TEST(Text, NumericReferences) {
  EXPECT_EQ(TextOf("&#65 x"), "Ax");
  EXPECT_EQ(TextOf("&#65;"), "A");
  EXPECT_EQ(TextOf("&#x41;"), "A");
  EXPECT_EQ(TextOf("&#X41;"), "A");
  EXPECT_EQ(TextOf("&#$41;"), "A");
  EXPECT_EQ(TextOf("&#0x4;"), std::string(" "));  // code 4 maps to a space
  EXPECT_EQ(TextOf("&#0X4;"), "&#0X4;");
  EXPECT_EQ(TextOf("&#+65;"), "A");
  EXPECT_EQ(TextOf("&#-65;"), "&#-65;");
  EXPECT_EQ(TextOf("&#x-4;"), "&#x-4;");
  EXPECT_EQ(TextOf("&#8364;"), "&#8364;");
  EXPECT_EQ(TextOf("&#300;"), "&#300;");
  EXPECT_EQ(TextOf("&#255;"), "\xff");
  EXPECT_EQ(TextOf("&#9;"), " ");
  EXPECT_EQ(TextOf("&#160;"), " ");
  EXPECT_EQ(TextOf("&#;"), "&#;");
  EXPECT_EQ(TextOf("&#x;"), "&#x;");
  EXPECT_EQ(TextOf("&#6a;"), "&#6a;");
  EXPECT_EQ(TextOf("&#0065;"), "&#0065;");
  // The decoded byte is not scanned again: "&#38;" yields a plain ampersand.
  EXPECT_EQ(TextOf("&#38;auml;"), "&auml;");
  EXPECT_EQ(TextOf("&#38;#65;"), "&#65;");
}

TEST(Text, DecodedSpacesAreNotCollapsed) {
  EXPECT_EQ(TextOf("a &#32; b"), "a   b");
  EXPECT_EQ(TextOf("a&#10;&#10;b"), "a  b");
}

}  // namespace

// ---------------------------------------------------------------------------
// The text node's steps written the slow, literal way: collapse by deleting
// the first of two spaces until none are left, and decode with a scan that
// edits the text in place and rewinds as the rules say. The fast version
// must agree on every input.

namespace literal {

bool ReadsAsNumber(const std::string& number, long& value) {
  static const std::regex decimal("[+-]?[0-9]+");
  static const std::regex hex("(x|X|\\$|0x)([0-9a-fA-F]+)");
  std::smatch match;
  if (std::regex_match(number, decimal)) {
    value = std::stol(number);
    return true;
  }
  if (std::regex_match(number, match, hex)) {
    value = std::stol(match[2].str(), nullptr, 16);
    return true;
  }
  return false;
}

std::string TextNode(std::string text) {
  for (char& c : text) {
    if (c == '\n') c = ' ';
  }
  for (size_t at; (at = text.find("  ")) != std::string::npos;) text.erase(at, 1);

  size_t pos = 0;
  bool inReference = false;
  size_t start = 0;
  std::string reference;
  while (pos < text.size()) {
    char c = text[pos];
    if (c == '&') {
      start = pos;
      reference.clear();
      inReference = true;
    }
    if (inReference) reference += c;
    if (inReference && (c == ';' || c == ' ')) {
      size_t n = reference.size();
      inReference = false;
      if (n > 2 && reference[1] == '#') {
        std::string number = reference.substr(2, n - 3);
        long value = 0;
        if (number.size() <= 3 && ReadsAsNumber(number, value) && value >= 0 && value <= 255) {
          text.replace(start, n, 1, static_cast<char>(CodeToChar[value]));
          pos = start + 1;
          continue;
        }
        ++pos;
        continue;
      }
      bool found = false;
      for (const TNamedEntity& entity : NamedEntities) {
        if (entity.Name == reference) {
          text.replace(start, n, entity.Numeric);
          found = true;
          break;
        }
      }
      pos = found ? start : start + 1;
      continue;
    }
    ++pos;
  }
  return text;
}

}  // namespace literal

TEST(Text, AgreesWithTheLiteralRulesOnRandomText) {
  const std::string alphabet = "&&&#;; ;  \nxX$0123456789+-auml;ampnbsp;gtq";
  std::mt19937 random(11);
  for (int round = 0; round < 20000; ++round) {
    std::string raw;
    size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) raw += alphabet[random() % alphabet.size()];
    if (round % 5 == 0) raw = "&auml;&#65;&#x41;&#38;amp;&nbsp;" + raw + "&#160; &#0x4;";
    ASSERT_EQ(TextOf(raw), literal::TextNode(raw)) << "raw: " << raw;
  }
}

TEST(Text, CollapseAgreesOnLongRandomRuns) {
  // Long texts exercise the block-wise copy; spaces and line feeds land on
  // every position relative to the blocks.
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    std::string raw;
    size_t length = random() % 200;
    for (size_t i = 0; i < length; ++i) {
      unsigned pick = random() % 10;
      raw += pick < 2 ? ' ' : pick == 2 ? '\n' : static_cast<char>('a' + random() % 26);
    }
    std::string expected = raw;
    for (char& c : expected) {
      if (c == '\n') c = ' ';
    }
    for (size_t at; (at = expected.find("  ")) != std::string::npos;) expected.erase(at, 1);
    ASSERT_EQ(CollapseSpaces(raw), expected) << raw;
  }
}

// ---------------------------------------------------------------------------
// The tokenizer written the slow, literal way, one character at a time, with
// tags split by a plain scan. Both ways of parsing (keeping the nodes, and
// handing them to a visitor) must produce the same node sequence.

namespace literal {

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  }
  return text;
}

// One line of description per node: "T|raw|name|key=value|..." or "X|raw|text".
std::string DescribeTag(const std::string& raw) {
  std::string name = raw.substr(0, raw.find(' '));
  std::string out = "T|" + raw + "|" + Upper(name);
  if (raw.find(' ') == std::string::npos) return out;
  std::string param;
  bool inQuotes = false;
  auto flush = [&] {
    if (param.empty()) return;
    size_t equals = param.find('=');
    std::string key = Upper(param.substr(0, equals));
    std::string value = equals == std::string::npos ? "" : param.substr(equals + 1);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    out += "|" + param + "~" + key + "~" + value;
    param.clear();
  };
  for (char c : raw.substr(raw.find(' ') + 1)) {
    if (c == ' ' && !inQuotes) {
      flush();
      inQuotes = false;
      continue;
    }
    if (c == '"') inQuotes = !inQuotes;
    param += c;
  }
  flush();
  return out;
}

std::vector<std::string> Tokenize(const std::vector<std::string>& lines) {
  std::vector<std::string> nodes;
  std::string text;
  std::string tag;
  bool inTag = false;
  auto emitText = [&] {
    if (!inTag && !text.empty()) nodes.push_back("X|" + text + "|" + TextNode(text));
    if (!inTag) text.clear();
  };
  for (const std::string& line : lines) {
    for (char c : line) {
      if (c == '<') {
        emitText();
        inTag = true;
      } else if (c == '>') {
        nodes.push_back(DescribeTag(tag));
        tag.clear();
        inTag = false;
      } else {
        (inTag ? tag : text) += c;
      }
    }
    if (!inTag && !text.empty()) text += '\n';
  }
  if (inTag && !tag.empty()) {
    nodes.push_back(DescribeTag(tag));
    inTag = false;
  }
  emitText();
  return nodes;
}

}  // namespace literal

namespace {

std::string Describe(const THTMLNode& node) {
  if (!node.IsTag())
    return "X|" + std::string(node.Text().Raw) + "|" + std::string(node.Text().Text);
  const THTMLTag& tag = node.Tag();
  std::string out = "T|" + std::string(tag.Raw) + "|" + std::string(tag.Name);
  for (const THTMLParam& param : tag.Params) {
    out += "|" + std::string(param.Raw) + "~" + std::string(param.Key) + "~" +
           std::string(param.Value);
  }
  return out;
}

TEST(Tokenizer, KeptAndVisitedNodesAgreeWithTheLiteralRulesOnRandomPages) {
  const std::string alphabet = "<<>>  ==\"\"aAbBz&;#\xe4";
  std::mt19937 random(23);
  for (int round = 0; round < 5000; ++round) {
    std::vector<std::string> lines(random() % 5);
    for (std::string& line : lines) {
      size_t length = random() % 30;
      for (size_t i = 0; i < length; ++i) line += alphabet[random() % alphabet.size()];
    }
    const std::vector<std::string> expected = literal::Tokenize(lines);

    THTMLParser parser;
    for (const std::string& line : lines) parser.Lines.Add(line);
    std::vector<std::string> visited;
    parser.Parse([&](const THTMLNode& node) { visited.push_back(Describe(node)); });
    ASSERT_EQ(visited, expected) << "round " << round;
    EXPECT_TRUE(parser.Nodes.empty());

    parser.Parse();
    std::vector<std::string> kept;
    for (const THTMLNode& node : parser.Nodes) kept.push_back(Describe(node));
    ASSERT_EQ(kept, expected) << "round " << round;
  }
}

TEST(Tags, ACopyKeepsItsParametersWhenTheOriginalIsGone) {
  auto original = std::make_unique<THTMLTag>();
  original->Parse("a href=x title=\"y z\"");
  THTMLTag copy(*original);
  THTMLTag assigned;
  assigned = *original;
  original->Parse("b");
  original.reset();
  for (const THTMLTag* tag : {&copy, &assigned}) {
    EXPECT_EQ(tag->Name, "A");
    ASSERT_EQ(tag->Params.size(), 2u);
    EXPECT_EQ(tag->Params[0].Key, "HREF");
    EXPECT_EQ(tag->Params[0].Value, "x");
    EXPECT_EQ(tag->Params[1].Raw, "title=\"y z\"");
    EXPECT_EQ(tag->Params[1].Value, "y z");
  }
}

TEST(Tokenizer, AVisitorThatThrowsEndsTheParseAndTheNextParseStartsAfresh) {
  THTMLParser parser;
  parser.Lines = {"<a>text<b"};
  EXPECT_THROW(parser.Parse([](const THTMLNode&) { throw std::runtime_error("stop"); }),
               std::runtime_error);
  std::vector<std::string> visited;
  parser.Parse([&](const THTMLNode& node) { visited.push_back(Describe(node)); });
  EXPECT_EQ(visited, (std::vector<std::string>{"T|a|A", "X|text|text", "T|b|B"}));
  EXPECT_TRUE(parser.Nodes.empty());
}

}  // namespace
