#include "platform/ado/Value.h"

#include "platform/common/Error.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orl::ado {
namespace {

TEST(ValueText, EachKindHasItsStandardForm) {
  EXPECT_EQ(Value().toText(), QString());
  EXPECT_EQ(Value::text(QStringLiteral("007")).toText(), QStringLiteral("007"));
  EXPECT_EQ(Value::int16(-32768).toText(), QStringLiteral("-32768"));
  EXPECT_EQ(Value::int32(2147483647).toText(), QStringLiteral("2147483647"));
  EXPECT_EQ(Value::real(0.1).toText(), QStringLiteral("0.1"));
  EXPECT_EQ(Value::real(1e20).toText(), QStringLiteral("1e+20"));
  EXPECT_EQ(Value::decimal({"-1.230"}).toText(), QStringLiteral("-1.230"));
  EXPECT_EQ(Value::boolean(true).toText(), QStringLiteral("True"));
  EXPECT_EQ(Value::boolean(false).toText(), QStringLiteral("False"));
  EXPECT_EQ(Value::date({2021, 8, 31}).toText(), QStringLiteral("2021-08-31"));
  EXPECT_EQ(Value::date({7, 1, 2}).toText(), QStringLiteral("0007-01-02"));
  EXPECT_EQ(Value::time({(13 * 3600 + 5 * 60 + 9) * 1000}).toText(), QStringLiteral("13:05:09"));
  EXPECT_EQ(Value::time({(13 * 3600 + 5 * 60 + 9) * 1000 + 7}).toText(), QStringLiteral("13:05:09.007"));
  EXPECT_EQ(Value::timestamp({{1999, 12, 31}, {86399999}}).toText(), QStringLiteral("1999-12-31 23:59:59.999"));
}

TEST(ValueText, AppendedTextIsTheStandardFormWhateverTheKind) {
  for (const Value& value :
       {Value(), Value::text(QStringLiteral("It's")), Value::int16(-32768), Value::int32(-2147483647 - 1),
        Value::real(0.1 + 0.2), Value::real(-1e-300), Value::real(std::numeric_limits<double>::max()),
        Value::decimal({"-1.230"}), Value::boolean(true), Value::boolean(false), Value::date({2021, 8, 31}),
        Value::date({0, 2, 29}), Value::date({-1, 12, 31}), Value::date({12345, 6, 7}), Value::time({45296789}),
        Value::timestamp({{1999, 12, 31}, {86399999}})}) {
    QString appended = QStringLiteral("<");
    value.appendText(appended);
    EXPECT_EQ(appended, QStringLiteral("<") + value.toText());
  }
}

TEST(ValueText, BytesHaveNoTextForm) {
  EXPECT_THROW(Value::bytes({1, 2, 3}).toText(), Error);
}

TEST(ValueText, TextFormsReadBackIntoTheSameValue) {
  for (double number : {0.1 + 0.2, 1.0 / 3.0, -2.5e-300, 123456789012345678.0, std::numeric_limits<double>::max(),
                        std::numeric_limits<double>::denorm_min(), -0.0}) {
    const auto back = ParseDouble(Value::real(number).toText());
    ASSERT_TRUE(back.has_value()) << number;
    EXPECT_EQ(Value::real(*back), Value::real(number)) << number;
  }
  const pdx::Timestamp moment{{2004, 2, 29}, {45296789}};
  EXPECT_EQ(ParseTimestamp(Value::timestamp(moment).toText()), moment);
  EXPECT_EQ(ParseTime(QStringLiteral("00:00:00")), pdx::TimeOfDay{0});
  EXPECT_EQ(ParseDecimal(QStringLiteral("-0.50"))->text, "-0.50");
}

// Paradox dates reach back before year 1 and far past 9999; years are
// astronomical, so 0000 is the year before year 1.
TEST(ValueText, DatesOutsideYearsOneTo9999HaveAFormThatReadsBack) {
  const struct {
    pdx::Date date;
    const char* text;
  } dates[] = {
      {{0, 12, 31}, "0000-12-31"},     {{0, 2, 29}, "0000-02-29"},       {{-1, 12, 31}, "-0001-12-31"},
      {{-4, 2, 29}, "-0004-02-29"},    {{-12345, 6, 7}, "-12345-06-07"}, {{12345, 6, 7}, "12345-06-07"},
      {{-5879610, 6, 22}, "-5879610-06-22"},
  };
  for (const auto& [date, text] : dates) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Value::date(date).toText(), QLatin1String(text));
    EXPECT_EQ(ParseDate(QLatin1String(text)), date);
    const pdx::Timestamp moment{date, {3723004}};
    EXPECT_EQ(Value::timestamp(moment).toText(), QLatin1String(text) + QStringLiteral(" 01:02:03.004"));
    EXPECT_EQ(ParseTimestamp(Value::timestamp(moment).toText()), moment);
  }
  for (const char* notDate : {"-0000-01-01", "-100-01-01", "00123-01-01", "-00123-01-01", "0100-02-29",
                              "-0100-02-29", "12345678-01-01", "+2021-01-01", "--0001-01-01", "-"})
    EXPECT_FALSE(ParseDate(QLatin1String(notDate))) << notDate;
}

