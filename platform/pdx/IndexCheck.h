#pragma once

// Checking a table's blocks and its index files against its records, as
// Paradox relies on them. Free of Qt.

#include <string>
#include <vector>

namespace orl::pdx {

// Every fault found, one sentence each naming the file; empty when the
// table is sound. Checked: the chain of blocks of the table and of each
// .Xnn/.XGn linked both ways (next and previous), every block in it once,
// the first and last blocks and the counts the header keeps; that every
// entry of the .PX and of each .Ynn/.YGn leads to the right block with the
// right count and key, and every .Xnn/.XGn entry to the block that holds
// its record; and that keys are in order, where the table's sort order is
// one sortOrderReproducible() accepts or the key holds no text. Throws
// orl::pdx::Error only when the table itself cannot be read at all.
std::vector<std::string> checkTable(const std::string& tablePath);

}  // namespace orl::pdx
