#include "platform/common/Error.h"
#include "system/case/Case.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace orl::Case {
namespace {

struct Example {
  QString input;
  QString expected;
};

void expectAll(const std::function<QString(const QString&)>& transform,
               const std::vector<Example>& examples) {
  for (const Example& example : examples) {
    EXPECT_EQ(transform(example.input), example.expected) << example.input.toStdString();
  }
}

int overflowNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

const std::vector<std::function<QString(const QString&)>> allTransforms = {Upper, Lower, ProperCase,
                                                                          SentenceCase};

TEST(ProperCase, ExampleTable) {
  expectAll(ProperCase, {
                            {"hello WORLD", "Hello World"},
                            {"o'NEIL", "O'neil"},
                            {"mary-ANN smith", "Mary-ann Smith"},
                            {"two  spaces", "Two  Spaces"},
                            {"3RD street", "3rd Street"},
                            {"(NOTE) this", "(note) This"},
                            {"line one\r\nline two", "Line One\r\nline Two"},
                            {"line one\rline two", "Line One\rLine Two"},
                            {"line one\tline two", "Line One\tLine Two"},
                        });
}

TEST(ProperCase, OnlySpaceTabAndCarriageReturnSeparateWords) {
  expectAll(ProperCase, {
                            {QStringLiteral("a\tb\rc\nd"), QStringLiteral("A\tB\rC\nd")},
                            {QStringLiteral(" \t\rhello WORLD"), QStringLiteral(" \t\rHello World")},
                            {QStringLiteral(u"a\u00A0b"), QStringLiteral(u"A\u00A0b")},
                            {"dr.WHO!yes", "Dr.who!yes"},
                        });
}

TEST(SentenceCase, ExampleTable) {
  expectAll(SentenceCase, {
                              {"hELLO. HOW ARE YOU?", "Hello. how are you?"},
                              {" JOHN SMITH", " john smith"},
                              {"x", "X"},
                              {"1ST PLACE", "1st place"},
                              {"", ""},
                              {QStringLiteral(" \t\rhello WORLD"), QStringLiteral(" \t\rhello world")},
                          });
}

TEST(UpperAndLower, ExampleTable) {
  EXPECT_EQ(Upper("MacDonald's 2nd"), "MACDONALD'S 2ND");
  EXPECT_EQ(Lower("MacDonald's 2nd"), "macdonald's 2nd");
}

TEST(AllTransforms, TextsWithoutLettersComeBackUnchanged) {
  for (const auto& transform : allTransforms) {
    for (const QString& text : {QString(), QString(" "), QString("123-456.,!?()'"), QString(" \t\r\n")}) {
      EXPECT_EQ(transform(text), text) << text.toStdString();
    }
  }
}

TEST(AllTransforms, SimpleMappingKeepsEveryLength) {
  // ß, ŉ and ﬁ would expand under the full mapping; İ would gain a dot.
  const QString special = QString::fromUtf8("ß ŉ ǅ ﬁ İ ς \U00010428\U00010400 straße");
  for (const auto& transform : allTransforms) {
    EXPECT_EQ(transform(special).size(), special.size());
  }
  EXPECT_EQ(Upper(QString::fromUtf8("ßŉﬁ")), QString::fromUtf8("ßŉﬁ"));
  EXPECT_EQ(Upper(QString::fromUtf8("ǅς")), QString::fromUtf8("ǄΣ"));
  EXPECT_EQ(Lower(QString::fromUtf8("İǅΣ")), QString::fromUtf8("iǆσ"));
}

TEST(AllTransforms, SupplementaryLetterIsMappedAsOneCharacter) {
  const QString small = QString::fromUtf8("\U00010428");
  const QString capital = QString::fromUtf8("\U00010400");
  EXPECT_EQ(Upper(small + small), capital + capital);
  EXPECT_EQ(Lower(capital + capital), small + small);
  EXPECT_EQ(ProperCase(capital + capital + " " + small + small), capital + small + " " + capital + small);
  EXPECT_EQ(SentenceCase(small + capital), capital + small);
}

TEST(AllTransforms, LoneSurrogatesPassUnchanged) {
  const QString lone = QString(QChar(0xD801)) + "a" + QChar(0xDC00) + "B";
  EXPECT_EQ(Upper(lone), QString(QChar(0xD801)) + "A" + QChar(0xDC00) + "B");
  EXPECT_EQ(Lower(lone), QString(QChar(0xD801)) + "a" + QChar(0xDC00) + "b");
  EXPECT_EQ(SentenceCase(lone), QString(QChar(0xD801)) + "a" + QChar(0xDC00) + "b");
}

TEST(ProperCase, LengthLimitIsCountedInUtf16Units) {
  const QString longest(32766, u'a');
  const QString result = ProperCase(longest);
  EXPECT_EQ(result, "A" + QString(32765, u'a'));

  for (const qsizetype length : {32767, 32768, 40000, 100000}) {
    EXPECT_EQ(overflowNumberOf([&] { ProperCase(QString(length, u'a')); }), ErrorNumber::Overflow)
        << length;
  }

  // 16,383 supplementary letters fill exactly 32,766 units.
  const QString pair = QString::fromUtf8("\U00010400");
  const QString pairs = pair.repeated(16383);
  EXPECT_EQ(ProperCase(pairs).size(), 32766);
  EXPECT_EQ(overflowNumberOf([&] { ProperCase(pairs + "a"); }), ErrorNumber::Overflow);
}

TEST(SentenceCase, HasNoLengthLimit) {
  const QString text(100000, u'A');
  EXPECT_EQ(SentenceCase(text), "A" + QString(99999, u'a'));
}

TEST(CaseKindFromChoice, RecognisesTheFourEntries) {
  EXPECT_EQ(CaseKindFromChoice("UPPER CASE"), CaseKind::Upper);
  EXPECT_EQ(CaseKindFromChoice("lower case"), CaseKind::Lower);
  EXPECT_EQ(CaseKindFromChoice("Proper Case"), CaseKind::Proper);
  EXPECT_EQ(CaseKindFromChoice("Sentence case"), CaseKind::Sentence);
}

TEST(CaseKindFromChoice, FirstKeyWordInOrderDecidesAndNoneGivesNothing) {
  EXPECT_EQ(CaseKindFromChoice("sentence or UPPER"), CaseKind::Upper);
  EXPECT_EQ(CaseKindFromChoice("Proper, not lower"), CaseKind::Lower);
  EXPECT_EQ(CaseKindFromChoice("improperly"), CaseKind::Proper);
  EXPECT_EQ(CaseKindFromChoice(""), std::nullopt);
  EXPECT_EQ(CaseKindFromChoice("Title Case"), std::nullopt);
  EXPECT_EQ(CaseKindFromChoice("up per"), std::nullopt);
}

TEST(CaseKindFromChoice, NameComesAfterTheFourKeyWords) {
  EXPECT_EQ(CaseKindFromChoice("Name Case"), CaseKind::Name);
  EXPECT_EQ(CaseKindFromChoice("NAME"), CaseKind::Name);
  EXPECT_EQ(CaseKindFromChoice("Proper Case for names"), CaseKind::Proper);
  EXPECT_EQ(CaseKindFromChoice("name in UPPER"), CaseKind::Upper);
}

}  // namespace
}  // namespace orl::Case
