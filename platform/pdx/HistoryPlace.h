#pragma once

// Where a user's history of a folder's tables may be kept: only in a
// folder that user owns, that nobody else may write in and that is no
// link, so that no other user can plant, rename away or redirect an entry.
//
// Looked for, and made, in this order:
//   <folder>/.orlintide-history          (unless another user made it)
//   <folder>/.orlintide-history-<uid>    (unless another user made it)
//   $XDG_DATA_HOME/orlintide/history/<folder id>   (~/.local/share when unset)

#include <string>
#include <vector>

namespace orl::pdx {

inline constexpr const char* HistoryFolderName = ".orlintide-history";

// Whether `path` is a folder (no link) this user owns and that neither its
// group nor others may write in.
bool trustedHistoryFolder(const std::string& path);

// The folders that may hold the history of the tables in `folder`, in the
// order above; the last is missing when there is no data folder to be had.
std::vector<std::string> historyRootsOf(const std::string& folder);

// Whether `path` (absolute, no "." or ".." step) lies below this user's own
// data folder for histories: a journal may keep old files there.
bool inPrivateHistory(const std::string& path);

}  // namespace orl::pdx
