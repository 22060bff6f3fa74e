#pragma once

// Holding a table against other programs for the whole length of a change,
// and seeing whether a program that ignores locks changed it all the same.
//
//   TableLock lock("/data/CUSTOMER.DB");  // refuses a table in use
//   ... stage, change, write the new table under staged names ...
//   lock.requireUnchanged();              // just before the swap
//   ... swap ...
//   // the destructor lets the table go
//
// What is taken, and why no more:
// - Paradox programs of the 4.0 protocol and later keep their table locks
//   as records in the folder's PDOXUSRS.LCK, which point into a network
//   control file (PDOXUSRS.NET) shared by the programs of one network.
//   Those records are written against a file we do not have and in a layout
//   no public note fixes; a record guessed wrong would mislead or stop every
//   Paradox program on the folder. So those files are never written.
// - A lock file of the table's own, T.LCK (any letter case), means another
//   program has the table: it is refused, and never touched.
// - Where there is none, T.LCK is made: written with a line of text saying
//   that this program holds the table and flocked while it has no name,
//   then linked in only where no T.LCK stands (on a file system without
//   unnamed files, created exclusively, then written); it is removed
//   at the end, but only while it is still the file as written here: a
//   program that looks for it stays out, and one that wrote into it keeps
//   what it wrote. A lock file of ours that no process flocks any more was
//   left by a run that was killed, and is taken over.
// - An exclusive advisory lock of both kinds on T.db, an open file
//   description record lock (fcntl) and an flock, so that a program using
//   either finds the table locked; both last until the lock is let go
//   whatever else this process opens and closes.
//
// A table whose files are symbolic links is refused: changing the files a
// link leads to would need the journal, the locks, the history and the
// access checks at the target's folder, and replacing the links would leave
// the target as it was. A family file that is not a regular file is refused
// without being opened.

#include "platform/pdx/Error.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orl::pdx {

class TableLock {
 public:
  // Takes the lock on the table file `tablePath` (T.db) and notes every
  // family file as it is now. Throws Error naming the table and the reason
  // when another program holds it, when a family file is a link or not a
  // regular file, or when the lock cannot be taken.
  explicit TableLock(const std::string& tablePath);
  ~TableLock();
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

  // Throws Error, naming the file and what happened to it, when a family
  // file differs from what it was when the lock was taken: another file
  // renamed into its place, its size, its times or its content changed, a
  // file gone or a new one come.
  void requireUnchanged() const;

  // Whether `path` is a table file or lock file that a TableLock of this
  // process holds now: a check for other programs' locks leaves it out.
  static bool heldHere(const std::string& path);

  // The lock file this lock created, or empty.
  const std::string& lockFile() const { return lockFile_; }

 private:
  struct Member {
    std::string name;
    dev_t device = 0;
    ino_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds
    std::int64_t changed = 0;   // status change, nanoseconds: no program can set it back
    std::string digest;
  };
  Error refusal(const std::string& why) const;
  Error inUse(const std::string& sign) const;
  void refuseUnusableFamily() const;
  void lockTableFile();
  // Removes a lock file that a killed run of this program left; false for
  // any other lock file.
  static bool removeLeftLockFile(const std::string& path);
  void makeLockFile(const std::string& lockName);
  std::vector<Member> currentMembers() const;
  void release() noexcept;

  std::string folder_;
  std::string tableFile_;
  std::string table_;  // the name without its extension, as messages show it
  int descriptor_ = -1;  // T.db, holding both advisory locks
  dev_t tableDevice_ = 0;
  ino_t tableInode_ = 0;
  std::string lockFile_;
  std::string lockContent_;
  int lockDescriptor_ = -1;  // T.lck, flocked while the lock is held
  dev_t lockDevice_ = 0;
  ino_t lockInode_ = 0;
  std::vector<Member> members_;
};

}  // namespace orl::pdx
