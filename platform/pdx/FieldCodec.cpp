#include "platform/pdx/FieldCodec.h"

#include "platform/pdx/Header.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace orl::pdx::detail {

void putLe16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void putLe32(std::uint8_t* at, std::uint32_t value) {
  putLe16(at, value);
  putLe16(at + 2, value >> 16);
}

namespace {

// Numbers in records are big-endian with the sign bit flipped, so that all
// zeroes is a blank field and the bytes sort as the numbers do.
void putFlipped(std::uint8_t* at, std::uint64_t bits, std::size_t size) {
  bits ^= std::uint64_t{1} << (size * 8 - 1);
  for (std::size_t i = 0; i < size; ++i) at[i] = static_cast<std::uint8_t>(bits >> (8 * (size - 1 - i)));
}

void putDouble(std::uint8_t* at, double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  // A negative number has all its bits inverted, a positive one only its sign.
  if (bits >> 63) bits = ~bits ^ (std::uint64_t{1} << 63);
  putFlipped(at, bits, 8);
}

bool leapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leapYear(year) ? 29 : days[month - 1];
}

// Days counted so that 1 January of year 1 is day 1 (proleptic Gregorian).
std::optional<std::int64_t> dayNumber(const Date& date) {
  if (date.year < 1 || date.year > 9999 || date.month < 1 || date.month > 12 || date.day < 1 ||
      date.day > daysInMonth(date.year, date.month))
    return std::nullopt;
  const std::int64_t y = date.year - 1;
  std::int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < date.month; ++m) days += daysInMonth(date.year, m);
  return days + date.day;
}

constexpr std::int32_t MillisecondsPerDay = 86'400'000;

// Parses "-12.3400" into its digits and scale; nothing when it is not a decimal.
struct DecimalDigits {
  bool negative = false;
  std::string integer;   // without leading zeros
  std::string fraction;  // as written
};

std::optional<DecimalDigits> parseDecimal(const std::string& text) {
  DecimalDigits digits;
  std::size_t at = 0;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) digits.negative = text[at++] == '-';
  const std::size_t integerStart = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  digits.integer = text.substr(integerStart, at - integerStart);
  if (at < text.size() && text[at] == '.') {
    const std::size_t fractionStart = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    digits.fraction = text.substr(fractionStart, at - fractionStart);
  }
  if (at != text.size() || (digits.integer.empty() && digits.fraction.empty())) return std::nullopt;
  digits.integer.erase(0, std::min(digits.integer.find_first_not_of('0'), digits.integer.size()));
  return digits;
}

}  // namespace

std::string describe(const Value& value) {
  struct Describer {
    std::string operator()(const Null&) const { return "blank"; }
    std::string operator()(const std::string& text) const {
      constexpr std::size_t shown = 60;
      std::size_t cut = std::min(text.size(), shown);
      while (cut > 0 && cut < text.size() && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
      // Control characters are shown by number, so the message stays one readable line.
      std::string quoted = "\"";
      for (std::size_t i = 0; i < cut; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02X", c);
          quoted += escape;
        } else {
          quoted += static_cast<char>(c);
        }
      }
      quoted += cut < text.size() ? "...\" (" + std::to_string(text.size()) + " bytes)" : "\"";
      return quoted;
    }
    std::string operator()(std::int64_t number) const { return std::to_string(number); }
    std::string operator()(double number) const {
      char text[40];
      std::snprintf(text, sizeof text, "%.17g", number);
      return text;
    }
    std::string operator()(bool flag) const { return flag ? "true" : "false"; }
    std::string operator()(const Decimal& decimal) const { return decimal.text; }
    std::string operator()(const Date& date) const {
      char text[24];
      std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
      return text;
    }
    std::string operator()(const TimeOfDay& time) const {
      return "time of " + std::to_string(time.milliseconds) + " ms";
    }
    std::string operator()(const Timestamp& stamp) const {
      return (*this)(stamp.date) + " and " + (*this)(stamp.time);
    }
    std::string operator()(const Bytes& bytes) const { return std::to_string(bytes.size()) + " bytes"; }
  };
  return std::visit(Describer{}, value);
}

bool isBlobType(FieldType type) {
  return type == FieldType::Memo || type == FieldType::Binary || type == FieldType::FormattedMemo ||
         type == FieldType::Ole || type == FieldType::Graphic;
}

