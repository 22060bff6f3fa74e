#pragma once

// A table's records and an index file's blocks as the index code reads them
// (internal to the engine). Free of Qt.

#include "platform/pdx/BlockFile.h"
#include "platform/pdx/IndexFile.h"
#include "platform/pdx/Table.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx::detail {

// A table's records in the order of its chain of blocks.
struct TableData {
  TableHeader header;
  BlockFile file;
  std::vector<int> chain;
  std::vector<std::size_t> offsets;  // of each field in a record
  std::vector<int> blockOfRecord;    // the data block of each record
  std::vector<std::vector<std::uint8_t>> records;
};

// Throws orl::pdx::Error naming the file when it is damaged or protected.
TableData loadTable(const std::string& path);

// The stored bytes of the fields, one after the other: their order as bytes
// is the order of the values wherever the sort order allows rebuilding.
std::vector<std::uint8_t> keyOf(const TableData& data, const std::vector<std::uint8_t>& record,
                                const std::vector<int>& fieldNumbers);

std::vector<int> primaryKeyFields(const TableHeader& header);

struct OldFile {
  IndexFileHeader header;
  BlockFile file;
};

OldFile readOld(const std::string& path);

}  // namespace orl::pdx::detail
