#include "platform/pdx/BlockFile.h"

#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/IndexFormat.h"

namespace orl::pdx::detail {

using indexformat::BlockHeaderSize;

int BlockFile::nextOf(int number) const { return little16(block(number)); }

int BlockFile::previousOf(int number) const { return little16(block(number) + 2); }

int BlockFile::recordsIn(int number) const {
  const auto lastAt = static_cast<std::int16_t>(little16(block(number) + 4));
  if (lastAt < 0) return 0;
  if (lastAt % recordSize != 0 || lastAt + recordSize > blockSize - static_cast<int>(BlockHeaderSize)) return -1;
  return lastAt / recordSize + 1;
}

const std::uint8_t* BlockFile::record(int number, int index) const {
  return block(number) + BlockHeaderSize + static_cast<std::size_t>(index) * static_cast<std::size_t>(recordSize);
}

std::vector<int> BlockFile::chainFrom(int first) const {
  std::vector<int> chain;
  std::vector<bool> seen(blocks.size() + 1, false);
  for (int number = first; number != 0; number = nextOf(number)) {
    if (number < 0 || number > blockCount())
      throw Error(name + ": block " + std::to_string(number) + " lies past the end of the file");
    if (seen[static_cast<std::size_t>(number)])
      throw Error(name + ": the chain of blocks loops back to block " + std::to_string(number));
    seen[static_cast<std::size_t>(number)] = true;
    chain.push_back(number);
  }
  return chain;
}

void BlockFile::setLinks(int number, int next, int previous, int records) {
  std::uint8_t* head = block(number);
  const int lastAt = (records - 1) * recordSize;  // -recordSize marks an empty block
  const auto put = [](std::uint8_t* at, int value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
  };
  put(head, next);
  put(head + 2, previous);
  put(head + 4, lastAt);
}

BlockFile readBlockFile(const ByteSource& source, int headerSize, int blockSize, int recordSize) {
  BlockFile file;
  file.name = source.name();
  file.recordSize = recordSize;
  file.blockSize = blockSize;
  file.header.resize(static_cast<std::size_t>(headerSize));
  source.read(0, file.header);
  const std::uint64_t body = source.size() - static_cast<std::uint64_t>(headerSize);
  if (body % static_cast<std::uint64_t>(blockSize) != 0)
    throw Error(source.name() + ": the file ends inside a block (it is truncated or damaged)");
  const std::uint64_t count = body / static_cast<std::uint64_t>(blockSize);
  for (std::uint64_t i = 0; i < count; ++i) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(blockSize));
    source.read(static_cast<std::uint64_t>(headerSize) + i * static_cast<std::uint64_t>(blockSize), block);
    file.blocks.push_back(std::move(block));
  }
  return file;
}

std::uint16_t shortValue(const std::uint8_t* bytes) { return static_cast<std::uint16_t>(big16(bytes) ^ 0x8000); }

void putShortValue(std::uint8_t* bytes, int value) {
  const auto stored = static_cast<std::uint16_t>(value ^ 0x8000);
  bytes[0] = static_cast<std::uint8_t>(stored >> 8);
  bytes[1] = static_cast<std::uint8_t>(stored & 0xFF);
}

}  // namespace orl::pdx::detail
