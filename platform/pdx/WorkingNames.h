#pragma once

// Every folder and file this program makes for its own work beside a table
// (the history, and the staged, aside and journal files of a replacement)
// has a name beginning with ".orlintide-". Nothing so named is a table to
// list or change: the history keeps copies of tables that a run on them
// would corrupt, and a working file belongs to a replacement under way.

#include <string>

namespace orl::pdx {

inline constexpr const char* WorkingNamePrefix = ".orlintide-";

// Whether a bare file or folder name is one of this program's working names.
bool isWorkingName(const std::string& name);

// The part of `path` up to and including its first working folder, or empty
// when no folder on the path has a working name. The path is taken as
// written and, when it exists, also with its links resolved, so that a link
// into a history folder is found as well. The path's last part counts as a
// folder too: a folder given as the one to read may itself be a history.
std::string workingFolderOn(const std::string& path);

}  // namespace orl::pdx
