#pragma once

// A table whose records all point to one memo value: the engine's writer
// gives each record its own, so the records are patched afterwards. Grown to
// a declared length, the value lies in a hole of a sparse memo file, as in a
// table made to cost its reader far more than its files take on disk.

#include "platform/pdx/Table.h"
#include "tests/support/TableFiles.h"
#include "tests/support/UnusualTables.h"

#include <QString>

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orl::test {

inline std::vector<std::uint8_t> littleEndian(std::uint64_t value, int bytes) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return out;
}

// Writes T.db (Name A10, Note M11) with `rows` records whose notes all point
// to the first record's 3,000 letters; with `declaredLength` set, that value
// is made that long, the memo file growing sparse to hold it.
inline void WriteSharedMemoTable(const QString& path, int rows, std::uint32_t declaredLength = 0) {
  const std::string note(3000, 'n');
  std::vector<std::vector<pdx::Value>> values;
  for (int r = 0; r < rows; ++r) values.push_back({std::string("row ") + std::to_string(r), note});
  WriteTable(path, {{"Name", pdx::FieldType::Alpha, 10}, {"Note", pdx::FieldType::Memo, 11}}, values);

  const std::string table = path.toStdString();
  const pdx::TableHeader header = pdx::Table::inspect(table);
  const auto recordAt = [&](int r) {
    const int perBlock = (header.blockSize - 6) / header.recordSize;
    return static_cast<std::uint64_t>(header.headerSize) +
           static_cast<std::uint64_t>(r / perBlock) * static_cast<std::uint64_t>(header.blockSize) + 6 +
           static_cast<std::uint64_t>(r % perBlock * header.recordSize);
  };
  // The note's pointer and length follow the one byte of it kept in the record.
  constexpr std::uint64_t PointerAt = 10 + 1;
  std::vector<std::uint8_t> first(10);
  {
    const pdx::Table opened = pdx::Table::open(table);
    pdx::Cursor cursor = opened.cursor();
    ASSERT_TRUE(cursor.nextStored());
    const auto bytes = cursor.fieldBytes(1);
    first.assign(bytes.end() - 10, bytes.end());
  }
  if (declaredLength != 0) {
    const std::uint64_t blockAt = first[1] * 0x100u + first[2] * 0x10000u + first[3] * 0x1000000u;
    const std::uint64_t units = (9 + declaredLength + 4095) / 4096;
    const std::string memo = table.substr(0, table.size() - 2) + "mb";
    unusual::patch(memo, blockAt + 1, littleEndian(units, 2));
    unusual::patch(memo, blockAt + 3, littleEndian(declaredLength, 4));
    const auto end = static_cast<off_t>(blockAt + units * 4096);
    ASSERT_EQ(::truncate(memo.c_str(), end), 0);
    const auto length = littleEndian(declaredLength, 4);
    std::copy(length.begin(), length.end(), first.begin() + 4);
  }
  for (int r = 0; r < rows; ++r) unusual::patch(table, recordAt(r) + PointerAt, first);
}

}  // namespace orl::test
