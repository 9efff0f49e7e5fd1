#include <gtest/gtest.h>

#include <QStringDecoder>
#include <random>

#include "PageCharset.h"
#include "Utf8Text.h"
#include "Windows1252.h"

namespace {

const std::string kUtf8Words =
    "k\xC3\xB6nnen Stra\xC3\x9F"
    "e";  // können Straße
const std::string kCp1252Words =
    "k\xF6nnen Stra\xDF"
    "e";

std::string Decoded(const std::string& contentType, const std::string& document) {
  std::optional<std::string> text = DecodePage(contentType, document);
  return text ? *text : document;
}

}  // namespace

TEST(CharsetParameter, ReadsTheParameterOfAContentType) {
  EXPECT_EQ(CharsetParameter("text/html; charset=UTF-8"), "utf-8");
  EXPECT_EQ(CharsetParameter("text/html;charset=\"iso-8859-1\""), "iso-8859-1");
  EXPECT_EQ(CharsetParameter("text/html; Charset = koi8-r; q=1"), "koi8-r");
  EXPECT_EQ(CharsetParameter("text/html"), std::nullopt);
  EXPECT_EQ(CharsetParameter(""), std::nullopt);
  // A "charset" without "=" is skipped; a later one is found.
  EXPECT_EQ(CharsetParameter("text/html; charset; charset=utf-8"), "utf-8");
}

TEST(MetaCharset, BothFormsInTheFirst1024BytesOutsideComments) {
  EXPECT_EQ(MetaCharset("<html><head><meta charset=\"utf-8\">"), "utf-8");
  EXPECT_EQ(MetaCharset("<META CHARSET=Windows-1251>"), "windows-1251");
  EXPECT_EQ(MetaCharset("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"),
            "utf-8");
  EXPECT_EQ(MetaCharset("<meta content='text/html; charset=koi8-r' http-equiv='content-type'/>"),
            "koi8-r");
  // Without http-equiv content-type the content is not a content type.
  EXPECT_EQ(MetaCharset("<meta name=description content=\"charset=utf-8\">"), std::nullopt);
  EXPECT_EQ(MetaCharset("<!-- <meta charset=utf-8> --><meta charset=koi8-r>"), "koi8-r");
  EXPECT_EQ(MetaCharset("<metadata charset=utf-8>"), std::nullopt);
  EXPECT_EQ(MetaCharset(std::string(1024, ' ') + "<meta charset=utf-8>"), std::nullopt);
  // A tag that begins in the first 1,024 bytes is read to its end.
  EXPECT_EQ(MetaCharset(std::string(1010, ' ') + "<meta charset=utf-8>"), "utf-8");
  // Unfinished markup ends the scan without harm.
  EXPECT_EQ(MetaCharset("<meta charset=\"utf-8"), "utf-8");
  EXPECT_EQ(MetaCharset("<meta"), std::nullopt);
  EXPECT_EQ(MetaCharset("<!-- <meta charset=utf-8>"), std::nullopt);
}

TEST(PageCharset, HeaderThenBomThenMetaThenUtf8ThenWindows1252) {
  const std::string meta = "<meta charset=koi8-r>";
  EXPECT_EQ(PageCharset("text/html; charset=utf-8", meta), "utf-8");
  EXPECT_EQ(PageCharset("text/html", "\xEF\xBB\xBF" + meta), "utf-8");
  EXPECT_EQ(PageCharset("text/html", std::string("\xFF\xFE<\0", 4)), "utf-16le");
  EXPECT_EQ(PageCharset("text/html", std::string("\xFE\xFF\0<", 4)), "utf-16be");
  EXPECT_EQ(PageCharset("text/html", meta + kUtf8Words), "koi8-r");
  EXPECT_EQ(PageCharset("", kUtf8Words), "utf-8");
  EXPECT_EQ(PageCharset("", kCp1252Words), "");
  EXPECT_EQ(PageCharset("", "plain ascii"), "");
  // A meta tag read byte by byte cannot mean UTF-16.
  EXPECT_EQ(PageCharset("", "<meta charset=utf-16>"), "utf-8");
}

