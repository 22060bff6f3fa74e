#include "platform/ado/ScratchLock.h"
#include "platform/pdx/History.h"
#include "platform/pdx/SafeReplace.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/TableFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

namespace orl::test {
namespace {

constexpr int Rows = 50000;

// A 50,000-row table with a memo file: Id, an ASCII Name (so that both
// cases are known without the program's own rules) and a note in one row
// of ten.
void writeKillTable(const QString& path) {
  std::vector<std::vector<pdx::Value>> rows;
  rows.reserve(Rows);
  for (int r = 0; r < Rows; ++r) {
    pdx::Value note = pdx::Null{};
    if (r % 10 == 0) note = std::string("Note ") + std::to_string(r) + std::string(r % 40, 'x');
    rows.push_back({std::int64_t{r}, std::string("Name ") + std::to_string(r % 300) + (r % 2 ? " smith" : " JONES"),
                    note});
  }
  WriteTable(path, {{"Id", pdx::FieldType::Long, 4}, {"Name", pdx::FieldType::Alpha, 30}, {"Notes", pdx::FieldType::Memo, 20}},
             rows);
}

std::vector<std::vector<QString>> comparableRows(const QString& path) {
  std::vector<std::vector<QString>> rows;
  for (const auto& row : ReadTable(path).rows) {
    std::vector<QString> values;
    for (const auto& value : row) values.push_back(Comparable(value));
    rows.push_back(std::move(values));
  }
  return rows;
}

// The program started as a user would, killed at random moments of its runs.
class KillTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = folders.programFolder() + QStringLiteral("/orlintide");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORLINTIDE_PROGRAM), program));
    QFile(program).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeKillTable(folders.path(QStringLiteral("KILL.db")));
    environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QLatin1String(name));
  }

  // The command line on the table KILL with `more` arguments.
  void launch(QProcess& process, const QStringList& more) {
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, QStringList{QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                                       QStringLiteral("KILL")} +
                               more);
    ASSERT_TRUE(process.waitForStarted());
  }

  void start(QProcess& process, const char* caseWord) {
    launch(process, {QStringLiteral("--field"), QStringLiteral("Name"), QStringLiteral("--case"), QLatin1String(caseWord)});
  }

  // Waits for the program to end, which it must do successfully.
  void finish(QProcess& process) {
    ASSERT_TRUE(process.waitForFinished(300000));
    ASSERT_EQ(process.exitCode(), 0) << process.readAll().toStdString();
  }

  // Kills the program if it is still going after `milliseconds`, then puts
  // right what it left, as the next opening of the table does first.
  void killAfter(QProcess& process, qint64 milliseconds) {
    if (!process.waitForFinished(static_cast<int>(milliseconds))) {
      ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
      process.waitForFinished(-1);
    }
    pdx::PosixFileOps files;
    pdx::FamilyReplacement::recover(files, folders.dataFolder().toStdString(), "KILL.db");
  }

  // The table's own files, working files of a replacement left out, and so
  // is the lock file of a killed run, which the next run takes over.
  std::map<QString, QByteArray> tableFiles() const {
    auto files = folders.snapshot();
    std::erase_if(files, [](const auto& entry) {
      return entry.first.startsWith(QLatin1Char('.')) || entry.first == QStringLiteral("KILL.lck");
    });
    return files;
  }

  DataFolders folders;
  QString program;
  QProcessEnvironment environment;
};

