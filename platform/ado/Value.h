#pragma once

#include "platform/pdx/Value.h"

#include <QString>

#include <bit>
#include <cstdint>
#include <optional>
#include <variant>

namespace orl::ado {

// A value as the data-access layer hands it out: null, text, a 16 or 32-bit
// integer, a double, an exact decimal, a boolean, a date, a time of day, a
// timestamp or bytes.
class Value {
 public:
  enum class Kind { Null, Text, Int16, Int32, Double, Decimal, Boolean, Date, Time, Timestamp, Bytes };

  Value() = default;
  static Value text(const QString& text) { return Value(Text{text}); }
  static Value int16(std::int16_t number) { return Value(Int16{number}); }
  static Value int32(std::int32_t number) { return Value(Int32{number}); }
  static Value real(double number) { return Value(Double{number}); }
  static Value decimal(const pdx::Decimal& number) { return Value(number); }
  static Value boolean(bool truth) { return Value(Boolean{truth}); }
  static Value date(const pdx::Date& day) { return Value(day); }
  static Value time(const pdx::TimeOfDay& time) { return Value(time); }
  static Value timestamp(const pdx::Timestamp& moment) { return Value(moment); }
  static Value bytes(const pdx::Bytes& bytes) { return Value(bytes); }

  Kind kind() const { return static_cast<Kind>(content_.index()); }
  bool isNull() const { return kind() == Kind::Null; }

  // The standard text form: locale-independent, and it reads back into the
  // same value. Integers in decimal, doubles in the shortest form that
  // round-trips, decimals exactly, dates YYYY-MM-DD, times HH:MM:SS[.mmm],
  // timestamps YYYY-MM-DD HH:MM:SS[.mmm], booleans True/False, null as the
  // empty text. Years are astronomical, of four digits or more: 0000 is the
  // year before year 1 and -0001 the one before that ("-0001-12-31"). Bytes have no text form: asking for one raises orl::Error.
  QString toText() const;
  // Appends the standard text form to `out`: numbers, dates and booleans
  // straight from their digits, without a string of their own.
  void appendText(QString& out) const;

  const QString& asText() const { return std::get<Text>(content_).value; }
  std::int32_t asInteger() const;
  double asDouble() const { return std::get<Double>(content_).value; }
  const pdx::Decimal& asDecimal() const { return std::get<pdx::Decimal>(content_); }
  bool asBoolean() const { return std::get<Boolean>(content_).value; }
  const pdx::Date& asDate() const { return std::get<pdx::Date>(content_); }
  const pdx::TimeOfDay& asTime() const { return std::get<pdx::TimeOfDay>(content_); }
  const pdx::Timestamp& asTimestamp() const { return std::get<pdx::Timestamp>(content_); }
  const pdx::Bytes& asBytes() const { return std::get<pdx::Bytes>(content_); }

  // Same kind and same value; doubles compare by their bits, so -0.0 differs from 0.0.
  friend bool operator==(const Value& a, const Value& b);

 private:
  struct Text {
    QString value;
    friend bool operator==(const Text&, const Text&) = default;
  };
  struct Int16 {
    std::int16_t value;
    friend bool operator==(const Int16&, const Int16&) = default;
  };
  struct Int32 {
    std::int32_t value;
    friend bool operator==(const Int32&, const Int32&) = default;
  };
  struct Double {
    double value;
    friend bool operator==(const Double& a, const Double& b) {
      return std::bit_cast<std::uint64_t>(a.value) == std::bit_cast<std::uint64_t>(b.value);
    }
  };
  struct Boolean {
    bool value;
    friend bool operator==(const Boolean&, const Boolean&) = default;
  };
  using Content = std::variant<pdx::Null, Text, Int16, Int32, Double, pdx::Decimal, Boolean, pdx::Date,
                               pdx::TimeOfDay, pdx::Timestamp, pdx::Bytes>;

  template <class Alternative>
  explicit Value(Alternative alternative) : content_(std::move(alternative)) {}

  Content content_;
};

// Readers of the standard text forms; each gives nothing for a text that is
// not exactly in that form (or names no real date or time).
std::optional<std::int64_t> ParseInteger(QStringView text);
std::optional<double> ParseDouble(QStringView text);
std::optional<pdx::Decimal> ParseDecimal(const QString& text);
std::optional<pdx::Date> ParseDate(const QString& text);
std::optional<pdx::TimeOfDay> ParseTime(const QString& text);
std::optional<pdx::Timestamp> ParseTimestamp(const QString& text);

// The text forms of the date and time parts, shared by the value and the export.
QString DateText(const pdx::Date& date);
QString TimeText(const pdx::TimeOfDay& time);
QString DoubleText(double number);

// The number a text stands for when the text is exactly that number's
// standard form (QString::number of the integer, DoubleText of the double);
// nothing otherwise. "007", "-0" and "1E5" are not standard forms.
std::optional<std::int64_t> StandardInteger(QStringView text);
std::optional<double> StandardDouble(QStringView text);

}  // namespace orl::ado
