#pragma once

// A synthetic table for tests and benchmarks: the same seed always gives
// the same table.
//
// Fields: "Id" (autoincrement 1..rows), "Name" (alpha 40: exactly
// min(rows, distinct) different mixed-case values, some with an apostrophe
// or a letter of code page 1252 beyond ASCII; never blank), "Notes" (memo
// with 30 bytes in the record: blank, short, or longer than the record
// holds), "Quantity" (long), "Amount" (number), "Day" (date) and "Active"
// (logical), each of the last four blank in about one row in ten.

#include "platform/pdx/FileOps.h"
#include "platform/pdx/Value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx {

struct GenerateSettings {
  std::uint32_t rows = 0;
  std::uint32_t distinct = 1;  // at least 1
  std::uint64_t seed = 0;
  std::uint32_t modifiedTime = 0;  // the header's time of the last change
};

std::vector<Field> generatedFields();

// Row `row` (from 0) of the table the settings describe.
std::vector<Value> generatedRow(const GenerateSettings& settings, std::uint32_t row);

// Writes the table (code page 1252, sort order "ascii") and its memo file.
void generateTable(FileOps& files, const std::string& path, const GenerateSettings& settings);

}  // namespace orl::pdx
