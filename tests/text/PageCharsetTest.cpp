#include <gtest/gtest.h>

#include "GermanWords.h"
#include "PageCharset.h"

namespace {

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