TEST(PageCharset, Windows1252NamesAndUnknownNamesTakeTheBytesAsTheyAre) {
  for (const char* name :
       {"windows-1252", "ISO-8859-1", "latin1", "us-ascii", "ascii", "cp1252", "x-no-such-set"}) {
    EXPECT_EQ(PageCharset(std::string("text/html; charset=") + name, kUtf8Words), "") << name;
    EXPECT_EQ(DecodePage(std::string("text/html; charset=") + name, kUtf8Words), std::nullopt)
        << name;
  }
  EXPECT_EQ(PageCharset("text/html; charset=UTF8", ""), "utf-8");
}

// "+ADw-" is "<" in UTF-7: decoded, the page would gain markup that no byte shows.
TEST(PageCharset, Utf7UnderAnyNameIsAnUnknownSet) {
  const std::string page = "+ADw-script+AD4-alert(1)+ADw-/script+AD4-";
  for (const char* name : {"utf-7", "UTF-7", "utf7", "unicode-1-1-utf-7", "unicode-2-0-utf-7",
                           "x-unicode20utf7", "csunicode11utf7", "imap-mailbox-name"}) {
    const std::string header = std::string("text/html; charset=") + name;
    const std::string meta = std::string("<meta charset=") + name + ">";
    EXPECT_EQ(PageCharset(header, page), "") << name;
    EXPECT_EQ(PageCharset("", meta + page), "") << name;
    EXPECT_EQ(DecodePage(header, page), std::nullopt) << name;
  }
}

TEST(DecodePage, GermanWordsComeOutAsTheirWindows1252Twins) {
  EXPECT_EQ(Decoded("text/html; charset=utf-8", kUtf8Words), kCp1252Words);
  EXPECT_EQ(Decoded("text/html", "<meta charset=utf-8>" + kUtf8Words),
            "<meta charset=utf-8>" + kCp1252Words);
  EXPECT_EQ(Decoded("text/html", "\xEF\xBB\xBF" + kUtf8Words),
            kCp1252Words);  // the mark is dropped
  EXPECT_EQ(Decoded("text/html", kUtf8Words), kCp1252Words);
  EXPECT_EQ(Decoded("text/html", kCp1252Words), kCp1252Words);
  EXPECT_EQ(Decoded("text/html; charset=iso-8859-1", kCp1252Words), kCp1252Words);
  // Windows-1252 characters outside Latin-1 get their bytes: euro, quotes, dash.
  EXPECT_EQ(Decoded("text/html; charset=utf-8",
                    "\xE2\x82\xAC \xE2\x80\x9EZitat\xE2\x80\x9C \xE2\x80\x93"),
            "\x80 \x84Zitat\x93 \x96");
}

TEST(DecodePage, CharactersWithoutAByteBecomeDecimalReferences) {
  // Cyrillic (two bytes), CJK (three) and an emoji (four bytes, a surrogate pair).
  EXPECT_EQ(
      Decoded("text/html; charset=utf-8", "\xD0\xBC\xD0\xB8\xD1\x80 \xE6\x97\xA5 \xF0\x9F\x98\x80"),
      "&#1084;&#1080;&#1088; &#26085; &#128512;");
  EXPECT_EQ(Decoded("text/html; charset=koi8-r", "\xCD\xC9\xD2"), "&#1084;&#1080;&#1088;");
  EXPECT_EQ(Decoded("text/html; charset=windows-1251", "\xEC\xE8\xF0"), "&#1084;&#1080;&#1088;");
  EXPECT_EQ(Decoded("text/html; charset=shift_jis", "\x93\xFA"), "&#26085;");
  // Controls without a byte: a reference the tokenizer decodes like any other.
  EXPECT_EQ(Decoded("text/html; charset=utf-8", "a\xC2\x80z"), "a&#128;z");
  // The five unassigned bytes keep their number both ways.
  EXPECT_EQ(Decoded("text/html; charset=utf-8", "\xC2\x81\xC2\x9D"), "\x81\x9D");
}

TEST(DecodePage, MalformedBytesOfADeclaredSetBecomeTheReplacementCharacter) {
  EXPECT_EQ(Decoded("text/html; charset=utf-8", "k\xF6nnen"), "k&#65533;nnen");
  EXPECT_EQ(Decoded("text/html; charset=utf-8", "ab\xC3"), "ab&#65533;");  // cut inside a sequence
  // Undeclared: one malformed sequence makes the page Windows-1252.
  EXPECT_EQ(Decoded("", kUtf8Words + "\xF6"), kUtf8Words + "\xF6");
}