TEST_F(KillTest, AKilledRunLeavesTheOriginalOrTheCheckedNewTableAndTheNextRunSucceeds) {
  const QString table = folders.path(QStringLiteral("KILL.db"));
  // One whole run tells how long a run takes here.
  QElapsedTimer timer;
  timer.start();
  {
    QProcess whole;
    start(whole, "lower");
    finish(whole);
  }
  const qint64 runMilliseconds = timer.elapsed();

  auto expected = comparableRows(table);
  auto before = tableFiles();
  std::mt19937 random(20261208);
  std::uniform_int_distribution<qint64> delay(0, runMilliseconds);
  int newTables = 0, originals = 0;
  for (int kill = 0; kill < 100; ++kill) {
    const bool upper = kill % 2 == 0;
    QProcess process;
    start(process, upper ? "upper" : "lower");
    killAfter(process, delay(random));
    SCOPED_TRACE("kill " + std::to_string(kill));
    const auto after = tableFiles();
    if (after == before) {
      ++originals;
      continue;
    }
    // Not the original: then the whole new table, the name changed and nothing else.
    auto changed = expected;
    for (auto& row : changed) row[1] = upper ? row[1].toUpper() : row[1].toLower();
    ASSERT_EQ(comparableRows(table), changed);
    ++newTables;
    expected = std::move(changed);
    before = after;
  }
  RecordProperty("kills_leaving_original", originals);
  RecordProperty("kills_leaving_new_table", newTables);

  QProcess next;
  start(next, "upper");
  ASSERT_TRUE(next.waitForFinished(300000));
  EXPECT_EQ(next.exitCode(), 0) << next.readAll().toStdString();
  for (auto& row : expected) row[1] = row[1].toUpper();
  EXPECT_EQ(comparableRows(table), expected);
  // No working file of an interrupted run is left beside the table, nor any
  // of its rows in the scratch database, which only its owner may read.
  EXPECT_EQ(folders.snapshot(), tableFiles());
  EXPECT_EQ(folders.scratchTables(), QStringList{});
  EXPECT_EQ(QFile::permissions(folders.scratchFile()) & ~(QFile::ReadUser | QFile::WriteUser),
            QFile::ReadOwner | QFile::WriteOwner);
}

TEST_F(KillTest, AProgramStartedDuringAnothersRunIsRefusedWithOneMessageAndChangesNothing) {
  // The other program's run, in the middle of its work on the same program folder.
  ado::ScratchLock otherRun(folders.scratchFile());
  const auto before = folders.snapshot();
  QProcess second;
  start(second, "upper");
  ASSERT_TRUE(second.waitForFinished(60000));
  const QString output = QString::fromUtf8(second.readAll());
  EXPECT_EQ(second.exitCode(), 1) << output.toStdString();
  EXPECT_EQ(output.count(QStringLiteral("Another case change is using the scratch database")), 1) << output.toStdString();
  EXPECT_EQ(folders.snapshot(), before);
}

// Restores toggle the table between before and after a run (each restore
// is an entry that the next one undoes); killed at random moments, each
// leaves one of the two byte for byte, and the next restore and run succeed.
TEST_F(KillTest, AKilledRestoreLeavesTheTableBeforeOrAfterItAndTheNextRestoreSucceeds) {
  const QStringList restoreLatest{QStringLiteral("--restore"), QStringLiteral("1")};
  auto current = tableFiles();
  {
    QProcess run;
    start(run, "upper");
    finish(run);
  }
  auto other = tableFiles();
  ASSERT_NE(current, other);
  std::swap(current, other);
  // One whole restore tells how long a restore takes here.
  QElapsedTimer timer;
  timer.start();
  {
    QProcess whole;
    launch(whole, restoreLatest);
    finish(whole);
  }
  const qint64 restoreMilliseconds = timer.elapsed();
  RecordProperty("restore_milliseconds", static_cast<int>(restoreMilliseconds));
  ASSERT_EQ(tableFiles(), other);
  std::swap(current, other);

  std::mt19937 random(20261209);
  std::uniform_int_distribution<qint64> delay(0, restoreMilliseconds);
  int restored = 0, untouched = 0;
  for (int kill = 0; kill < 100; ++kill) {
    QProcess process;
    launch(process, restoreLatest);
    killAfter(process, delay(random));
    SCOPED_TRACE("kill " + std::to_string(kill));
    const auto after = tableFiles();
    if (after == current) {
      ++untouched;
      continue;
    }
    ASSERT_TRUE(after == other) << "neither the table before the restore nor the one after it";
    ++restored;
    std::swap(current, other);
  }
  RecordProperty("kills_leaving_table_before", untouched);
  RecordProperty("kills_leaving_table_restored", restored);

  QProcess next;
  launch(next, restoreLatest);
  finish(next);
  EXPECT_EQ(tableFiles(), other);
  QProcess run;
  start(run, "lower");
  finish(run);
  EXPECT_EQ(folders.snapshot(), tableFiles());
  // The history keeps its last ten finished changes (two runs and the restores), each whole.
  pdx::PosixFileOps files;
  EXPECT_EQ(pdx::TableHistory(files, folders.dataFolder().toStdString(), "KILL.db").entries().size(),
            static_cast<std::size_t>(std::min(pdx::DefaultHistoryEntries, 4 + restored)));
}

}  // namespace
}  // namespace orl::test
