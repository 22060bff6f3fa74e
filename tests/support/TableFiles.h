#pragma once

#include "platform/ado/ParadoxValues.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"

#include <QString>

#include <vector>

namespace orl::test {

// Writes an unkeyed level-5 table with the given fields and rows.
inline void WriteTable(const QString& path, const std::vector<pdx::Field>& fields,
                       const std::vector<std::vector<pdx::Value>>& rows) {
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = fields;
  pdx::TableWriter writer(files, path.toStdString(), settings);
  for (const auto& row : rows) writer.append(row);
  writer.finish();
}

// A table as the data-access layer would read it: field names and rows.
struct TableContent {
  std::vector<pdx::Field> fields;
  std::vector<std::vector<ado::Value>> rows;
};

inline TableContent ReadTable(const QString& path) {
  const pdx::Table table = pdx::Table::open(path.toStdString());
  const pdx::CodePage codePage(table.header().textCodePage());
  TableContent content{table.fields(), {}};
  pdx::Cursor cursor = table.cursor();
  std::vector<pdx::Value> row;
  while (cursor.next(row)) {
    std::vector<ado::Value> values;
    for (std::size_t f = 0; f < row.size(); ++f)
      values.push_back(ado::FromParadox(row[f], table.fields()[f].type, codePage));
    content.rows.push_back(std::move(values));
  }
  return content;
}

// The value as a comparison across the export's change of field type sees
// it: bytes as hex, a blank as "(blank)", anything else in its text form.
inline QString Comparable(const ado::Value& value) {
  if (value.isNull() || (value.kind() == ado::Value::Kind::Text && value.asText().isEmpty()))
    return QStringLiteral("(blank)");
  if (value.kind() == ado::Value::Kind::Bytes) {
    const auto& bytes = value.asBytes();
    return QStringLiteral("bytes:") +
           QString::fromLatin1(
               QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())).toHex());
  }
  return value.toText();
}

}  // namespace orl::test
