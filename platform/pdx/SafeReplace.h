#pragma once

// Replacing a table's whole family of files (.db .px .mb .Xnn .Ynn .XGn
// .YGn .val .tv, any letter case) so that no moment loses it.
//
//   FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
//   settings.tableName = "CUSTOMER.DB";  // the header's name, not the staged one
//   TableWriter writer(files, replacement.stagedPath("CUSTOMER.DB"), settings);
//   ... append, finish, read the staged table back and check it ...
//   replacement.commit();
//
// How it goes, and how leftovers are recognised and put right:
//
// 1. The new family is written under staged names in the same folder,
//    ".orlintide-new.<final name>", created exclusively and flushed.
// 2. commit() writes a journal ".orlintide-replace.<table>" listing the
//    old and the new members (through a ".tmp" name, flushed, then renamed,
//    so that it exists whole or not at all). From here the replacement
//    goes forward.
// 3. Each old member is renamed aside to ".orlintide-old.<name>", then each
//    staged member to its final name (renames never replace a file).
// 4. The journal is renamed ".orlintide-done.<table>"; the old members
//    aside are removed, or moved into the folder the journal names to keep
//    them in (a history entry, History.h), then that journal goes.
// A failure in step 3 moves everything back and removes the journal.
//
// Recovery (run by the constructor, so by every replacement, and by
// recover() for whoever opens the table first) reads what is left: no journal means the
// original is intact and staged files are removed; a replace journal means
// the new family was complete and checked, and step 3 is finished; a done
// journal means only step 4's removals are left. So a process killed at any
// moment leaves the original family or the complete new one.
//
// Others may write the folder too. So recovery acts only on what this
// program could have left for this table: journals and staged files owned
// by the user running it or by the table's owner, plain files with no other
// name, the new table file reading as a table; it checks all of them before
// it renames or removes anything, and otherwise changes nothing and names
// the files it left alone. Every operation goes through the folder opened
// once (FolderHandle) and follows no link, and the access of the old files
// (mode, owners, access control list, extended attributes) is copied onto
// the staged ones through their descriptors, so that nothing can be
// redirected between a check and a use.
//
// A replacement holds an exclusive lock on the folder (flock) from its
// construction to its end, and recovery from other processes takes the
// same lock, so that a program that only opens or lists the table never
// takes a running replacement's files for leftovers. On a file system
// without such locks, everything goes on unlocked; a commit whose swap
// another program's recovery finished meanwhile reports it done.

#include "platform/pdx/FileOps.h"

#include <memory>
#include <string>
#include <vector>

namespace orl::pdx {

// The names in `folder` that belong to the family of the table file
// `tableName` ("CUSTOMER.DB"): the same stem, in any letter case, with a
// family extension. In byte order.
std::vector<std::string> familyOf(FileOps& files, const std::string& folder, const std::string& tableName);

// What recover() found and did.
enum class Recovery {
  NothingLeft,     // no leftovers
  RolledBack,      // an unfinished replacement was undone; the original is intact
  RolledForward,   // an interrupted replacement was finished
  CleanedUp,       // the old family set aside was removed after a finished replacement
  InProgress,      // another replacement in the folder is running; its files are left to it
};

class FolderLock;

// The members a commit is about to swap, for whoever keeps the old ones.
struct SwapPlan {
  std::vector<std::string> oldMembers;   // names of the family's files that are replaced or removed
  std::vector<std::string> newMembers;   // names the staged members take
  std::vector<std::string> stagedPaths;  // where each new member is now, in the same order
};

// Keeps the old members a commit replaces instead of letting them be removed.
class AsideKeeper {
 public:
  virtual ~AsideKeeper() = default;
  // Before the journal is written: makes the folder the old members are to
  // be moved into and returns its path relative to the table's folder.
  virtual std::string prepare(const SwapPlan& plan) = 0;
  // The commit failed and the old family is back in place.
  virtual void discard() noexcept = 0;
};

class FamilyReplacement {
 public:
  // Waits a few seconds at most for another replacement in the folder to
  // end, then puts right whatever an interrupted replacement of this table
  // left. Throws when the other replacement goes on.
  FamilyReplacement(FileOps& files, std::string folder, std::string tableName);
  // Without a commit, the staged files are removed.
  ~FamilyReplacement();
  FamilyReplacement(const FamilyReplacement&) = delete;
  FamilyReplacement& operator=(const FamilyReplacement&) = delete;

  // Where the new family's member `finalName` is to be written.
  std::string stagedPath(const std::string& finalName) const;

  // Puts every staged member in place of the whole old family. On a
  // failure the old family is back in place and the error is thrown. After
  // the new family is in place, failures to remove the old one only leave
  // files that the next recover() removes (see leftovers()).
  void commit();
  // The same, for the old members named (file names of the family): those
  // are replaced by the staged members or removed; the others stay as they
  // are. The old table file must be among them. With a keeper, the old
  // members are moved into the folder it prepares instead of being removed.
  void commit(const std::vector<std::string>& replaced, AsideKeeper* keeper = nullptr);

  // Removes the staged files; the old family stays as it is. After a
  // commit that failed and could not be undone it leaves them to recover().
  void abandon();

  // Files that a finished commit could not remove.
  const std::vector<std::string>& leftovers() const { return leftovers_; }

  static Recovery recover(FileOps& files, const std::string& folder, const std::string& tableName);

  // Puts right the leftovers of every table in the folder, so that a table
  // whose replacement was interrupted between moving its old family aside
  // and moving the new one in is found again. Returns the table file names
  // it could not put right, with the reason.
  static std::vector<std::string> recoverFolder(FileOps& files, const std::string& folder);

  // Whether a name is one of the working files a replacement leaves while it runs.
  static bool isWorkingFile(const std::string& name);

 private:
  std::vector<std::string> stagedMembers() const;

  FileOps& files_;
  std::string folder_;
  std::string tableName_;
  bool committed_ = false;
  std::vector<std::string> leftovers_;
  std::unique_ptr<FolderLock> lock_;
};

}  // namespace orl::pdx
