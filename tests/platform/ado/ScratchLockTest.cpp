// A run's hold on the scratch database: one run at a time, no table's rows
// left behind it, and files that only their owner may read.

#include "platform/ado/Connection.h"
#include "platform/ado/ScratchLock.h"
#include "platform/common/Error.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/OtherUser.h"

#include <QFileInfo>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

namespace orl::ado {
namespace {

using std::chrono::milliseconds;

QString scratchString(const test::DataFolders& folders) {
  return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + folders.scratchFile() +
         QStringLiteral(";JET OLEDB:Database Password=");
}

unsigned modeOf(const QString& path) {
  struct stat status {};
  EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
  return status.st_mode & 0777;
}

QStringList scratchTables(const test::DataFolders& folders) {
  Connection connection;
  connection.open(scratchString(folders));
  const auto rows = connection.query(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"));
  QStringList tables;
  for (std::vector<Value> row; rows->next(row);) tables << row[0].toText();
  return tables;
}

TEST(ScratchLock, ASecondRunIsRefusedWithOneMessageUntilTheFirstHasFinished) {
  test::DataFolders folders;
  std::optional<ScratchLock> first(std::in_place, folders.scratchFile());
  const auto start = std::chrono::steady_clock::now();
  try {
    ScratchLock second(folders.scratchFile(), milliseconds(300));
    FAIL() << "two runs held the scratch database at once";
  } catch (const Error& error) {
    EXPECT_TRUE(error.description().startsWith(QStringLiteral("Another case change is using the scratch database '") +
                                               folders.scratchFile()))
        << error.description().toStdString();
  }
  // It waited for the first run to finish, briefly.
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, milliseconds(300));
  EXPECT_LT(waited, milliseconds(3000));
  first.reset();
  EXPECT_NO_THROW(ScratchLock(folders.scratchFile(), milliseconds(0)));
}

TEST(ScratchLock, TakingAndGivingItUpLeaveNoTableAndGiveTheRoomBack) {
  test::DataFolders folders;
  // What a run killed half way leaves: a scratch table of about 8 MB.
  folders.scratchSql(
      "PRAGMA journal_mode=WAL; CREATE TABLE Leftover(Name TEXT); "
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 4000) "
      "INSERT INTO Leftover SELECT printf('%.2000c', 'x') FROM n;");
  ASSERT_GT(QFileInfo(folders.scratchFile()).size(), 8'000'000);
  {
    ScratchLock lock(folders.scratchFile());
    EXPECT_TRUE(scratchTables(folders).isEmpty());
    EXPECT_LT(QFileInfo(folders.scratchFile()).size(), 64 * 1024);
    // This run's own table goes when the run gives the lock up.
    folders.scratchSql("CREATE TABLE Staged(Name TEXT); INSERT INTO Staged VALUES('private');");
  }
  EXPECT_TRUE(scratchTables(folders).isEmpty());
  EXPECT_LT(QFileInfo(folders.scratchFile()).size(), 64 * 1024);
  EXPECT_EQ(QFileInfo(folders.scratchFile() + QStringLiteral("-wal")).size(), 0);
  QFile file(folders.scratchFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_FALSE(file.readAll().contains("private"));
}

TEST(ScratchLock, TheScratchFilesAreMadeReadableByTheirOwnerAlone) {
  test::DataFolders folders;
  // Files an older version left readable by everyone.
  folders.scratchSql("PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES(1);");
  QFile(folders.scratchFile() + QStringLiteral("-wal")).open(QIODevice::WriteOnly);
  for (const char* suffix : {"", "-wal"})
    ASSERT_TRUE(::chmod(QFile::encodeName(folders.scratchFile() + QLatin1String(suffix)).constData(), 0644) == 0);
  {
    Connection connection;
    connection.setMode(adModeReadWrite);
    connection.open(scratchString(folders));
    connection.execute(QStringLiteral("INSERT INTO t VALUES(2)"));
    for (const char* suffix : {"", "-wal", "-shm"})
      EXPECT_EQ(modeOf(folders.scratchFile() + QLatin1String(suffix)), 0600u) << suffix;
  }
  ::unlink(QFile::encodeName(folders.scratchFile() + QStringLiteral("-shm")).constData());
  ::unlink(QFile::encodeName(folders.scratchFile() + QStringLiteral("-wal")).constData());
  ASSERT_EQ(::chmod(QFile::encodeName(folders.scratchFile()).constData(), 0664), 0);
  ScratchLock lock(folders.scratchFile());
  for (const char* suffix : {"", "-lock"})
    EXPECT_EQ(modeOf(folders.scratchFile() + QLatin1String(suffix)), 0600u) << suffix;
}

TEST(ScratchLock, AScratchDatabaseThisUserMayNotWriteIsRefusedBeforeAnyFileIsMade) {
  const auto user = test::OtherUser::make("orltest-a");
  if (!user) GTEST_SKIP() << test::OtherUser::whyNot();
  test::DataFolders folders;
  for (const QString& folder : {QFileInfo(folders.programFolder()).absolutePath(), folders.programFolder()})
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
  const int refused = user->run([&] {
    try {
      ScratchLock lock(folders.scratchFile());
    } catch (const Error& error) {
      return error.description().contains(QStringLiteral("cannot be written")) ? 0 : 1;
    }
    return 2;
  });
  EXPECT_EQ(refused, 0);
  EXPECT_EQ(QDir(folders.programFolder()).entryList(QDir::Files), QStringList{QStringLiteral("dbTemp.mdb")});
}

}  // namespace
}  // namespace orl::ado