TEST(Utf8Text, Windows1252AndReferencesRoundTrip) {
  EXPECT_EQ(Cp1252ToUtf8(kCp1252Words), kUtf8Words);
  EXPECT_EQ(Cp1252ToUtf8("&#1084;&#1080;&#1088; &#128512; \x80"),
            "\xD0\xBC\xD0\xB8\xD1\x80 \xF0\x9F\x98\x80 \xE2\x82\xAC");
  // References of characters that have a byte, and malformed ones, stay text.
  EXPECT_EQ(Cp1252ToUtf8("&#228; &#1084 &#; &#x43C; &#55296; &#99999999;"),
            "&#228; &#1084 &#; &#x43C; &#55296; &#99999999;");
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");
  for (const std::string& text :
       {kCp1252Words, std::string("&#1084;x&#128;\x81\x9D"), std::string("\x80\x9F\xFF")}) {
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(text)), text);
  }
  EXPECT_EQ(Utf8ToCp1252("\xEF\xBB\xBF"
                         "abc"),
            "abc");
}

TEST(Utf8Text, IsUtf8TextNeedsAMarkOrAValidMultiByteSequence) {
  EXPECT_TRUE(IsUtf8Text(kUtf8Words));
  EXPECT_TRUE(
      IsUtf8Text("\xEF\xBB\xBF"
                 "abc"));
  EXPECT_FALSE(IsUtf8Text("abc"));
  EXPECT_FALSE(IsUtf8Text(""));
  EXPECT_FALSE(IsUtf8Text(kCp1252Words));
  EXPECT_FALSE(IsUtf8Text(kUtf8Words + "\xF6"));
  EXPECT_FALSE(IsUtf8Text("\xC3"));
}

namespace {

// The text as decoding the whole input at once gives it: one call of Qt's
// decoder, then character by character (a pair of surrogates is one).
std::string DecodedInOnePiece(const std::string& bytes, const std::string& charset) {
  QStringDecoder decoder(charset.c_str(), QStringConverter::Flag::Stateless);
  QString text = decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  std::string out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t ch = text[i].unicode();
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      ch = QChar::surrogateToUcs4(text[i], text[i + 1]);
      ++i;
    }
    AppendAsCp1252(out, ch);
  }
  return out;
}

// Per set: characters, sequences cut short and malformed bytes, from which
// texts are put together.
const std::vector<std::pair<std::string, std::vector<std::string>>> kPiecesOfSets = {
    {"utf-8",
     {"a", "<p>", "\xC3\xA4", "\xD0\xB6", "\xE6\x97\xA5", "\xF0\x9F\x98\x80", "\xEF\xBB\xBF",
      "\xC3", "\xE2\x82", "\xF0\x9F\x98", "\x80", "\xBF\xBF\xBF", "\xC0\xAF", "\xED\xA0\x80",
      "\xF4\x90\x80\x80", "\xFF"}},
    // Other names of Qt's UTF-8 decoder.
    {"utf_8", {"a", "\xD0\xB6", "\xF0\x9F\x98\x80", "\xE2\x82", "\x80", "\xEF\xBB\xBF"}},
    {"locale", {"a", "\xD0\xB6", "\xF0\x9F\x98\x80", "\xE2\x82", "\x80", "\xEF\xBB\xBF"}},
    // Pairs, lone halves of pairs, a byte-order mark, an odd byte.
    {"utf-16le",
     {std::string("a\0", 2), std::string("<\0", 2), "\x36\x04", "\x3D\xD8\x00\xDE", "\x3D\xD8",
      "\x00\xDE", "\xFF\xFE", "\xE4"}},
    {"utf-16be",
     {std::string("\0a", 2), std::string("\0<", 2), "\x04\x36", "\xD8\x3D\xDE\x00", "\xD8\x3D",
      "\xDE\x00", "\xFE\xFF", "\xE4"}},
    {"utf-32le",
     {std::string("a\0\0\0", 4), std::string("\x00\xF6\x01\x00", 4), std::string("\x00\xD8\0\0", 4),
      "\xE4"}},
    {"koi8-r", {"a", "<p>", "\xC1", "\xD6", "\xFF", "\x80", "\x9A"}},
    {"shift_jis", {"a", "\x93\xFA", "\x82\xA0", "\xB1", "\x93", "\x81\x40", "\xFD", "\x80"}},
    // Two-byte and four-byte sequences (one outside the 16-bit range), cut ones.
    {"gb18030",
     {"a", "\xC8\xD5", "\x81\x30\x81\x30", "\x95\x32\x82\x36", "\x81\x30", "\x81", "\xFF", "\x80"}},
    // Escapes switch the meaning of the bytes after them.
    {"iso-2022-jp", {"a", "\x1B$B", "\x46\x7C", "\x1B(B", "\x1B", "$", "\x0E"}}};

}  // namespace

