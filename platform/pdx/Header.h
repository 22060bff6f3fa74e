#pragma once

// Parsing a table file's header (internal to the engine).

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Table.h"

namespace orl::pdx::detail {

inline constexpr int DataBlockHeaderSize = 6;

// The bytes a field of this type takes in a record.
int storedWidth(const Field& field);

// Index files (.PX, .Xnn, .XGn) carry a table's header too: their fields
// are the fields they order the records by.
enum class HeaderOf { DataTable, AnyFile };

// Reads and checks the header; throws orl::pdx::Error on anything impossible.
TableHeader readHeader(const ByteSource& source, HeaderOf kind = HeaderOf::DataTable);

}  // namespace orl::pdx::detail
