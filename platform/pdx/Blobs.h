#pragma once

// Reading values from a table's memo file (internal to the engine).

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Value.h"

#include <cstdint>

namespace orl::pdx::detail {

inline constexpr std::uint64_t BlobBlockSize = 4096;

// Throws orl::pdx::Error unless the source starts like a memo file.
void checkBlobFile(const ByteSource& blobs);

// Where in the memo file the `length` bytes the record's pointer refers to
// begin, checked against the block that holds them. Throws orl::pdx::Error
// naming the memo file.
std::uint64_t locateBlob(const ByteSource& blobs, std::uint32_t pointer, std::uint32_t length);

// The `length` bytes the record's pointer refers to, checked against the
// block that holds them. Throws orl::pdx::Error naming the memo file.
Bytes readBlob(const ByteSource& blobs, std::uint32_t pointer, std::uint32_t length);

}  // namespace orl::pdx::detail
