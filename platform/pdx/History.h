#pragma once

// A table's way back. Every run or restore that replaces a table keeps what
// it replaced as an entry in a hidden folder beside the table:
//
//   <folder>/.orlintide-history/<TABLE.DB>/<sequence>/entry.txt
//                                                    /<the replaced files>
//
// (".orlintide-history-<uid>" beside it, or the user's own data folder,
// when another user made those or they are links: HistoryPlace.h.)
//
// The replaced files are moved there by the journaled swap (SafeReplace.h),
// copied only where a rename cannot move them; the files a run leaves untouched are only named in the
// entry with their size and SHA-256. So an entry records the whole family
// as it was before and as the change left it, and a restore finds each
// file it needs in that entry, in a later one, or in the folder itself.
//
//   TableHistory history(files, folder, "CUSTOMER.DB");
//   auto entries = history.entries();          // 1 = the latest change
//   history.restore(1, RestoreOptions{});     // throws OutsideChange when
//                                              // another program changed it

#include "platform/pdx/Error.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/HistoryPlace.h"
#include "platform/pdx/SafeReplace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx {

inline constexpr int DefaultHistoryEntries = 10;

// One file of a family, told apart by its content.
struct FileSum {
  std::string name;
  std::uint64_t size = 0;
  std::string sha256;
  bool operator==(const FileSum&) const = default;
};

// What a change did, as its entry shows it.
struct ChangeFacts {
  std::string kind = "run";  // "run" or "restore"
  std::string when;          // local time, "YYYY-MM-DD HH:MM:SS"; now when empty
  std::string field;
  std::string caseName;
  std::uint64_t rows = 0;
};

struct HistoryEntry {
  int number = 0;                 // 1 = the latest change
  std::string path;               // the entry's folder
  ChangeFacts facts;
  std::vector<FileSum> before;    // the family before the change
  std::vector<FileSum> after;     // the family the change left
  std::vector<std::string> kept;  // members of `before` held in the entry
};

// The current local date and time as entries record it.
std::string localTimeNow();

// The family's files in `folder` with their sizes and digests.
std::vector<FileSum> familySums(FileOps& files, const std::string& folder, const std::string& tableName);

// Keeps the members one commit replaces as a new entry of the table's history.
class HistoryKeeper final : public AsideKeeper {
 public:
  HistoryKeeper(FileOps& files, std::string folder, std::string tableName, ChangeFacts facts);
  std::string prepare(const SwapPlan& plan) override;
  void discard() noexcept override;

 private:
  FileOps& files_;
  std::string folder_;
  std::string tableName_;
  ChangeFacts facts_;
  std::string entryPath_;
};

// No folder can be had that only this user may write in (HistoryPlace.h).
class NoHistoryPlace : public Error {
 public:
  using Error::Error;
};

// The table was changed by another program since the change being undone.
class OutsideChange : public Error {
 public:
  using Error::Error;
};

struct RestoreOptions {
  bool evenIfChangedOutside = false;
  int keepEntries = DefaultHistoryEntries;  // after the restore; 0 keeps none, so it cannot be undone
  std::string when;                         // when the restore's own entry says it happened
};

class TableHistory {
 public:
  // `tableName` is the table's file name in `folder` ("CUSTOMER.DB").
  TableHistory(FileOps& files, std::string folder, std::string tableName);

  // The complete entries, the latest first. An entry whose files did not
  // all arrive (a change interrupted or undone) is left out.
  std::vector<HistoryEntry> entries() const;

  // The folder that holds the entries (empty when there are none).
  std::string place() const { return tableFolder(); }

  // History folders for this table that are not listed, since another
  // user made them, others may write in them or they are links.
  std::vector<std::string> untrustedPlaces() const;

  // False when the table's files are not what the changes since (and
  // including) entry `number` left: another program changed them.
  bool unchangedSince(int number) const;

  // Puts the table back as it was before entry `number`, through the
  // journaled swap; what it replaces becomes an entry itself. Throws
  // OutsideChange (changing nothing) when the table was changed by another
  // program since, unless the options allow it; Error when the entry does
  // not exist or a file it needs is missing. False when the table is
  // already as it was then.
  bool restore(int number, const RestoreOptions& options);

  // Removes all but the latest `keep` entries, and the incomplete ones.
  // Meant for the holder of the folder's replacement lock.
  void prune(int keep);

 private:
  std::string tableFolder() const;  // empty when the table has no history

  FileOps& files_;
  std::string folder_;
  std::string tableName_;
};

}  // namespace orl::pdx
