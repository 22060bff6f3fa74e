#include "platform/ado/Value.h"

#include "platform/common/Error.h"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace orl::ado {

namespace {

// Digits written by hand: a staging copy writes a date or time for every row.
void appendDigits(char*& at, int number, int width) {
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  at += width;
}

// Astronomical years of the proleptic Gregorian calendar: year 0 is the
// year before year 1, and a leap year, as C++'s remainder keeps the rule
// for negative years too.
bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool isRealDate(int year, int month, int day) {
  static constexpr int DaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1) return false;
  const int last = DaysInMonth[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0);
  return day <= last;
}

// A date field reaches about 5.9 million years either side of year 1.
constexpr int MaxYearDigits = 7;

// A date of four-digit year written by hand into `text` (10 characters);
// false for any other, which takes the general form.
bool writeShortDate(const pdx::Date& date, char* text) {
  if (date.year < 0 || date.year > 9999 || date.month < 0 || date.month > 99 || date.day < 0 || date.day > 99)
    return false;
  char* at = text;
  appendDigits(at, date.year, 4);
  *at++ = '-';
  appendDigits(at, date.month, 2);
  *at++ = '-';
  appendDigits(at, date.day, 2);
  return true;
}

}  // namespace

QString DateText(const pdx::Date& date) {
  char text[10];
  if (!writeShortDate(date, text)) {
    const QString year = QStringLiteral("%1").arg(std::abs(static_cast<long long>(date.year)), 4, 10, QLatin1Char('0'));
    return QStringLiteral("%1%2-%3-%4")
        .arg(date.year < 0 ? QStringLiteral("-") : QString(), year)
        .arg(date.month, 2, 10, QLatin1Char('0'))
        .arg(date.day, 2, 10, QLatin1Char('0'));
  }
  return QString::fromLatin1(text, sizeof text);
}

QString TimeText(const pdx::TimeOfDay& time) {
  const int ms = time.milliseconds;
  if (ms < 0 || ms / 3600000 > 99) {
    const auto two = [](int number) { return QStringLiteral("%1").arg(number, 2, 10, QLatin1Char('0')); };
    QString text = QStringLiteral("%1:%2:%3").arg(two(ms / 3600000), two(ms / 60000 % 60), two(ms / 1000 % 60));
    if (ms % 1000 != 0) text += QStringLiteral(".%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
    return text;
  }
  char text[12];
  char* at = text;
  appendDigits(at, ms / 3600000, 2);
  *at++ = ':';
  appendDigits(at, ms / 60000 % 60, 2);
  *at++ = ':';
  appendDigits(at, ms / 1000 % 60, 2);
  if (ms % 1000 != 0) {
    *at++ = '.';
    appendDigits(at, ms % 1000, 3);
  }
  return QString::fromLatin1(text, at - text);
}

QString DoubleText(double number) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
  return QString::fromLatin1(buffer, result.ptr - buffer);
}

std::int32_t Value::asInteger() const {
  if (kind() == Kind::Int16) return std::get<Int16>(content_).value;
  return std::get<Int32>(content_).value;
}

QString Value::toText() const {
  switch (kind()) {
    case Kind::Null:
      return QString();
    case Kind::Text:
      return asText();
    case Kind::Int16:
    case Kind::Int32:
      return QString::number(asInteger());
    case Kind::Double:
      return DoubleText(asDouble());
    case Kind::Decimal:
      return QString::fromStdString(asDecimal().text);
    case Kind::Boolean:
      return asBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Date:
      return DateText(asDate());
    case Kind::Time:
      return TimeText(asTime());
    case Kind::Timestamp:
      return DateText(asTimestamp().date) + QLatin1Char(' ') + TimeText(asTimestamp().time);
    case Kind::Bytes:
      break;
  }
  throw Error(ErrorNumber::InvalidCall,
              QStringLiteral("A binary value of %1 bytes has no text form.").arg(asBytes().size()));
}

