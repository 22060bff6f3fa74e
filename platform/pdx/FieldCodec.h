#pragma once

// Putting values into a record's field bytes, shared by the table writer and
// the rewriting of a table in its own structure (internal to the engine).

#include "platform/pdx/CodePage.h"
#include "platform/pdx/Value.h"

#include <cstdint>
#include <string>

namespace orl::pdx::detail {

inline constexpr std::size_t BlobPointerSize = 10;  // memo-file pointer, length and modification number
inline constexpr std::uint32_t GraphicHeaderSize = 8;  // in front of a graphic's image in the memo file

bool isBlobType(FieldType type);

// A value as a message shows it: text quoted and cut, numbers in full.
std::string describe(const Value& value);

// Writes a value of a field type that a record holds whole (every type but
// the memo and blob types) into `out`, which holds zeroes. Returns why the
// value cannot be written unchanged, or an empty string when it was written.
std::string encodeInRecord(const Field& field, const Value& value, const CodePage& codePage, std::uint8_t* out);

void putLe16(std::uint8_t* at, std::uint32_t value);
void putLe32(std::uint8_t* at, std::uint32_t value);

}  // namespace orl::pdx::detail
