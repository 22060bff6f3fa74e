#include "platform/ado/ScratchLock.h"

#include "platform/ado/ScratchDatabase.h"
#include "platform/common/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

namespace orl::ado {

namespace {

QString systemMessage(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using Database = std::unique_ptr<sqlite3, CloseDatabase>;

Error clearingFailed(const QString& file, sqlite3* db) {
  return Error::provider(QStringLiteral("The scratch database '%1' could not be emptied of earlier runs' tables: %2")
                             .arg(file, db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory")));
}

void runStatements(sqlite3* db, const QString& file, const QByteArray& sql) {
  if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) throw clearingFailed(file, db);
}

QStringList tablesOf(sqlite3* db, const QString& file) {
  static const char* const Query =
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'";
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, Query, -1, &statement, nullptr) != SQLITE_OK) throw clearingFailed(file, db);
  QStringList tables;
  int result;
  while ((result = sqlite3_step(statement)) == SQLITE_ROW)
    tables << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
  sqlite3_finalize(statement);
  if (result != SQLITE_DONE) throw clearingFailed(file, db);
  return tables;
}

bool hasFreePages(sqlite3* db, const QString& file) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA freelist_count", -1, &statement, nullptr) != SQLITE_OK)
    throw clearingFailed(file, db);
  const bool free = sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_int64(statement, 0) > 0;
  sqlite3_finalize(statement);
  return free;
}

}  // namespace

ScratchLock::ScratchLock(const QString& databaseFile, std::chrono::milliseconds patience)
    : databaseFile_(databaseFile) {
  const QFileInfo info(databaseFile);
  if (!info.isFile()) throw MissingScratchDatabase(databaseFile);
  if (::access(QFile::encodeName(databaseFile).constData(), W_OK) != 0 ||
      ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) != 0)
    throw UnwritableScratchDatabase(databaseFile);
  MakeScratchFilesPrivate(databaseFile);
  const QString lockFile = databaseFile + QStringLiteral("-lock");
  descriptor_ = ::open(QFile::encodeName(lockFile).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (descriptor_ < 0)
    throw Error::provider(QStringLiteral("The scratch database's lock file '%1' cannot be opened: %2.")
                              .arg(lockFile, systemMessage(errno)));
  const auto giveUpAt = std::chrono::steady_clock::now() + patience;
  while (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    if (error != EWOULDBLOCK || std::chrono::steady_clock::now() >= giveUpAt) {
      ::close(descriptor_);
      if (error != EWOULDBLOCK)
        throw Error::provider(QStringLiteral("The scratch database's lock file '%1' cannot be locked: %2.")
                                  .arg(lockFile, systemMessage(error)));
      throw Error::provider(
          QStringLiteral("Another case change is using the scratch database '%1' (in another window or command of "
                         "this program). Nothing was changed; start again when it has finished.")
              .arg(databaseFile));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  try {
    ClearScratchDatabase(databaseFile);
  } catch (...) {
    ::close(descriptor_);
    throw;
  }
}

ScratchLock::~ScratchLock() {
  try {
    ClearScratchDatabase(databaseFile_);
  } catch (const Error&) {
    // The next run clears it when it takes the lock.
  }
  ::close(descriptor_);
}

void ClearScratchDatabase(const QString& databaseFile) {
  sqlite3* opened = nullptr;
  const int result = sqlite3_open_v2(QFile::encodeName(databaseFile).constData(), &opened,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  const Database db(opened);
  if (result != SQLITE_OK) throw clearingFailed(databaseFile, db.get());
  sqlite3_busy_timeout(db.get(), 10000);
  const QStringList tables = tablesOf(db.get(), databaseFile);
  if (!tables.isEmpty()) {
    QByteArray drops = "BEGIN;";
    for (const QString& table : tables)
      drops += "DROP TABLE \"" + table.toUtf8().replace("\"", "\"\"") + "\";";
    drops += "COMMIT;";
    runStatements(db.get(), databaseFile, drops);
  }
  // With every table gone a VACUUM copies next to nothing, and the file
  // shrinks to its few pages of schema.
  ForgetScratchWrites(databaseFile);
  if (hasFreePages(db.get(), databaseFile)) runStatements(db.get(), databaseFile, "VACUUM");
  runStatements(db.get(), databaseFile, "PRAGMA wal_checkpoint(TRUNCATE)");
}

void MakeScratchFilesPrivate(const QString& databaseFile) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const QString path = databaseFile + QLatin1String(suffix);
    const int descriptor =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) continue;  // missing, or not a file SQLite would use
    struct stat status {};
    int error = 0;
    if (::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && (status.st_mode & 077) != 0 &&
        ::fchmod(descriptor, status.st_mode & 0700) != 0)
      error = errno;
    ::close(descriptor);
    if (error != 0)
      throw Error::provider(QStringLiteral("The scratch file '%1' may be read by other users and cannot be made "
                                           "private: %2. Make it readable by its owner alone (chmod 600).")
                                .arg(path, systemMessage(error)));
  }
}

}  // namespace orl::ado