TEST(ValueText, ReadersRefuseWhatIsNotExactlyTheirForm) {
  EXPECT_FALSE(ParseDate(QStringLiteral("2021-02-29")));
  EXPECT_FALSE(ParseDate(QStringLiteral("2021-2-28")));
  EXPECT_FALSE(ParseTime(QStringLiteral("24:00:00")));
  EXPECT_FALSE(ParseTime(QStringLiteral("10:00:00.000")));
  EXPECT_FALSE(ParseInteger(QStringLiteral("1.0")));
  EXPECT_FALSE(ParseInteger(QStringLiteral("99999999999999999999")));
  EXPECT_FALSE(ParseDouble(QStringLiteral("1,5")));
  EXPECT_FALSE(ParseDecimal(QStringLiteral("1.")));
  for (const char* notWhole : {"", "-", "+1", " 1", "1 ", "--1", "1-", "\xEF\xBC\x91"})  // the last a full-width 1
    EXPECT_FALSE(ParseInteger(QString::fromUtf8(notWhole))) << notWhole;
  for (const char* notNumber : {"", ".", "-.", "1e", "1e+", "e5", "Infinity", "NaN", "1.5.", "0x10", "1e5 "})
    EXPECT_FALSE(ParseDouble(QString::fromUtf8(notNumber))) << notNumber;
  for (const char* number : {".5", "5.", "-0", "1e+5", "2E-3", "-inf", "nan"})
    EXPECT_TRUE(ParseDouble(QString::fromUtf8(number))) << number;
  EXPECT_FALSE(ParseDecimal(QStringLiteral("-.5")));
  EXPECT_FALSE(ParseDecimal(QStringLiteral("1e3")));
  EXPECT_FALSE(ParseDate(QStringLiteral("2021-02-28 ")));
  EXPECT_FALSE(ParseDate(QStringLiteral("2021/02/28")));
  EXPECT_FALSE(ParseTime(QStringLiteral("10:00:00.5")));
  EXPECT_FALSE(ParseTime(QStringLiteral("10:00:00.")));
  EXPECT_FALSE(ParseTime(QStringLiteral("10:60:00")));
  EXPECT_FALSE(ParseTimestamp(QStringLiteral("2021-02-28  10:00:00")));
  EXPECT_EQ(ParseTime(QStringLiteral("23:59:59.999")), pdx::TimeOfDay{86399999});
}

TEST(ValueText, StandardFormsAreExactlyWhatTheValueWrites) {
  for (std::int64_t whole : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{42}, std::numeric_limits<std::int64_t>::min(),
                             std::numeric_limits<std::int64_t>::max()})
    EXPECT_EQ(StandardInteger(QString::number(whole)), whole) << whole;
  for (const char* notStandard : {"007", "-0", "00", "+1", "1.0", "", "-", "99999999999999999999"})
    EXPECT_FALSE(StandardInteger(QString::fromLatin1(notStandard))) << notStandard;
  for (double number : {0.25, -1.5, 1e20, 0.1 + 0.2, -0.0, std::numeric_limits<double>::denorm_min()}) {
    const auto back = StandardDouble(DoubleText(number));
    ASSERT_TRUE(back) << number;
    EXPECT_EQ(Value::real(*back), Value::real(number)) << number;
  }
  for (const char* notStandard : {"1E+20", "1e20", "0.50", ".5", "1.", "00.5", "+1", "0.30000000000000005"})
    EXPECT_FALSE(StandardDouble(QString::fromLatin1(notStandard))) << notStandard;
  // Longer than any standard form, so read through the slow path and refused.
  EXPECT_FALSE(StandardDouble(QString(100, QLatin1Char('1')) + QStringLiteral(".5")));
  EXPECT_EQ(ParseDouble(QString(100, QLatin1Char('1'))), 1.1111111111111111e99);
}

TEST(ValueEquality, ComparesKindAndValue) {
  EXPECT_NE(Value::int16(5), Value::int32(5));
  EXPECT_NE(Value::real(0.0), Value::real(-0.0));
  EXPECT_EQ(Value::real(std::nan("")), Value::real(std::nan("")));
  EXPECT_EQ(Value::bytes({1, 2}), Value::bytes({1, 2}));
  EXPECT_NE(Value(), Value::text(QString()));
}

}  // namespace
}  // namespace orl::ado
