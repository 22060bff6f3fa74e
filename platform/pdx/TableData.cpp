#include "platform/pdx/TableData.h"

#include "platform/pdx/Error.h"
#include "platform/pdx/Header.h"

#include <numeric>

namespace orl::pdx::detail {

using Bytes = std::vector<std::uint8_t>;

TableData loadTable(const std::string& path) {
  TableData data;
  const auto source = openFileSource(path);
  data.header = readHeader(*source);
  if (data.header.encrypted) throw Error(path + ": the table is password protected; its indexes are not rebuilt");
  data.file = readBlockFile(*source, data.header.headerSize, data.header.blockSize, data.header.recordSize);
  data.chain = data.file.chainFrom(data.header.firstBlock);
  std::size_t offset = 0;
  for (const Field& field : data.header.fields) {
    data.offsets.push_back(offset);
    offset += static_cast<std::size_t>(storedWidth(field));
  }
  for (int block : data.chain) {
    const int count = data.file.recordsIn(block);
    if (count < 0) throw Error(path + ": data block " + std::to_string(block) + " has an impossible record count");
    for (int i = 0; i < count; ++i) {
      const std::uint8_t* record = data.file.record(block, i);
      data.records.emplace_back(record, record + data.header.recordSize);
      data.blockOfRecord.push_back(block);
    }
  }
  if (data.records.size() != data.header.recordCount)
    throw Error(path + ": the header counts " + std::to_string(data.header.recordCount) + " records but the blocks hold " +
                std::to_string(data.records.size()));
  return data;
}

Bytes keyOf(const TableData& data, const Bytes& record, const std::vector<int>& fieldNumbers) {
  Bytes key;
  for (int number : fieldNumbers) {
    const auto index = static_cast<std::size_t>(number - 1);
    const auto begin = record.begin() + static_cast<std::ptrdiff_t>(data.offsets[index]);
    key.insert(key.end(), begin, begin + storedWidth(data.header.fields[index]));
  }
  return key;
}

std::vector<int> primaryKeyFields(const TableHeader& header) {
  std::vector<int> numbers(static_cast<std::size_t>(header.keyFieldCount));
  std::iota(numbers.begin(), numbers.end(), 1);
  return numbers;
}

OldFile readOld(const std::string& path) {
  const auto source = openFileSource(path);
  OldFile old{readIndexHeader(*source), {}};
  old.file = readBlockFile(*source, old.header.headerSize, old.header.blockSize, old.header.recordSize);
  return old;
}

}  // namespace orl::pdx::detail