// UTF-8 pages copy their ASCII bytes and decode only the runs between them;
// the result must be that of decoding the whole text at once.
TEST(DecodePage, Utf8RunByRunMatchesDecodingTheWholeText) {
  std::mt19937 random(7);
  const std::string pieces[] = {
      "a",    " ",    "<p>",  "\xC3\xA4", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xD0\xBC",
      "\xC3", "\x80", "\xFF", "\xE2\x82", "\xED\xA0\x80", "\xEF\xBB\xBF"};
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int i = random() % 40; i > 0; --i) text += pieces[random() % std::size(pieces)];
    ASSERT_EQ(DecodeToCp1252(text, "utf-8"), DecodedInOnePiece(text, "utf-8"))
        << testing::PrintToString(text);
  }
}

// Pages are decoded a piece at a time; a sequence, a pair of surrogates or an
// escape cut between two pieces, and malformed bytes at the end of a piece or
// of the text, must come out as from decoding the whole text at once.
TEST(DecodePage, PieceByPieceMatchesDecodingTheWholeText) {
  std::mt19937 random(11);
  for (const auto& [charset, pieces] : kPiecesOfSets) {
    // Every piece at every offset from a cut.
    std::string all;
    for (int i = 0; i < 3; ++i) {
      for (const std::string& piece : pieces) all += piece + pieces[i];
    }
    for (size_t pieceBytes = 16; pieceBytes <= 48; ++pieceBytes) {
      ASSERT_EQ(DecodeToCp1252(all, charset, pieceBytes), DecodedInOnePiece(all, charset))
          << charset << " in pieces of " << pieceBytes;
    }
    for (int round = 0; round < 500; ++round) {
      std::string text;
      for (int i = random() % 120; i > 0; --i) text += pieces[random() % pieces.size()];
      size_t pieceBytes = 16 + random() % 8;
      ASSERT_EQ(DecodeToCp1252(text, charset, pieceBytes), DecodedInOnePiece(text, charset))
          << charset << " in pieces of " << pieceBytes << ": " << testing::PrintToString(text);
    }
    // Pieces of the size pages are decoded in.
    std::string large;
    while (large.size() < 100'000) large += pieces[random() % pieces.size()];
    EXPECT_EQ(DecodeToCp1252(large, charset), DecodedInOnePiece(large, charset)) << charset;
  }
}

// The end of a text of many pieces is the end of the text: what is cut short
// there does not wait for more.
TEST(DecodePage, ASequenceCutByTheEndOfALongTextIsMalformed) {
  const std::string words(100'000, 'a');
  std::string wordsUtf16;
  for (char c : words) wordsUtf16 += {c, '\0'};
  EXPECT_EQ(DecodeToCp1252(words + "\xE2\x82", "utf-8"), words + "&#65533;&#65533;");
  // Half a pair.
  EXPECT_EQ(DecodeToCp1252(wordsUtf16 + "\x3D\xD8", "utf-16le"), words + "&#55357;");
  EXPECT_EQ(DecodeToCp1252(wordsUtf16 + "a", "utf-16le"), words + "&#65533;");
  // ICU's decoders drop what is left.
  EXPECT_EQ(DecodeToCp1252(words + "\x93", "shift_jis"), words);
  EXPECT_EQ(DecodeToCp1252(words + "\x81\x30\x81", "gb18030"), words);
}
