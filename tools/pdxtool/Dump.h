#pragma once

// The JSON form of a table: header facts, fields and every record, one
// line, with keys in a fixed order (the form the reference data uses).

#include <ostream>
#include <string>

namespace orl::pdxtool {

// Writes the dump of the table at `path`; "file" is `path` as given.
// Throws orl::pdx::Error when the table cannot be read.
void writeDump(const std::string& path, std::ostream& out);

}  // namespace orl::pdxtool
