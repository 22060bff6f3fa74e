#pragma once

// Parsing a table file's header (internal to the engine).

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Table.h"

namespace orl::pdx::detail {

inline constexpr int DataBlockHeaderSize = 6;

// The bytes a field of this type takes in a record.
int storedWidth(const Field& field);

// Reads and checks the header; throws orl::pdx::Error on anything impossible.
TableHeader readHeader(const ByteSource& source);

}  // namespace orl::pdx::detail
