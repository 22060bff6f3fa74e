// libFuzzer target for the table reader. An input is a table file and its
// memo file in one: a 4-byte little-endian length, that many bytes of
// table, and the rest as the memo file (none when empty).

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t declared = static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                                 (static_cast<std::uint32_t>(data[2]) << 16) |
                                 (static_cast<std::uint32_t>(data[3]) << 24);
  const std::size_t tableLength = declared % (size - 4 + 1);
  const std::uint8_t* table = data + 4;
  const std::uint8_t* blobs = table + tableLength;
  const std::size_t blobLength = size - 4 - tableLength;
  try {
    std::shared_ptr<const orl::pdx::ByteSource> blobSource;
    if (blobLength > 0) blobSource = orl::pdx::memorySource("fuzz.mb", std::vector<std::uint8_t>(blobs, blobs + blobLength));
    const auto opened = orl::pdx::Table::open(
        orl::pdx::memorySource("fuzz.db", std::vector<std::uint8_t>(table, table + tableLength)), blobSource);
    auto cursor = opened.cursor();
    std::vector<orl::pdx::Value> row;
    while (cursor.next(row)) {
    }
  } catch (const orl::pdx::Error&) {
    // A clear refusal is the expected outcome for most inputs.
  }
  return 0;
}