std::string encodeInRecord(const Field& field, const Value& value, const CodePage& codePage, std::uint8_t* out) {
  if (std::holds_alternative<Null>(value)) return {};  // all zeroes is blank
  const std::string wrongKind = "it is not a value of this field's type";
  const auto size = static_cast<std::size_t>(storedWidth(field));
  switch (field.type) {
    case FieldType::Alpha: {
      const auto* utf8 = std::get_if<std::string>(&value);
      if (utf8 == nullptr) return wrongKind;
      const auto bytes = codePage.encode(*utf8);
      if (!bytes) return "it holds a character code page " + std::to_string(codePage.number()) + " cannot hold";
      if (bytes->size() > size) return "it is longer than the field's " + std::to_string(field.size) + " bytes";
      if (bytes->find('\0') != std::string::npos) return "an alpha field cannot hold a NUL character";
      std::copy(bytes->begin(), bytes->end(), out);
      return {};
    }
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::Autoincrement: {
      const auto* number = std::get_if<std::int64_t>(&value);
      if (number == nullptr) return wrongKind;
      // The lowest number of the width is the blank field's pattern.
      const std::int64_t limit = size == 2 ? 32767 : 2147483647;
      if (*number < -limit || *number > limit)
        return "the field holds " + std::to_string(-limit) + " to " + std::to_string(limit);
      putFlipped(out, static_cast<std::uint64_t>(*number) & ((std::uint64_t{1} << (size * 8)) - 1), size);
      return {};
    }
    case FieldType::Number:
    case FieldType::Money: {
      const auto* number = std::get_if<double>(&value);
      if (number == nullptr) return wrongKind;
      if (!std::isfinite(*number)) return "a number field holds finite numbers only";
      putDouble(out, *number);
      return {};
    }
    case FieldType::Logical: {
      const auto* flag = std::get_if<bool>(&value);
      if (flag == nullptr) return wrongKind;
      out[0] = *flag ? 0x81 : 0x80;
      return {};
    }
    case FieldType::Date: {
      const auto* date = std::get_if<Date>(&value);
      if (date == nullptr) return wrongKind;
      const auto day = dayNumber(*date);
      if (!day) return "it is not a date from the year 1 to 9999";
      putFlipped(out, static_cast<std::uint64_t>(*day), 4);
      return {};
    }
    case FieldType::Time: {
      const auto* time = std::get_if<TimeOfDay>(&value);
      if (time == nullptr) return wrongKind;
      if (time->milliseconds < 0 || time->milliseconds >= MillisecondsPerDay) return "it is not a time of day";
      putFlipped(out, static_cast<std::uint64_t>(time->milliseconds), 4);
      return {};
    }
    case FieldType::Timestamp: {
      const auto* stamp = std::get_if<Timestamp>(&value);
      if (stamp == nullptr) return wrongKind;
      const auto day = dayNumber(stamp->date);
      if (!day || stamp->time.milliseconds < 0 || stamp->time.milliseconds >= MillisecondsPerDay)
        return "it is not a moment from the year 1 to 9999";
      // Milliseconds since the day before 1 January 1, held exactly by a double.
      putDouble(out, static_cast<double>(*day * MillisecondsPerDay + stamp->time.milliseconds));
      return {};
    }
    case FieldType::Bcd: {
      const auto* decimal = std::get_if<Decimal>(&value);
      if (decimal == nullptr) return wrongKind;
      const auto digits = parseDecimal(decimal->text);
      if (!digits) return "it is not a decimal number";
      const auto scale = static_cast<std::size_t>(field.size);
      std::string fraction = digits->fraction;
      if (fraction.size() > scale) {
        if (fraction.find_first_not_of('0', scale) != std::string::npos)
          return "the field keeps " + std::to_string(scale) + " digits after the point";
        fraction.resize(scale);
      }
      fraction.resize(scale, '0');
      if (digits->integer.size() > 32 - scale)
        return "the field keeps " + std::to_string(32 - scale) + " digits before the point";
      const std::string all = std::string(32 - scale - digits->integer.size(), '0') + digits->integer + fraction;
      const bool negative = digits->negative && all.find_first_not_of('0') != std::string::npos;
      // A sign bit, a set bit, the scale; then 32 digits, complemented when negative.
      out[0] = static_cast<std::uint8_t>((negative ? 0x00 : 0x80) | 0x40 | scale);
      for (std::size_t i = 0; i < 32; ++i) {
        auto digit = static_cast<std::uint8_t>(all[i] - '0');
        if (negative) digit = static_cast<std::uint8_t>(15 - digit);
        out[1 + i / 2] |= static_cast<std::uint8_t>(i % 2 == 0 ? digit << 4 : digit);
      }
      return {};
    }
    case FieldType::Bytes: {
      const auto* bytes = std::get_if<Bytes>(&value);
      if (bytes == nullptr) return wrongKind;
      if (bytes->size() > size) return "it is longer than the field's " + std::to_string(field.size) + " bytes";
      std::copy(bytes->begin(), bytes->end(), out);
      return {};
    }
    default:
      return "a memo or blob field is not held by the record alone";
  }
}

}  // namespace orl::pdx::detail
