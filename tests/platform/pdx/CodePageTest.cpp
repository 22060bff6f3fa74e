#include "platform/pdx/CodePage.h"
#include "platform/pdx/Error.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>

namespace {

using orl::pdx::CodePage;

struct Sample {
  int codePage;
  std::string text;   // UTF-8
  std::string bytes;  // in the code page
};

// Words whose bytes differ from one code page to the next.
const Sample samples[] = {
    {437, "caf\xC3\xA9 \xC2\xBD \xE2\x94\x80", "caf\x82 \xAB \xC4"},
    {850, "\xC3\x91" "and\xC3\xBA \xC3\x98", "\xA5" "and\xA3 \x9D"},
    {852, "\xC5\x81\xC3\xB3" "d\xC5\xBA", "\x9D\xA2" "d\xAB"},
    {866, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\x8F\xE0\xA8\xA2\xA5\xE2"},
    {1250, "\xC5\x81\xC3\xB3" "d\xC5\xBA", "\xA3\xF3" "d\x9F"},
    {1251, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", "\xCF\xF0\xE8\xE2\xE5\xF2"},
    {1252, "\xE2\x82\xAC \xC3\x9F \xC5\x93", "\x80 \xDF \x9C"},
    {936, "\xE4\xB8\xAD\xE6\x96\x87 ok", "\xD6\xD0\xCE\xC4 ok"},
};

TEST(CodePage, DecodesAndEncodesEachCodePagesOwnCharacters) {
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.codePage);
    const CodePage codePage(sample.codePage);
    EXPECT_EQ(codePage.decode(sample.bytes), sample.text);
    EXPECT_EQ(codePage.encode(sample.text), sample.bytes);
  }
}

const int singleBytePages[] = {437, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864, 865,
                                866, 869, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

// The UTF-8 form of one character of the Basic Multilingual Plane.
std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  if (c < 0x800) return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
  return {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
          static_cast<char>(0x80 | (c & 0x3F))};
}

struct KnownByte {
  int codePage;
  unsigned char byte;
  char32_t character;
};

// Bytes as the vendors' published mappings give them, and bytes the pages
// leave undefined.
const KnownByte knownBytes[] = {
    {437, 0x82, 0x00E9}, {437, 0xE1, 0x00DF}, {737, 0x80, 0x0391}, {737, 0xE0, 0x03C9},
    {775, 0x80, 0x0106}, {850, 0xD5, 0x0131}, {850, 0x9D, 0x00D8}, {852, 0xAA, 0x00AC},
    {852, 0x9D, 0x0141}, {855, 0x80, 0x0452}, {857, 0x8D, 0x0131}, {860, 0x84, 0x00E3},
    {861, 0x8C, 0x00F0}, {862, 0x80, 0x05D0}, {863, 0x84, 0x00C2}, {864, 0x25, 0x066A},
    {865, 0x9B, 0x00F8}, {866, 0x80, 0x0410}, {869, 0x86, 0x0386}, {874, 0xA1, 0x0E01},
    {1250, 0xA3, 0x0141}, {1251, 0xC0, 0x0410}, {1252, 0x80, 0x20AC}, {1253, 0xC1, 0x0391},
    {1254, 0xD0, 0x011E}, {1255, 0xE0, 0x05D0}, {1256, 0xC7, 0x0627}, {1257, 0xC0, 0x0104},
    {1258, 0xCC, 0x0300},
    // Undefined: 0x80-0x9F as the C1 control of the same number, the rest
    // as U+F700 plus the byte.
    {1252, 0x81, 0x0081}, {1252, 0x9D, 0x009D}, {869, 0x80, 0x0080}, {1253, 0xAA, 0xF7AA},
    {857, 0xD5, 0xF7D5}, {874, 0xFF, 0xF7FF},
};

TEST(CodePage, BytesDecodeAsTheVendorsMappingsSay) {
  for (const auto& known : knownBytes) {
    SCOPED_TRACE(testing::Message() << known.codePage << " byte " << static_cast<int>(known.byte));
    const CodePage codePage(known.codePage);
    const std::string one(1, static_cast<char>(known.byte));
    EXPECT_EQ(codePage.decode(one), utf8(known.character));
    EXPECT_EQ(codePage.encode(utf8(known.character)), one);
    // The same byte amid ASCII, where the fast path for ASCII runs stops and starts.
    EXPECT_EQ(codePage.decode("ab" + one + "cd"), "ab" + utf8(known.character) + "cd");
  }
  // Code page 864 has no plain percent sign to write.
  EXPECT_FALSE(CodePage(864).encode("50%"));
}

TEST(CodePage, EveryByteOfASingleByteCodePageIsACharacterOfItsOwn) {
  for (int number : singleBytePages) {
    SCOPED_TRACE(number);
    const CodePage codePage(number);
    std::string all;
    std::set<std::string> texts;
    for (int byte = 0; byte < 256; ++byte) {
      const std::string one(1, static_cast<char>(byte));
      const auto text = codePage.decode(one);
      ASSERT_TRUE(text) << "byte " << byte;
      EXPECT_EQ(codePage.encode(*text), one) << "byte " << byte;
      texts.insert(*text);
      all += one;
    }
    EXPECT_EQ(texts.size(), 256u);
    EXPECT_EQ(codePage.encode(*codePage.decode(all)), all);
  }
}

TEST(CodePage, ControlBytesAndLineBreaksStayThemselves) {
  for (int number : {437, 850, 852, 866, 1252}) {
    SCOPED_TRACE(number);
    const CodePage codePage(number);
    EXPECT_EQ(codePage.decode("a\r\nb\x1A\x1C\x7F"), "a\r\nb\x1A\x1C\x7F");
    EXPECT_EQ(codePage.encode("\x1A\x1C\x7F"), "\x1A\x1C\x7F");
  }
}

TEST(CodePage, RefusesWhatItCannotHoldInsteadOfSubstituting) {
  EXPECT_FALSE(CodePage(437).encode("\xE2\x82\xAC"));          // euro sign
  EXPECT_FALSE(CodePage(1252).encode("\xE4\xB8\xAD"));         // a Chinese character
  EXPECT_FALSE(CodePage(850).encode("\xD0\x96"));              // Cyrillic Zhe
  EXPECT_FALSE(CodePage(1251).encode("a\xC3\xA9"));            // e acute
  EXPECT_FALSE(CodePage(1252).encode("\xF0\x9F\x98\x80"));     // outside the BMP
  EXPECT_FALSE(CodePage(1252).encode("bad \xC3"));             // not UTF-8
  EXPECT_FALSE(CodePage(936).decode("ok\x81"));                // a lead byte without its trail
  EXPECT_FALSE(CodePage(936).decode("\x81\x20"));              // a lead byte with a wrong trail
  EXPECT_EQ(CodePage(1252).encode(""), "");
  EXPECT_EQ(CodePage(936).decode(""), "");
}

TEST(CodePage, LongTextsOfSingleByteCodePagesGoBothWaysByteForByte) {
  std::mt19937 random(11);
  for (int number : singleBytePages) {
    SCOPED_TRACE(number);
    const CodePage codePage(number);
    for (int round = 0; round < 200; ++round) {
      std::string bytes;
      std::string text;
      for (int i = 0; i < 40; ++i) {
        const std::string one(1, static_cast<char>(random() % 255 + 1));
        bytes += one;
        text += *codePage.decode(one);
      }
      EXPECT_EQ(codePage.decode(bytes), text);
      EXPECT_EQ(codePage.encode(text), bytes);
      // One character the page cannot hold, or one ill-formed sequence, and
      // the whole text is refused.
      EXPECT_FALSE(codePage.encode(text + "\xF0\x9F\x98\x80"));
      EXPECT_FALSE(codePage.encode("\xC0\x80" + text));   // an overlong NUL
      EXPECT_FALSE(codePage.encode(text + "\xED\xA0\x80"));  // a lone surrogate
      EXPECT_FALSE(codePage.encode(text + "\xC3"));
    }
  }
}

TEST(CodePage, AnUnknownCodePageIsAnError) {
  EXPECT_THROW(CodePage(0), orl::pdx::Error);
  EXPECT_THROW(CodePage(12345), orl::pdx::Error);
}

}  // namespace
