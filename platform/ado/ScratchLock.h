#pragma once

#include <QString>

#include <chrono>

namespace orl::ado {

// One run's hold on the scratch database, from staging to write-back. Scratch
// tables are named after the Paradox table, so two runs on one program
// folder (in two windows, or the window and a command) would stage into, and
// drop, each other's tables: the second run is refused instead.
//
// Every table in the scratch database belongs to the run that holds this
// lock, so taking it clears what a killed or failed run left behind, and
// giving it up clears the run's own tables: no table's rows outlive its run,
// and the file gives their room back to the disk.
//
// The lock is an flock on "dbTemp.mdb-lock" beside the database, never on the
// database itself, whose locks SQLite keeps.
class ScratchLock {
 public:
  static constexpr std::chrono::milliseconds DefaultPatience{3000};

  // `databaseFile` is the scratch database's path. Waits up to `patience`
  // for a run that holds the lock; raises orl::Error saying another run is
  // using the scratch database when it is still held then.
  explicit ScratchLock(const QString& databaseFile, std::chrono::milliseconds patience = DefaultPatience);
  ~ScratchLock();
  ScratchLock(const ScratchLock&) = delete;
  ScratchLock& operator=(const ScratchLock&) = delete;

 private:
  QString databaseFile_;
  int descriptor_ = -1;
};

// Drops every table of the scratch database and gives the room they took back:
// the file is compacted and its write-ahead log emptied. Raises orl::Error.
void ClearScratchDatabase(const QString& databaseFile);

// Makes the scratch database and whichever of its journal files exist
// (-wal, -shm, -journal) readable and writable by their owner alone; SQLite
// gives the journals it creates the database's own mode. Raises orl::Error
// when a file that others may read cannot be made private.
void MakeScratchFilesPrivate(const QString& databaseFile);

}  // namespace orl::ado
