#pragma once

// The JSON form of a table: header facts, fields and every record, one
// line, with keys in a fixed order (the form the reference data uses).

#include "platform/pdx/Value.h"

#include <ostream>
#include <string>

namespace orl::pdxtool {

// Writes the dump of the table at `path`; "file" is `path` as given.
// Throws orl::pdx::Error when the table cannot be read.
void writeDump(const std::string& path, std::ostream& out);

// The pieces the dump writes values with, for the other commands.
void writeString(std::ostream& out, const std::string& text);  // as a JSON string
std::string dateText(const pdx::Date& date);                   // YYYY-MM-DD, astronomical years
std::string timeText(const pdx::TimeOfDay& time);              // HH:MM:SS.mmm

}  // namespace orl::pdxtool