void Value::appendText(QString& out) const {
  char text[32];
  const auto append = [&](std::to_chars_result written) {
    out.append(QLatin1String(text, static_cast<qsizetype>(written.ptr - text)));
  };
  switch (kind()) {
    case Kind::Text:
      out += asText();
      return;
    case Kind::Int16:
    case Kind::Int32:
      append(std::to_chars(text, text + sizeof text, asInteger()));
      return;
    case Kind::Double:
      append(std::to_chars(text, text + sizeof text, asDouble()));
      return;
    case Kind::Boolean:
      out.append(asBoolean() ? QLatin1String("True") : QLatin1String("False"));
      return;
    case Kind::Date:
      if (writeShortDate(asDate(), text)) {
        out.append(QLatin1String(text, 10));
        return;
      }
      break;
    default:
      break;
  }
  out += toText();
}

bool operator==(const Value& a, const Value& b) { return a.content_ == b.content_; }

namespace {

// The forms below are read by hand: they are tried on every value a table
// holds, and a pattern match costs many times more.
bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Moves `at` past the digits there; how many there were.
qsizetype skipDigits(QStringView text, qsizetype& at) {
  const qsizetype from = at;
  while (at < text.size() && isDigit(text[at])) ++at;
  return at - from;
}

bool skip(QStringView text, qsizetype& at, QChar c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

// Exactly `count` digits at `at`, as a number; `at` is moved past them.
std::optional<int> fixedDigits(QStringView text, qsizetype& at, int count) {
  if (at + count > text.size()) return std::nullopt;
  int number = 0;
  for (int i = 0; i < count; ++i, ++at) {
    if (!isDigit(text[at])) return std::nullopt;
    number = number * 10 + (text[at].unicode() - '0');
  }
  return number;
}

// -?[0-9]+ or, with `fraction`, -?[0-9]+(\.[0-9]+)?
bool isPlainNumber(QStringView text, bool fraction) {
  qsizetype at = 0;
  skip(text, at, QLatin1Char('-'));
  if (skipDigits(text, at) == 0) return false;
  if (fraction && skip(text, at, QLatin1Char('.')) && skipDigits(text, at) == 0) return false;
  return at == text.size();
}

// What to_chars writes: an optional sign, digits with an optional point,
// an optional exponent; or inf and nan.
bool isDoubleText(QStringView text) {
  qsizetype at = 0;
  skip(text, at, QLatin1Char('-'));
  const QStringView rest = text.mid(at);
  if (rest == QLatin1String("inf") || rest == QLatin1String("nan")) return true;
  const qsizetype whole = skipDigits(text, at);
  if (skip(text, at, QLatin1Char('.'))) {
    if (skipDigits(text, at) == 0 && whole == 0) return false;
  } else if (whole == 0) {
    return false;
  }
  if (skip(text, at, QLatin1Char('e')) || skip(text, at, QLatin1Char('E'))) {
    if (!skip(text, at, QLatin1Char('-'))) skip(text, at, QLatin1Char('+'));
    if (skipDigits(text, at) == 0) return false;
  }
  return at == text.size();
}

}  // namespace

namespace {

// The text as Latin-1 characters for from_chars, in `small` when it fits.
std::string_view latin1(QStringView text, std::array<char, 64>& small, QByteArray& large) {
  if (text.size() <= static_cast<qsizetype>(small.size())) {
    for (qsizetype i = 0; i < text.size(); ++i) small[static_cast<std::size_t>(i)] = static_cast<char>(text[i].unicode());
    return {small.data(), static_cast<std::size_t>(text.size())};
  }
  large = text.toLatin1();
  return {large.constData(), static_cast<std::size_t>(large.size())};
}

template <class Number>
std::optional<Number> readWhole(std::string_view chars) {
  Number number{};
  const auto result = std::from_chars(chars.data(), chars.data() + chars.size(), number);
  if (result.ec != std::errc() || result.ptr != chars.data() + chars.size()) return std::nullopt;
  return number;
}

}  // namespace

std::optional<std::int64_t> ParseInteger(QStringView text) {
  if (!isPlainNumber(text, false)) return std::nullopt;
  std::array<char, 64> small;
  QByteArray large;
  return readWhole<std::int64_t>(latin1(text, small, large));
}

std::optional<double> ParseDouble(QStringView text) {
  if (!isDoubleText(text)) return std::nullopt;
  std::array<char, 64> small;
  QByteArray large;
  return readWhole<double>(latin1(text, small, large));
}

std::optional<std::int64_t> StandardInteger(QStringView text) {
  const bool negative = !text.isEmpty() && text[0] == QLatin1Char('-');
  const QStringView digits = text.mid(negative ? 1 : 0);
  // No leading zero, and no sign before a zero.
  if (digits.isEmpty() || (digits[0] == QLatin1Char('0') && (digits.size() > 1 || negative))) return std::nullopt;
  return ParseInteger(text);
}

std::optional<double> StandardDouble(QStringView text) {
  const auto number = ParseDouble(text);
  if (!number) return std::nullopt;
  char standard[64];
  const auto written = std::to_chars(standard, standard + sizeof standard, *number);
  const auto length = written.ptr - standard;
  if (length != text.size()) return std::nullopt;
  for (qsizetype i = 0; i < length; ++i)
    if (text[i] != QLatin1Char(standard[i])) return std::nullopt;
  return number;
}

std::optional<pdx::Decimal> ParseDecimal(const QString& text) {
  if (!isPlainNumber(text, true)) return std::nullopt;
  return pdx::Decimal{text.toStdString()};
}

std::optional<pdx::Date> ParseDate(const QString& text) {
  // [-]yyyy-mm-dd, the year of four digits or more without a leading zero
  qsizetype at = 0;
  const bool negative = skip(text, at, QLatin1Char('-'));
  const qsizetype yearAt = at;
  const qsizetype yearDigits = skipDigits(text, at);
  if (yearDigits < 4 || yearDigits > MaxYearDigits || (yearDigits > 4 && text[yearAt] == QLatin1Char('0')))
    return std::nullopt;
  at = yearAt;
  auto year = fixedDigits(text, at, static_cast<int>(yearDigits));
  if (!year || (negative && *year == 0) || !skip(text, at, QLatin1Char('-'))) return std::nullopt;
  const auto month = fixedDigits(text, at, 2);
  if (!month || !skip(text, at, QLatin1Char('-'))) return std::nullopt;
  const auto day = fixedDigits(text, at, 2);
  if (!day || at != text.size()) return std::nullopt;
  const pdx::Date date{negative ? -*year : *year, *month, *day};
  if (!isRealDate(date.year, date.month, date.day)) return std::nullopt;
  return date;
}

std::optional<pdx::TimeOfDay> ParseTime(const QString& text) {
  // hh:mm:ss or hh:mm:ss.mmm
  qsizetype at = 0;
  const auto hours = fixedDigits(text, at, 2);
  if (!hours || !skip(text, at, QLatin1Char(':'))) return std::nullopt;
  const auto minutes = fixedDigits(text, at, 2);
  if (!minutes || !skip(text, at, QLatin1Char(':'))) return std::nullopt;
  const auto seconds = fixedDigits(text, at, 2);
  if (!seconds) return std::nullopt;
  std::optional<int> milliseconds;
  if (skip(text, at, QLatin1Char('.')) && !(milliseconds = fixedDigits(text, at, 3))) return std::nullopt;
  if (at != text.size()) return std::nullopt;
  if (*hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  // A time written with ".000" would not read back into the same text.
  if (milliseconds && *milliseconds == 0) return std::nullopt;
  return pdx::TimeOfDay{((*hours * 60 + *minutes) * 60 + *seconds) * 1000 + milliseconds.value_or(0)};
}

std::optional<pdx::Timestamp> ParseTimestamp(const QString& text) {
  const qsizetype space = text.indexOf(QLatin1Char(' '));
  if (space < 0) return std::nullopt;
  const auto date = ParseDate(text.left(space));
  const auto time = ParseTime(text.mid(space + 1));
  if (!date || !time) return std::nullopt;
  return pdx::Timestamp{*date, *time};
}

}  // namespace orl::ado
