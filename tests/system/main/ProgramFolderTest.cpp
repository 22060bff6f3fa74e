#include "system/main/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace orl::Main {
namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

unsigned ModeOf(const QString& path) {
  struct stat status {};
  return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

QByteArray ReadFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// An SQLite database with the given format stamp, holding one table of the given name.
bool WriteScratchDatabase(const QString& path, int format, const char* table = "made") {
  QFile::remove(path);
  sqlite3* db = nullptr;
  const QByteArray file = QFile::encodeName(path);
  const QByteArray sql =
      QByteArray("CREATE TABLE ") + table + "(x); PRAGMA user_version = " + QByteArray::number(format);
  const bool made = sqlite3_open(file.constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return made;
}

// Every file below a folder with its bytes, by relative path.
std::map<QString, QByteArray> Snapshot(const QString& folder) {
  std::map<QString, QByteArray> files;
  const QDir root(folder);
  std::function<void(const QString&)> walk = [&](const QString& path) {
    const auto entries = QDir(path).entryInfoList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& info : entries) {
      if (info.isDir())
        walk(info.filePath());
      else
        files[root.relativeFilePath(info.filePath())] = ReadFile(info.filePath());
    }
  };
  walk(folder);
  return files;
}

// An installed program folder as the build lays it out, and a data folder
// for the user's working copy.
class ProgramFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    ASSERT_TRUE(QDir().mkpath(installed));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/orlintide"), "program"));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/orlintide-48.png"), "icon"));
    ASSERT_TRUE(WriteScratchDatabase(installed + QStringLiteral("/dbTemp.mdb"), 1));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/HAND-M.CUR"), "pointer"));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/x/o.cjs"), "QWidget {}"));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/Samples/CUSTOMER.db"), "customers"));
    ASSERT_TRUE(WriteFile(installed + QStringLiteral("/Samples/Archive/VENDORS.db"), "vendors"));
    // Installed files are read-only, as a package leaves them.
    for (const char* file : {"/dbTemp.mdb", "/Samples/CUSTOMER.db", "/Samples/Archive/VENDORS.db"})
      QFile::setPermissions(installed + QLatin1String(file), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  }

  // The working copy, as a shared install makes it for this user.
  ProgramFolderChoice chooseShared() { return ChooseProgramFolder(installed, dataHome, installed); }

  QTemporaryDir root;
  QString installed = root.filePath(QStringLiteral("usr/lib/orlintide"));
  QString dataHome = root.filePath(QStringLiteral("home/.local/share"));
  QString copy = dataHome + QStringLiteral("/orlintide");
};

TEST_F(ProgramFolderTest, AWritableExecutableFolderIsTheProgramFolderAndNoCopyIsMade) {
  const ProgramFolderChoice choice = ChooseProgramFolder(installed, dataHome, QString());
  EXPECT_EQ(choice.folder, installed);
  EXPECT_TRUE(choice.problem.isEmpty());
  EXPECT_FALSE(QFileInfo::exists(dataHome));
  // Another build's shared folder does not make this one shared.
  EXPECT_EQ(ChooseProgramFolder(installed, dataHome, root.filePath(QStringLiteral("elsewhere"))).folder, installed);
}

TEST_F(ProgramFolderTest, TheSharedInstallGetsAPrivateWorkingCopyOfWhatARunUsesAndIsNotChanged) {
  const auto before = Snapshot(installed);
  const ProgramFolderChoice choice = chooseShared();
  ASSERT_TRUE(choice.problem.isEmpty()) << choice.problem.toStdString();
  EXPECT_EQ(choice.folder, copy);

  auto expected = before;
  expected.erase(QStringLiteral("orlintide"));
  expected.erase(QStringLiteral("orlintide-48.png"));
  EXPECT_EQ(Snapshot(copy), expected);
  EXPECT_EQ(Snapshot(installed), before);
  // Nothing but the copy in the data folder: no half-made staging folder.
  EXPECT_EQ(QDir(dataHome).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("orlintide")});

  // A run copies the user's tables into the scratch database: others may not look in.
  EXPECT_EQ(QFileInfo(copy).permissions() & (QFile::ReadOther | QFile::ReadGroup | QFile::ExeOther), 0);
  // The samples are the user's to change.
  QFile sample(copy + QStringLiteral("/Samples/Archive/VENDORS.db"));
  EXPECT_TRUE(sample.open(QIODevice::ReadWrite));
  EXPECT_TRUE(QFileInfo(copy + QStringLiteral("/dbTemp.mdb")).isWritable());
  EXPECT_EQ(ModeOf(copy + QStringLiteral("/dbTemp.mdb")), 0600u);
}

TEST_F(ProgramFolderTest, ALaterStartKeepsTheCopyAsTheUserLeftIt) {
  ASSERT_TRUE(chooseShared().problem.isEmpty());
  ASSERT_TRUE(WriteFile(copy + QStringLiteral("/Samples/CUSTOMER.db"), "CUSTOMERS"));
  ASSERT_TRUE(WriteScratchDatabase(copy + QStringLiteral("/dbTemp.mdb"), 1, "ORDERS"));
  const auto changed = Snapshot(copy);

  const ProgramFolderChoice again = chooseShared();
  EXPECT_EQ(again.folder, copy);
  EXPECT_EQ(Snapshot(copy), changed);
}

