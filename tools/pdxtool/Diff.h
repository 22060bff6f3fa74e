#pragma once

// Every difference between two tables, one line each, the first table's side
// before " | " and the second's after it:
//
//   header, record count: 24 | 25
//   header bytes 0x06: 18 | 19
//   field 3: "City" A 20 | "City" A 30
//   record 5, "City": "paris" | "PARIS"
//   record 7, "Amount": same value 0.00, stored from byte 0: 02 00 00 … | 82 00 00 …
//   record 25: only in the second table
//   family file .PX: CUSTOMER.PX | (none)
//   family file .MB: 3 bytes differ, the first at 0x1234
//   table file: 1 byte differs outside the header and the records compared, the first at 0x0C06
//
// Records are compared in stored order, their values field by field name;
// a value that reads the same but is stored in other bytes is a difference
// too, and so is any byte of the table file that no line above accounts
// for. Nothing is written when the tables and their families are identical
// byte for byte.

#include <cstddef>
#include <ostream>
#include <string>

namespace orl::pdxtool {

// Writes the differences between the tables at `first` and `second` and
// returns how many lines it wrote. Throws orl::pdx::Error when either table
// cannot be read.
std::size_t writeDiff(const std::string& first, const std::string& second, std::ostream& out);

}  // namespace orl::pdxtool
