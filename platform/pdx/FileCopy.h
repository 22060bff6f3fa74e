#pragma once

// A whole, flushed copy of a file, for where a rename cannot move it
// (another file system) and for putting back a file a history entry holds.

#include "platform/pdx/FileOps.h"

#include <string>

namespace orl::pdx {

// Writes all of the file `from` into `out`, then flushes and closes it.
void copyInto(const std::string& from, OutputFile& out);

// Copies `from` to the new file `to` (created exclusively, so only its
// owner may read it) and flushes it. On a failure the partial copy is
// removed where possible and the error thrown.
void copyWholeFile(FileOps& files, const std::string& from, const std::string& to);

}  // namespace orl::pdx
