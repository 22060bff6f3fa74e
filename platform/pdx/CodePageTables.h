#pragma once

// What each byte of a single-byte code page decodes to (internal to the
// engine). The tables follow the vendors' published mappings; a byte a page
// leaves undefined decodes to a character of its own (0x80-0x9F to the C1
// control of the same number, 0xA0-0xFF to U+F700 plus the byte), so that
// every byte comes back unchanged. scripts/make-code-page-tables writes them.

#include <array>

namespace orl::pdx::detail {

using ByteCharacters = std::array<char16_t, 256>;

// The table of a DOS or Windows code page of one byte a character (437,
// 737, 775, 850, 852, 855, 857, 860 to 866, 869, 874, 1250 to 1258); null
// for any other number.
const ByteCharacters* singleByteCodePage(int number);

}  // namespace orl::pdx::detail
