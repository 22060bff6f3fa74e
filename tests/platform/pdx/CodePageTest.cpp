#include "platform/pdx/CodePage.h"
#include "platform/pdx/Error.h"

#include <gtest/gtest.h>

#include <random>
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

TEST(CodePage, EveryByteOfASingleByteCodePageComesBackUnchanged) {
  for (int number : {437, 850, 852, 866, 1250, 1251, 1252}) {
    SCOPED_TRACE(number);
    const CodePage codePage(number);
    for (int byte = 1; byte < 256; ++byte) {
      const std::string one(1, static_cast<char>(byte));
      const auto text = codePage.decode(one);
      if (!text) continue;  // a byte the code page leaves undefined
      EXPECT_EQ(codePage.encode(*text), one) << "byte " << byte;
    }
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
  for (int number : {437, 850, 852, 865, 866, 1250, 1251, 1252}) {
    SCOPED_TRACE(number);
    const CodePage codePage(number);
    for (int round = 0; round < 200; ++round) {
      std::string bytes;
      std::string text;
      for (int i = 0; i < 40; ++i) {
        const std::string one(1, static_cast<char>(random() % 255 + 1));
        const auto piece = codePage.decode(one);
        if (!piece) continue;
        bytes += one;
        text += *piece;
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
