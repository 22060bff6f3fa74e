#pragma once

#include "platform/ado/Connection.h"
#include "platform/ado/Provider.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace orl::ado {

// Why a folder inside one of this program's history or working folders
// (WorkingNames.h) is not read: `workingFolder` is that history or working folder.
QString WorkingFolderRefusal(const QString& folder, const QString& workingFolder);

// Who holds an advisory lock (fcntl or flock) on the file; none when it is
// free or held by a TableLock of this process.
std::optional<QString> LockHolder(const QString& path);

// The Paradox folder driver: reads the tables of one folder (the "Dbq=" of
// the connection string) and understands exactly three statements:
//   SELECT * FROM `T`     SELECT `F` FROM `T`     DROP TABLE `T`
// A table name is the file T.db in the folder, matched without regard to
// letter case. Password-protected tables are refused.
//
// A dropped table's files stand until the connection is closed, and are
// removed then, unless an export into the folder has taken the table's place
// in the meantime; a connection released without being closed leaves them.
// So a write-back that fails after the drop never loses the table. A table
// another program holds (its T.lck lock file in the folder, or a lock on
// T.db) or whose files are read-only or symbolic links is not dropped: the
// drop fails first. The lock file and lock of this process's own TableLock
// on the table do not count.
class ParadoxFolderDriver final : public Provider {
 public:
  static bool accepts(const QString& connectionString);
  // The folder a connection string names, exactly as written in it.
  static QString folderOf(const QString& connectionString);

  ParadoxFolderDriver(const QString& connectionString, const Seams& seams);
  ~ParadoxFolderDriver() override;
  ParadoxFolderDriver(const ParadoxFolderDriver&) = delete;
  ParadoxFolderDriver& operator=(const ParadoxFolderDriver&) = delete;

  std::unique_ptr<Rows> execute(const QString& statement) override;
  std::unique_ptr<Rows> openSchema(int schema) override;
  void close() override;

  const QString& folder() const { return folder_; }

  // The path of table T's ".db" file, in whatever letter case it has; raises
  // orl::Error when there is none or more than one.
  QString tableFile(const QString& table) const;
  // The same once what an interrupted replacement of the table left is put
  // right, as before the table is read.
  QString tableFileToRead(const QString& table);

 private:
  std::unique_ptr<Rows> select(const QString& table, const QString* field);
  void drop(const QString& table);

  pdx::FileOps& files();

  QString folder_;
  Seams seams_;
  pdx::PosixFileOps realFiles_;
  QStringList dropped_;
};

// The ADO type number the driver reports for a Paradox field type.
int AdoTypeOf(char paradoxType);

}  // namespace orl::ado
