#pragma once

// The files that make up one table: the table itself and, beside it, its
// primary index, memo file, secondary indexes and validity checks.

#include <string>
#include <string_view>
#include <vector>

namespace orl::pdx {

// Whether two file names (UTF-8) are the same but for letter case: each
// character's simple upper-case mapping is compared, as the table list
// upper-cases names, so "Bücher.db" matches "BÜCHER.DB" and "Straße.db"
// matches "STRAßE.DB" but not "STRASSE.DB". Bytes that are not UTF-8 must
// agree exactly.
bool sameNameButCase(std::string_view a, std::string_view b);

// True when `fileName` belongs to the table whose file name (without its
// extension) is `stem`: .db .px .mb .val .tv .fam .Xnn .Ynn .XGn .YGn, matched
// without regard to letter case.
bool isFamilyMember(const std::string& stem, const std::string& fileName);

// The names of the family's files in the table's folder, in byte order.
// Throws orl::pdx::Error when the folder cannot be read.
std::vector<std::string> tableFamily(const std::string& tablePath);

}  // namespace orl::pdx
