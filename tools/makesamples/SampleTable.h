#pragma once

// The sample tables' plain text form, and the Paradox tables made from it.
//
//   # A comment.
//   codepage = 1252
//   modified = 2021-08-31 09:00:00
//   field Cust No = Long
//   field First Name = Alpha 20
//   field Notes = Memo 40
//
//   record
//   Cust No = 1001
//   First Name = o'brien
//   Notes = First line.\nSecond line.
//
// A line "name = value" splits at the first " = "; values are taken as they
// stand, with "\n" for a line break and "\\" for a backslash. A field a
// record leaves out is blank. `modified` (UTC) is the header's time of the
// last change, fixed so that every build writes the same bytes.
//
// Types and their value forms: Alpha and Memo (text), Short and Long
// (whole numbers), Number and Money (decimal numbers), Date (YYYY-MM-DD),
// Time (HH:MM:SS), Timestamp (YYYY-MM-DD HH:MM:SS), Logical (True, False).

#include "platform/pdx/Writer.h"

#include <filesystem>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orl::samples {

// A mistake in a sample file, named by file and line.
class SampleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SampleTable {
  std::string name;  // the file stem: CUSTOMER.table describes CUSTOMER.db
  pdx::WriterSettings settings;
  std::vector<std::vector<pdx::Value>> records;
};

// Reads one sample file; `sourceName` names it in error messages.
SampleTable ParseSampleTable(std::istream& text, const std::string& sourceName, const std::string& tableName);
SampleTable ReadSampleFile(const std::filesystem::path& file);

// Every sample file (*.table) below `root`, in a fixed order, relative to it.
std::vector<std::filesystem::path> SampleFiles(const std::filesystem::path& root);

// Writes `table` as `folder`/NAME.db (and NAME.mb), replacing an earlier one.
void WriteSampleTable(const SampleTable& table, const std::filesystem::path& folder);

// Makes the Paradox table of every sample file below `sourceRoot` in the
// same sub-folder below `targetRoot`; returns the tables written.
std::vector<std::filesystem::path> MakeSamples(const std::filesystem::path& sourceRoot,
                                               const std::filesystem::path& targetRoot);

}  // namespace orl::samples
