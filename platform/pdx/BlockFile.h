#pragma once

// The blocks of a table or index file and the chain that links them
// (internal to the engine's index code). Free of Qt.

#include "platform/pdx/ByteSource.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx::detail {

// Every block begins with the next block's number, the previous block's
// number (0 at either end of the chain) and the offset of its last record
// (negative when it holds none).
struct BlockFile {
  std::string name;
  std::vector<std::uint8_t> header;  // the header's bytes
  int recordSize = 0;
  int blockSize = 0;
  std::vector<std::vector<std::uint8_t>> blocks;  // block n is blocks[n - 1]

  int blockCount() const { return static_cast<int>(blocks.size()); }
  const std::uint8_t* block(int number) const { return blocks[static_cast<std::size_t>(number - 1)].data(); }
  std::uint8_t* block(int number) { return blocks[static_cast<std::size_t>(number - 1)].data(); }
  int nextOf(int number) const;
  int previousOf(int number) const;
  // Records in the block; -1 when its last-record offset is impossible.
  int recordsIn(int number) const;
  const std::uint8_t* record(int number, int index) const;
  // The blocks from `first` on, following the next links. Throws
  // orl::pdx::Error naming the file when the chain leaves the file or loops.
  std::vector<int> chainFrom(int first) const;
  // Writes a block's links and record count.
  void setLinks(int number, int next, int previous, int records);
};

// Reads the whole file: header, then blocks of `blockSize` (a partial last
// block is refused).
BlockFile readBlockFile(const ByteSource& source, int headerSize, int blockSize, int recordSize);

// The 16-bit numbers an index entry keeps, stored as Short values are.
std::uint16_t shortValue(const std::uint8_t* bytes);
void putShortValue(std::uint8_t* bytes, int value);

}  // namespace orl::pdx::detail
