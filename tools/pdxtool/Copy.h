#pragma once

#include "platform/pdx/FileOps.h"

#include <cstdint>
#include <string>

namespace orl::pdxtool {

// Copies the table `in` (any level, with its memo file) to a new unkeyed
// level-5 table `out`: the same fields, values, code page, sort order and
// autoincrement counter, the rows in their stored order. Returns the number
// of rows. Throws orl::pdx::Error; an unfinished copy is removed.
std::uint32_t copyTable(pdx::FileOps& files, const std::string& in, const std::string& out,
                        std::uint32_t modifiedTime);

}  // namespace orl::pdxtool
