#include "platform/pdx/SafeReplace.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/TableFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <signal.h>

#include <random>

namespace orl::test {
namespace {

constexpr int Tables = 30;

QByteArray tableBytes(const QString& folder, const char* value) {
  const QString path = folder + QStringLiteral("/made.db");
  WriteTable(path, {{"Name", pdx::FieldType::Alpha, 20}}, {{std::string(value)}});
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray bytes = file.readAll();
  file.remove();
  return bytes;
}

void put(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  ASSERT_EQ(file.write(bytes), bytes.size());
}

QString tableName(int table) { return QStringLiteral("T%1.db").arg(table, 2, 10, QLatin1Char('0')); }

// A listing of the folder, killed at random moments while it finishes the
// replacements that runs killed in their swap left behind.
class RecoveryKillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = folders.programFolder() + QStringLiteral("/orlintide");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORLINTIDE_PROGRAM), program));
    QFile(program).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QLatin1String(name));
    oldTable = tableBytes(folders.programFolder(), "OLD");
    newTable = tableBytes(folders.programFolder(), "NEW");
  }

  // Each table's run was killed after its journal was written; every
  // other table's also after its old file was set aside.
  void leaveInterruptedSwaps() {
    for (const QString& name : QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden))
      QFile::remove(folders.path(name));
    for (int table = 0; table < Tables; ++table) {
      const QString name = tableName(table);
      put(folders.path((table % 2 ? QString() : QStringLiteral(".orlintide-old.")) + name), oldTable);
      put(folders.path(QStringLiteral(".orlintide-new.") + name), newTable);
      put(folders.path(QStringLiteral(".orlintide-replace.") + name),
          QByteArray("orlintide family replacement 1\nold ") + name.toUtf8() + "\nnew " + name.toUtf8() + "\nend\n");
    }
  }

  void list(QProcess& process) {
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, {QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--list-tables")});
    ASSERT_TRUE(process.waitForStarted());
  }

  DataFolders folders;
  QString program;
  QProcessEnvironment environment;
  QByteArray oldTable;
  QByteArray newTable;
};

TEST_F(RecoveryKillTest, AListingKilledWhileItFinishesInterruptedSwapsLosesNoTable) {
  // One whole listing tells how long it takes here.
  leaveInterruptedSwaps();
  QElapsedTimer timer;
  timer.start();
  {
    QProcess whole;
    list(whole);
    ASSERT_TRUE(whole.waitForFinished(60000));
    ASSERT_EQ(whole.exitCode(), 0) << whole.readAll().toStdString();
  }
  const qint64 listMilliseconds = timer.elapsed();

  std::mt19937 random(20261209);
  std::uniform_int_distribution<qint64> delay(0, listMilliseconds);
  int partly = 0;
  for (int kill = 0; kill < 100; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    leaveInterruptedSwaps();
    QProcess process;
    list(process);
    if (!process.waitForFinished(static_cast<int>(delay(random)))) {
      ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
      process.waitForFinished(-1);
    }
    // Each table is old or new, or its files are where the next recovery finds them.
    int finished = 0;
    const auto files = folders.snapshot();
    for (int table = 0; table < Tables; ++table) {
      const QString name = tableName(table);
      const auto at = [&](const QString& file) {
        const auto found = files.find(file);
        return found == files.end() ? QByteArray() : found->second;
      };
      finished += at(name) == newTable;
      const bool intact = at(name) == newTable || at(QStringLiteral(".orlintide-new.") + name) == newTable;
      EXPECT_TRUE(intact) << name.toStdString();
    }
    partly += finished > 0 && finished < Tables;

    pdx::PosixFileOps real;
    EXPECT_TRUE(pdx::FamilyReplacement::recoverFolder(real, folders.dataFolder().toStdString()).empty());
    std::map<QString, QByteArray> expected;
    for (int table = 0; table < Tables; ++table) expected[tableName(table)] = newTable;
    ASSERT_EQ(folders.snapshot(), expected);
  }
  RecordProperty("kills_within_the_recovery", partly);
  EXPECT_GT(partly, 0);
}

}  // namespace
}  // namespace orl::test
