#include "tools/pdxtool/Dump.h"

#include "platform/pdx/Family.h"
#include "platform/pdx/Table.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <type_traits>

namespace orl::pdxtool {

using namespace orl::pdx;

void writeString(std::ostream& out, const std::string& text) {
  out << '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '"': out << "\\\""; break;
      case '\\': out << "\\\\"; break;
      case '\n': out << "\\n"; break;
      case '\r': out << "\\r"; break;
      case '\t': out << "\\t"; break;
      case '\b': out << "\\b"; break;
      case '\f': out << "\\f"; break;
      default:
        if (byte < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
          out << escaped;
        } else {
          out << c;
        }
    }
  }
  out << '"';
}

// Astronomical years, as the data-access layer writes them: "0000-12-31" is
// the day before 0001-01-01, "-0001-12-31" a year earlier.
std::string dateText(const Date& date) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%s%04lld-%02d-%02d", date.year < 0 ? "-" : "",
                std::llabs(static_cast<long long>(date.year)), date.month, date.day);
  return buffer;
}

std::string timeText(const TimeOfDay& time) {
  const int ms = time.milliseconds;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d.%03d", ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60,
                ms % 1000);
  return buffer;
}

namespace {

void writeDouble(std::ostream& out, double value) {
  if (!std::isfinite(value)) {
    writeString(out, std::isnan(value) ? "NaN" : (value > 0 ? "Infinity" : "-Infinity"));
    return;
  }
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  const std::string text(buffer, result.ptr);
  out << text;
  if (text.find_first_of(".e") == std::string::npos) out << ".0";
}

void writeValue(std::ostream& out, const Value& value) {
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          out << "null";
        } else if constexpr (std::is_same_v<T, std::string>) {
          writeString(out, v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          out << v;
        } else if constexpr (std::is_same_v<T, double>) {
          writeDouble(out, v);
        } else if constexpr (std::is_same_v<T, bool>) {
          out << (v ? "true" : "false");
        } else if constexpr (std::is_same_v<T, Decimal>) {
          out << v.text;
        } else if constexpr (std::is_same_v<T, Date>) {
          writeString(out, dateText(v));
        } else if constexpr (std::is_same_v<T, TimeOfDay>) {
          writeString(out, timeText(v));
        } else if constexpr (std::is_same_v<T, Timestamp>) {
          writeString(out, dateText(v.date) + " " + timeText(v.time));
        } else {
          static_assert(std::is_same_v<T, Bytes>);
          const QByteArray digest = QCryptographicHash::hash(
              QByteArray::fromRawData(reinterpret_cast<const char*>(v.data()), static_cast<qsizetype>(v.size())),
              QCryptographicHash::Sha256);
          out << "{\"len\":" << v.size() << ",\"sha256\":\"" << digest.toHex().toStdString() << "\"}";
        }
      },
      value);
}

// Fields whose stored values do not determine what they say: formatted
// memos, and text in a table that names no code page.
bool valueUndetermined(const TableHeader& header, const Field& field) {
  if (field.type == FieldType::FormattedMemo) return true;
  const bool text = field.type == FieldType::Alpha || field.type == FieldType::Memo;
  return text && header.codePage == 0;
}

}  // namespace

void writeDump(const std::string& path, std::ostream& out) {
  const Table table = Table::open(path);
  const TableHeader& header = table.header();
  out << "{\"file\":";
  writeString(out, path);
  out << ",\"family\":[";
  const auto family = tableFamily(path);
  for (std::size_t i = 0; i < family.size(); ++i) {
    if (i > 0) out << ',';
    writeString(out, family[i]);
  }
  out << "],\"level\":";
  writeString(out, header.level);
  out << ",\"versionID\":" << header.versionId << ",\"fileType\":" << header.fileType
      << ",\"keyed\":" << (header.keyed() ? "true" : "false") << ",\"codepage\":";
  if (header.codePage) {
    out << *header.codePage;
  } else {
    out << "null";
  }
  out << ",\"encrypted\":" << (header.encrypted ? "true" : "false") << ",\"records\":" << header.recordCount
      << ",\"fields\":[";
  for (std::size_t i = 0; i < table.fields().size(); ++i) {
    const Field& field = table.fields()[i];
    if (i > 0) out << ',';
    out << "{\"type\":";
    writeString(out, std::string(1, static_cast<char>(field.type)));
    out << ",\"size\":" << field.size << ",\"name\":";
    writeString(out, field.name);
    out << '}';
  }
  out << "],\"unchecked\":[";
  bool first = true;
  for (const Field& field : table.fields()) {
    if (!valueUndetermined(header, field)) continue;
    if (!first) out << ',';
    first = false;
    writeString(out, field.name);
  }
  out << "],\"rows\":[";
  auto cursor = table.cursor();
  std::vector<Value> row;
  first = true;
  while (cursor.next(row)) {
    if (!first) out << ',';
    first = false;
    out << '[';
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out << ',';
      writeValue(out, row[i]);
    }
    out << ']';
  }
  out << "]}\n";
}

}  // namespace orl::pdxtool
