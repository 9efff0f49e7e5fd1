#include <gtest/gtest.h>

#include <QStringDecoder>
#include <random>

#include "CharsetDecode.h"
#include "Windows1252.h"

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
