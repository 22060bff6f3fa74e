#pragma once

// Rebuilding a table's index files from its records. Free of Qt.
//
// The write-back of a run that changed a field which a key or an index
// covers calls, with the staged table (the new values in place, the old
// header, blocks and slots):
//
//   auto which = orl::pdx::indexesInvolving(orl::pdx::describeIndexes(oldTable), changedFields);
//   orl::pdx::checkRebuildable(stagedTable, oldTable, which);     // before anything is written
//   orl::pdx::writeInKeyOrder(files, stagedTable, relaidTable);   // keyed tables, when the key changed
//   orl::pdx::rebuildIndexes(files, relaidTable, oldTable, outFolder, which);
//
// Comparison of values is KeyOrder's (SortOrder.h): keys without text
// fields are always rebuilt; text only in the sort orders
// sortOrderReproducible() accepts; any other makes these functions refuse,
// naming the sort order.
//
// A rebuilt file keeps the shape of the old one where the number of entries
// allows (the same blocks in the same chain order, each with as many
// entries as before, the same file size and header bytes), so that when the
// order of the entries did not change the new file is the old one byte for
// byte, apart from stale bytes after a block's last entry and in blocks the
// chain does not use, which are written as zeros. Otherwise blocks are
// filled in order. Every failure throws orl::pdx::Error naming the file.

#include "platform/pdx/Error.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/Indexes.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orl::pdx {

// Two records would get the same primary key (or the same entry of a
// unique index): the message names the fields and both values.
class DuplicateKeyError : public Error {
 public:
  using Error::Error;
};

// The index files (.PX and .Xnn/.XGn names; each tree follows its index)
// that must be rebuilt when the fields numbered `changedFields` change: an
// index on one of them, and every index when the primary key changes,
// since the records then move to other blocks.
std::vector<std::string> indexesInvolving(const IndexDescription& indexes, const std::vector<int>& changedFields);

// Throws when one of the named indexes cannot be rebuilt exactly: its sort
// order is not reproduced for its text fields (or the primary key's, which
// its entries hold), or it covers text and ignores case or its file leaves
// that unknown. Reads only headers.
void checkRebuildable(const std::string& tablePath, const std::vector<std::string>& indexFiles);

// The positions (0 = the first record in the chain of blocks) of the
// table's records in primary-key order. Throws DuplicateKeyError when two
// records have the same key.
std::vector<std::uint32_t> primaryKeyOrder(const std::string& tablePath);

// Writes the keyed table at `tablePath` again as `outPath` (created
// exclusively) with its records in primary-key order: the same header, the
// same blocks in the same chain order, each holding as many records as
// before. Throws DuplicateKeyError as primaryKeyOrder does.
void writeInKeyOrder(FileOps& files, const std::string& tablePath, const std::string& outPath);

// Writes the named index files (and the tree of each .Xnn/.XGn) for the
// table at `tablePath`, whose records must lie in key order, into
// `outFolder` under the names they have beside `oldTablePath`, shaped after
// those old files. Returns the paths written. Nothing is written when any
// of them cannot be rebuilt.
std::vector<std::string> rebuildIndexes(FileOps& files, const std::string& tablePath, const std::string& oldTablePath,
                                        const std::string& outFolder, const std::vector<std::string>& indexFiles);

// The same, each file written to the path `outPathOf` gives for its name
// (a replacement's staged name, say).
using IndexOutPath = std::function<std::string(const std::string& name)>;
std::vector<std::string> rebuildIndexes(FileOps& files, const std::string& tablePath, const std::string& oldTablePath,
                                        const IndexOutPath& outPathOf, const std::vector<std::string>& indexFiles);

}  // namespace orl::pdx