TEST_F(ProgramFolderTest, ANewScratchFormatReplacesTheCopysScratchDatabaseAndKeepsTheChangedSamples) {
  ASSERT_TRUE(chooseShared().problem.isEmpty());
  ASSERT_TRUE(WriteFile(copy + QStringLiteral("/Samples/CUSTOMER.db"), "CUSTOMERS"));
  ASSERT_TRUE(WriteFile(copy + QStringLiteral("/HAND-M.CUR"), "my pointer"));
  ASSERT_TRUE(WriteFile(copy + QStringLiteral("/dbTemp.mdb-journal"), "an old run's journal"));
  QFile::remove(copy + QStringLiteral("/Samples/Archive/VENDORS.db"));

  // A newer install: another scratch format and one more sample table.
  QFile::remove(installed + QStringLiteral("/dbTemp.mdb"));
  ASSERT_TRUE(WriteScratchDatabase(installed + QStringLiteral("/dbTemp.mdb"), 2, "newer"));
  ASSERT_TRUE(WriteFile(installed + QStringLiteral("/Samples/ORDERS.db"), "orders"));

  const ProgramFolderChoice choice = chooseShared();
  ASSERT_TRUE(choice.problem.isEmpty()) << choice.problem.toStdString();
  EXPECT_EQ(ScratchDatabaseFormat(copy + QStringLiteral("/dbTemp.mdb")), 2);
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/dbTemp.mdb")), ReadFile(installed + QStringLiteral("/dbTemp.mdb")));
  EXPECT_FALSE(QFileInfo::exists(copy + QStringLiteral("/dbTemp.mdb-journal")));
  EXPECT_EQ(ModeOf(copy + QStringLiteral("/dbTemp.mdb")), 0600u);
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/Samples/CUSTOMER.db")), "CUSTOMERS");
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/HAND-M.CUR")), "my pointer");
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/Samples/ORDERS.db")), "orders");
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/Samples/Archive/VENDORS.db")), "vendors");
}

TEST_F(ProgramFolderTest, AMissingOrDamagedScratchDatabaseInTheCopyIsTakenFromTheInstallAgain) {
  ASSERT_TRUE(chooseShared().problem.isEmpty());
  const QString scratch = copy + QStringLiteral("/dbTemp.mdb");
  ASSERT_TRUE(WriteFile(scratch, "not a database at all, but long enough to hold an SQLite header of 100 bytes......"));
  ASSERT_TRUE(chooseShared().problem.isEmpty());
  EXPECT_EQ(ScratchDatabaseFormat(scratch), 1);

  QFile::remove(scratch);
  ASSERT_TRUE(chooseShared().problem.isEmpty());
  EXPECT_EQ(ReadFile(scratch), ReadFile(installed + QStringLiteral("/dbTemp.mdb")));
}

TEST_F(ProgramFolderTest, ACopyThatCannotBeMadeIsReportedAndLeavesNothingHalfMade) {
  // The data folder is a file: nothing can be made in it.
  ASSERT_TRUE(WriteFile(dataHome, "a file"));
  const ProgramFolderChoice blocked = chooseShared();
  EXPECT_EQ(blocked.folder, installed);
  EXPECT_TRUE(blocked.problem.contains(copy)) << blocked.problem.toStdString();

  // No data folder at all (neither XDG_DATA_HOME nor HOME).
  const ProgramFolderChoice nowhere = ChooseProgramFolder(installed, QString(), installed);
  EXPECT_EQ(nowhere.folder, installed);
  EXPECT_FALSE(nowhere.problem.isEmpty());
}

TEST_F(ProgramFolderTest, AFolderThisUserMayNotWriteGetsTheWorkingCopy) {
  const QString lib = root.filePath(QStringLiteral("usr/lib"));
  if (geteuid() != 0) {
    ASSERT_EQ(chmod(QFile::encodeName(installed).constData(), 0555), 0);
    const ProgramFolderChoice choice = ChooseProgramFolder(installed, dataHome, QString());
    chmod(QFile::encodeName(installed).constData(), 0755);
    EXPECT_EQ(choice.folder, copy);
    EXPECT_TRUE(QFileInfo::exists(copy + QStringLiteral("/dbTemp.mdb")));
    return;
  }
  // The super-user may write anywhere: choose as an ordinary user (nobody).
  ASSERT_TRUE(QDir().mkpath(dataHome));
  for (const QString& path : {root.path(), root.filePath(QStringLiteral("usr")), lib, installed})
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0755), 0);
  const QString home = root.filePath(QStringLiteral("home"));
  for (const QString& path : {home, home + QStringLiteral("/.local"), dataHome})
    ASSERT_EQ(chmod(QFile::encodeName(path).constData(), 0777), 0);
  const pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    constexpr uid_t Nobody = 65534;
    if (setgid(Nobody) != 0 || setuid(Nobody) != 0) _exit(3);
    const ProgramFolderChoice choice = ChooseProgramFolder(installed, dataHome, QString());
    _exit(choice.folder == copy && choice.problem.isEmpty() ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFile(copy + QStringLiteral("/Samples/CUSTOMER.db")), "customers");
}

TEST(ScratchDatabaseFormat, IsTheDatabasesUserVersionOrMinusOneForAnythingElse) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString database = dir.filePath(QStringLiteral("dbTemp.mdb"));
  ASSERT_TRUE(WriteScratchDatabase(database, 7));
  EXPECT_EQ(ScratchDatabaseFormat(database), 7);
  ASSERT_TRUE(WriteScratchDatabase(database, 0));
  EXPECT_EQ(ScratchDatabaseFormat(database), 0);
  EXPECT_EQ(ScratchDatabaseFormat(dir.filePath(QStringLiteral("missing.mdb"))), -1);
  const QString shortFile = dir.filePath(QStringLiteral("short.mdb"));
  ASSERT_TRUE(WriteFile(shortFile, QByteArray("SQLite format 3", 16)));
  EXPECT_EQ(ScratchDatabaseFormat(shortFile), -1);
}

}  // namespace
}  // namespace orl::Main
