#pragma once

// The field types and typed values of Paradox tables, shared by the reader
// and the writer. Free of Qt: text is UTF-8.

#include <cstdint>
#include <cstring>
#include <string>
#include <variant>
#include <vector>

namespace orl::pdx {

// A field type, by the letter the format notes and the table tool use.
enum class FieldType : char {
  Alpha = 'A',
  Date = 'D',
  Short = 'S',
  Long = 'I',
  Money = '$',
  Number = 'N',
  Logical = 'L',
  Memo = 'M',
  Binary = 'B',
  FormattedMemo = 'F',
  Ole = 'O',
  Graphic = 'G',
  Time = 'T',
  Timestamp = '@',
  Autoincrement = '+',
  Bcd = '#',
  Bytes = 'Y',
};

struct Field {
  std::string name;  // UTF-8, decoded from the table's code page
  FieldType type;
  int size;  // the header's size byte: alpha width, memo bytes kept in the record, BCD digits after the point
};

// A day of the proleptic Gregorian calendar. Years are astronomical: year 0
// is the year before year 1 (a Paradox date can lie before year 1).
struct Date {
  int year;
  int month;
  int day;
  friend bool operator==(const Date&, const Date&) = default;
};

struct TimeOfDay {
  std::int32_t milliseconds;  // since midnight
  friend bool operator==(const TimeOfDay&, const TimeOfDay&) = default;
};

struct Timestamp {
  Date date;
  TimeOfDay time;
  friend bool operator==(const Timestamp&, const Timestamp&) = default;
};

// An exact decimal as text: optional "-", digits, optional "." and digits ("-1.230").
// Its scale is the number of digits after the point, kept as stored.
struct Decimal {
  std::string text;
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

using Bytes = std::vector<std::uint8_t>;

struct Null {
  friend bool operator==(const Null&, const Null&) = default;
};

// One field's value. Which alternative a field type yields:
//   A M -> std::string; S I + -> std::int64_t (Short, Long, Autoincrement);
//   N $ -> double; # -> Decimal; L -> bool; D -> Date; T -> TimeOfDay;
//   @ -> Timestamp; B F O G Y -> Bytes; a blank field -> Null.
// A formatted memo is bytes: its rich-text markup is not text in the table's
// code page, and it must come back byte for byte.
// A graphic's bytes are the image alone, without the 8-byte header the memo
// file keeps in front of it.
using Value = std::variant<Null, std::string, std::int64_t, double, bool, Decimal, Date, TimeOfDay,
                           Timestamp, Bytes>;

// Whether two values are one and the same as stored: doubles must match bit
// for bit, since -0 and 0 compare equal but are stored differently.
inline bool identical(const Value& a, const Value& b) {
  if (const auto* number = std::get_if<double>(&a)) {
    const auto* other = std::get_if<double>(&b);
    return other && std::memcmp(number, other, sizeof(double)) == 0;
  }
  return a == b;
}

}  // namespace orl::pdx
