#include "platform/pdx/Blobs.h"

#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"

#include <array>
#include <string>

namespace orl::pdx::detail {
namespace {

constexpr std::uint8_t HeaderBlockType = 0;
constexpr std::uint8_t SingleBlobBlockType = 2;
constexpr std::uint8_t SubAllocatedBlockType = 3;
constexpr std::uint32_t SingleBlobIndex = 0xFF;
constexpr std::uint64_t SingleBlobDataAt = 9;
constexpr std::uint64_t SlotTableAt = 12;
constexpr std::uint64_t SlotSize = 5;
constexpr std::uint32_t SlotCount = 64;
constexpr std::uint64_t ParagraphSize = 16;

}  // namespace

void checkBlobFile(const ByteSource& blobs) {
  std::array<std::uint8_t, 1> type{};
  if (blobs.size() < BlobBlockSize) throw Error(blobs.name() + ": is too short to be a Paradox memo file");
  blobs.read(0, type);
  if (type[0] != HeaderBlockType) throw Error(blobs.name() + ": is not a Paradox memo file (or its header is damaged)");
}

std::uint64_t locateBlob(const ByteSource& blobs, std::uint32_t pointer, std::uint32_t length) {
  const std::uint64_t blockAt = pointer & ~std::uint32_t{0xFF};
  const std::uint32_t index = pointer & 0xFF;
  auto damaged = [&](const std::string& what) {
    return Error(blobs.name() + ": the memo block at byte " + std::to_string(blockAt) + " " + what);
  };
  if (blockAt == 0) throw damaged("is the memo file's header, not a value");
  if (blockAt + BlobBlockSize > blobs.size()) throw damaged("lies past the end of the file (it is truncated)");

  std::array<std::uint8_t, SlotTableAt> head{};
  blobs.read(blockAt, head);
  if (index == SingleBlobIndex) {
    if (head[0] != SingleBlobBlockType) throw damaged("should hold a single value but has type " + std::to_string(head[0]));
    const std::uint64_t extent = little16(head.data() + 1) * BlobBlockSize;
    const std::uint32_t stored = little32(head.data() + 3);
    if (stored != length) {
      throw damaged("holds " + std::to_string(stored) + " bytes but the table expects " + std::to_string(length));
    }
    if (SingleBlobDataAt + length > extent || blockAt + extent > blobs.size()) {
      throw damaged("is damaged or truncated (its value runs past its end)");
    }
    return blockAt + SingleBlobDataAt;
  }
  if (head[0] != SubAllocatedBlockType) throw damaged("should hold several values but has type " + std::to_string(head[0]));
  if (index >= SlotCount) throw damaged("has no slot " + std::to_string(index));
  std::array<std::uint8_t, SlotSize> slot{};
  blobs.read(blockAt + SlotTableAt + index * SlotSize, slot);
  const std::uint64_t start = slot[0] * ParagraphSize;
  const std::uint64_t paragraphs = slot[1];
  if (paragraphs == 0) throw damaged("has nothing in slot " + std::to_string(index));
  if (length > paragraphs * ParagraphSize || length <= (paragraphs - 1) * ParagraphSize) {
    throw damaged("holds " + std::to_string(paragraphs) + " paragraphs in slot " + std::to_string(index) +
                  " but the table expects " + std::to_string(length) + " bytes");
  }
  if (start < SlotTableAt + SlotCount * SlotSize || start + length > BlobBlockSize) {
    throw damaged("has a slot that points outside the block");
  }
  return blockAt + start;
}

Bytes readBlob(const ByteSource& blobs, std::uint32_t pointer, std::uint32_t length) {
  Bytes value(length);
  blobs.read(locateBlob(blobs, pointer, length), value);
  return value;
}

}  // namespace orl::pdx::detail
