#pragma once

// Reading the header of an index file (.PX, .Xnn, .Ynn, .XGn, .YGn). Free of Qt.

#include "platform/pdx/ByteSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx {

// One field of an index file's records, as its header gives it. Trees
// (.PX, .Ynn, .YGn) name no fields: there `name` is empty and `number` 0.
struct IndexFileField {
  std::uint8_t typeCode = 0;  // the header's type byte
  int size = 0;
  std::string name;  // in the table's code page, as stored
  int number = 0;    // the header's field number for it
};

struct IndexFileHeader {
  int fileType = 0;
  int versionId = 0;
  int recordSize = 0;
  int headerSize = 0;
  int blockSize = 0;  // bytes
  std::uint32_t recordCount = 0;
  int nextFreeBlock = 0;
  int fileBlocks = 0;
  int firstBlock = 0;
  int lastBlock = 0;
  int rootBlock = 0;   // trees only
  int levelCount = 0;  // trees only
  int keyFieldCount = 0;
  int sortOrder = 0;
  std::vector<IndexFileField> fields;
  std::string sortOrderName;  // .Xnn/.XGn only
  std::string indexName;      // .XGn only: the name the index was given

  // A B-tree over another file's blocks, rather than a sorted table.
  bool isTree() const;
};

// Reads and checks the header; throws orl::pdx::Error naming the file when
// it is no index file or is damaged.
IndexFileHeader readIndexHeader(const ByteSource& source);

}  // namespace orl::pdx
