#include "tests/system/run/RunFixture.h"

#include "platform/ado/ScratchLock.h"
#include "platform/pdx/Generate.h"
#include "platform/pdx/IndexCheck.h"
#include "tests/support/IndexedTable.h"
#include "tests/support/OtherUser.h"

#include <QDir>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>

namespace orl::test {
namespace {

using pdx::FieldType;

TEST_F(RunTest, WithoutATableOrAFieldShownAsChosenItOnlyAsksForOne) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}}, {{std::string("x")}});
  const auto before = folders.snapshot();
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  struct Case {
    bool table, field;
    QString message;
  };
  for (const Case& shown : {Case{true, false, QStringLiteral("Please select a field.")},
                            Case{false, true, QStringLiteral("Please select a table.")},
                            Case{false, false, QStringLiteral("Please select a table.")}}) {
    boxes.shown.clear();
    window.tableChosen = shown.table;
    window.fieldChosen = shown.field;
    EXPECT_FALSE(run());
    EXPECT_EQ(boxes.informs(), QStringList{shown.message});
    EXPECT_TRUE(boxes.errorReports().isEmpty());
  }
  EXPECT_TRUE(statements.recorder.all.isEmpty());
  EXPECT_TRUE(window.pointers.empty());
  EXPECT_TRUE(window.progress.empty());
  EXPECT_EQ(folders.snapshot(), before);
}

TEST_F(RunTest, TheBarRisesThroughStagingLoopAndWriteBackAndEmptiesOnceTheRunIsOver) {
  std::vector<std::vector<pdx::Value>> rows;
  for (int i = 0; i < 400; ++i) rows.push_back({std::string("v") + std::to_string(i % 40)});
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 10}}, rows);
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  // What the bar shows when the loop's query and the export are sent.
  std::optional<double> atLoop, atExport;
  statements.onStatement = [&](const QString& statement) {
    if (statement.startsWith(QStringLiteral("SELECT distinct "))) atLoop = window.progress.back();
    if (statement.startsWith(QStringLiteral("select top "))) atExport = window.progress.back();
  };
  EXPECT_TRUE(run());
  ASSERT_TRUE(atLoop && atExport);
  // The staging filled its share before the loop began; the write-back starts where the loop ended.
  EXPECT_EQ(*atLoop, Run::StagingEnds * 100.0);
  EXPECT_EQ(*atExport, Run::UpdatesEnd * 100.0);
  const auto full = std::find(window.progress.begin(), window.progress.end(), 100.0);
  ASSERT_NE(full, window.progress.end());
  EXPECT_TRUE(std::is_sorted(window.progress.begin(), full + 1));
  // Every row copied moved the bar: 400 steps inside the staging share.
  EXPECT_GE(std::count_if(window.progress.begin(), full,
                          [](double percent) { return percent > 0.0 && percent <= Run::StagingEnds * 100.0; }),
            400);
  EXPECT_EQ(window.progress.back(), 0.0);
  EXPECT_EQ(full + 2, window.progress.end());
}

TEST_F(RunTest, AnAllNullFieldGetsTheOneNullStatement) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}, {"B", FieldType::Long, 4}},
             {{pdx::Null{}, std::int64_t{1}}, {pdx::Null{}, std::int64_t{2}}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  window.choice = QStringLiteral("Proper Case");
  EXPECT_TRUE(run());
  EXPECT_EQ(statements.updates(), QStringList{QStringLiteral("update [T] set [A]='' where [A] is null ")});
  EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows.size(), 2u);
}

TEST_F(RunTest, ApostrophesAreDoubledAndTheRowChanges) {
  WriteTable(folders.path(QStringLiteral("CLIENTS.db")), {{"City", FieldType::Alpha, 20}},
             {{std::string("o'hara")}, {std::string("O'HARA")}});
  useTable(QStringLiteral("CLIENTS"), QStringLiteral("City"));
  window.previewList.items = {QStringLiteral("o'hara"), QStringLiteral("O'HARA")};
  EXPECT_TRUE(run());
  EXPECT_TRUE(statements.updates().contains(QStringLiteral("update [CLIENTS] set [City]='O''HARA' where [City]='o''hara'")));
  EXPECT_EQ(statements.updates().size(), 2);  // the value already in upper case gets its statement too
  const auto content = ReadTable(folders.path(QStringLiteral("CLIENTS.db")));
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QStringLiteral("O'HARA")));
  EXPECT_EQ(window.previewList.items, (QStringList{QStringLiteral("O'HARA"), QStringLiteral("O'HARA")}));
  EXPECT_TRUE(boxes.errorReports().isEmpty());
}

TEST_F(RunTest, NameCaseIsAppliedToTheTableAndThePreview) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 20}},
             {{std::string("o'brien")}, {std::string("VAN DER BERG")}, {pdx::Null{}}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  window.choice = QStringLiteral("Name Case");
  window.previewList.items = {QStringLiteral("o'brien"), QStringLiteral("VAN DER BERG"), QString()};
  EXPECT_TRUE(run());
  EXPECT_TRUE(boxes.errorReports().isEmpty());
  EXPECT_TRUE(statements.updates().contains(QStringLiteral("update [T] set [A]='O''Brien' where [A]='o''brien'")));
  EXPECT_TRUE(statements.updates().contains(QStringLiteral("update [T] set [A]='' where [A] is null ")));
  const auto content = ReadTable(folders.path(QStringLiteral("T.db")));
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QStringLiteral("O'Brien")));
  EXPECT_EQ(content.rows[1][0], ado::Value::text(QStringLiteral("Van der Berg")));
  EXPECT_EQ(window.previewList.items,
            (QStringList{QStringLiteral("O'Brien"), QStringLiteral("Van der Berg"), QString()}));
  EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
}

TEST_F(RunTest, OneDistinctValuePausesOneSecondAfterItAndALittleAfterTheLoop) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}},
             {{std::string("x")}, {std::string("x")}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  const double start = time.now();
  EXPECT_TRUE(run());
  // The one value fills the loop's share at once.
  EXPECT_NE(std::find(window.progress.begin(), window.progress.end(), Run::UpdatesEnd * 100.0), window.progress.end());
  EXPECT_NEAR(time.now() - start, 1.4, 0.05);
  EXPECT_EQ(window.pointers.front(), Run::HourglassPointer);
  EXPECT_EQ(window.pointers.back(), Run::DefaultPointer);
  EXPECT_EQ(window.progress.back(), 0.0);
  EXPECT_EQ(window.progressText, QStringLiteral("Progress Bar"));
}

TEST_F(RunTest, PausesFollowTheFirstAndEveryFiveThousandthValue) {
  std::vector<std::vector<pdx::Value>> rows;
  for (int i = 0; i < 5001; ++i) rows.push_back({std::string("v") + std::to_string(i)});
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 10}}, rows);
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  const double start = time.now();
  EXPECT_TRUE(run());
  const auto& at = statements.updateTimes;
  ASSERT_EQ(at.size(), 5001u);
  EXPECT_NEAR(at[1] - at[0], 1.0, 0.05);
  EXPECT_NEAR(at[5000] - at[1], 0.0, 0.05);
  EXPECT_NEAR(time.now() - start, 2.4, 0.05);
}

TEST_F(RunTest, ATableWithoutRowsIsWrittenBackEmpty) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}}, {});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  EXPECT_TRUE(run());
  EXPECT_TRUE(statements.updates().isEmpty());
  EXPECT_TRUE(statements.recorder.scratchStatements.contains(
      QStringLiteral("select top 0 * into [Paradox 5.x;Database=") + folders.dataFolder() +
      QStringLiteral("/].[T.db] from [T]")));
  EXPECT_TRUE(ReadTable(folders.path(QStringLiteral("T.db"))).rows.empty());
  EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
}

TEST_F(RunTest, AnOverlongMemoUnderProperCaseIsReportedAndLeftAlone) {
  const std::string longMemo(32767, 'a');
  WriteTable(folders.path(QStringLiteral("T.db")), {{"M", FieldType::Memo, 20}},
             {{longMemo}, {std::string("short ONE")}});
  useTable(QStringLiteral("T"), QStringLiteral("M"));
  window.choice = QStringLiteral("Proper Case");
  EXPECT_TRUE(run());
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports().front().contains(
      QStringLiteral("in Brennick2021/08/31.Form2.PushButton1_Click at line 154")));
  const auto content = ReadTable(folders.path(QStringLiteral("T.db")));
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QString::fromStdString(longMemo)));
  EXPECT_EQ(content.rows[1][0], ado::Value::text(QStringLiteral("Short One")));
  EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
}

TEST_F(RunTest, AMissingScratchDatabaseIsReportedAndTheTableIsUntouched) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}}, {{std::string("x")}});
  QFile::remove(folders.scratchFile());
  const auto before = folders.snapshot();
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  EXPECT_FALSE(run());
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports().front().contains(folders.scratchFile()));
  EXPECT_TRUE(boxes.errorReports().front().contains(QStringLiteral("at line 108")));
  EXPECT_TRUE(boxes.informs().isEmpty());
  EXPECT_EQ(folders.snapshot(), before);
  EXPECT_EQ(window.pointers.back(), Run::DefaultPointer);
  EXPECT_FALSE(QFile::exists(folders.scratchFile()));
}

TEST_F(RunTest, ARunLeavesNoRowsInAScratchDatabaseOnlyItsOwnerMayRead) {
  // What an earlier run killed half way left behind, in files anyone could read.
  folders.scratchSql("CREATE TABLE Killed(Secret TEXT); INSERT INTO Killed VALUES('salary 9000');");
  ASSERT_EQ(::chmod(QFile::encodeName(folders.scratchFile()).constData(), 0644), 0);
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 20}},
             {{std::string("private value")}, {std::string("another")}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  statements.onStatement = [&](const QString& statement) {
    if (!statement.startsWith(QStringLiteral("update ["))) return;
    EXPECT_EQ(folders.scratchTables(), QStringList{QStringLiteral("T")});
    for (const char* suffix : {"", "-wal", "-shm", "-lock"}) {
      struct stat status {};
      ASSERT_EQ(::stat(QFile::encodeName(folders.scratchFile() + QLatin1String(suffix)).constData(), &status), 0);
      EXPECT_EQ(status.st_mode & 0777, 0600u) << suffix;
    }
  };
  EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("PRIVATE VALUE")));
  EXPECT_EQ(folders.scratchTables(), QStringList{});
  QFile scratch(folders.scratchFile());
  ASSERT_TRUE(scratch.open(QIODevice::ReadOnly));
  const QByteArray bytes = scratch.readAll();
  EXPECT_FALSE(bytes.contains("salary") || bytes.contains("private") || bytes.contains("PRIVATE"));
  EXPECT_LE(QFileInfo(folders.scratchFile() + QStringLiteral("-wal")).size(), 0);
}

// The program folder open to everyone, as an install in a shared folder
// leaves it: only the scratch files' own modes keep other users out.
TEST_F(RunTest, AnotherUserCanReadNoScratchFileDuringOrAfterARunOfRootOrOfAnOrdinaryUser) {
  const auto snoop = OtherUser::make("orltest-b");
  const auto victim = OtherUser::make("orltest-a");
  if (!snoop || !victim) GTEST_SKIP() << OtherUser::whyNot();
  for (const QString& folder :
       {QFileInfo(folders.programFolder()).absolutePath(), folders.programFolder(), folders.dataFolder()})
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(folders.scratchFile()).constData(), 0644), 0);
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 20}}, {{std::string("private value")}});
  ASSERT_EQ(::chmod(QFile::encodeName(folders.path(QStringLiteral("T.db"))).constData(), 0600), 0);
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  // The private table's working files beside it, while they are written and checked.
  int workingFilesSeen = 0;
  window.onProgress = [&](double) {
    for (const QFileInfo& info : QDir(folders.dataFolder()).entryInfoList(QDir::Files | QDir::Hidden))
      if (info.fileName().startsWith(QStringLiteral(".orlintide"))) {
        ++workingFilesSeen;
        EXPECT_FALSE(snoop->canRead(QFile::encodeName(info.filePath()).toStdString())) << info.fileName().toStdString();
      }
  };
  const auto unreadable = [&](const char* when) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal", "-lock"}) {
      const QString file = folders.scratchFile() + QLatin1String(suffix);
      if (QFileInfo::exists(file)) {
        EXPECT_FALSE(snoop->canRead(file.toStdString())) << when << ": " << suffix;
      }
    }
  };
  bool seenDuringTheRun = false;
  statements.onStatement = [&](const QString& statement) {
    if (!statement.startsWith(QStringLiteral("update [")) || seenDuringTheRun) return;
    seenDuringTheRun = true;
    unreadable("during the run");
  };
  EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(seenDuringTheRun);
  EXPECT_GT(workingFilesSeen, 0);
  window.onProgress = nullptr;
  unreadable("after the run");
  EXPECT_FALSE(snoop->canRead(QFile::encodeName(folders.path(QStringLiteral("T.db"))).toStdString()));

  // The same for an ordinary user's run, in files that user owns.
  statements.onStatement = nullptr;
  for (const QString& folder : {folders.programFolder(), folders.dataFolder()}) {
    ASSERT_EQ(::chown(QFile::encodeName(folder).constData(), victim->uid(), victim->gid()), 0);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder.toStdString()))
      ASSERT_EQ(::lchown(entry.path().c_str(), victim->uid(), victim->gid()), 0) << entry.path();
  }
  ASSERT_EQ(::chmod(QFile::encodeName(folders.scratchFile()).constData(), 0644), 0);
  window.choice = QStringLiteral("lower case");
  EXPECT_EQ(victim->run([&] {
    const bool done = run();
    std::fputs(boxes.errorReports().join(QLatin1Char('\n')).toUtf8().constData(), stderr);
    return done && boxes.errorReports().isEmpty() ? 0 : 1;
  }),
            0);
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("private value")));
  unreadable("after an ordinary user's run");
  EXPECT_EQ(folders.scratchTables(), QStringList{});
}

// The scratch database failing once the table is replaced: the report
// says the table has its new values, and the run ends as done.
TEST_F(RunTest, AFailureAfterTheSwapIsReportedWithTheTableReplaced) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 10}}, {{std::string("abc")}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  bool dropped = false;
  statements.onStatement = [&](const QString& statement) {
    if (statement != QStringLiteral("DROP TABLE [T]") || dropped) return;
    dropped = true;  // by someone else, just before the run's own drop
    folders.scratchSql("DROP TABLE T");
  };
  EXPECT_TRUE(run());
  ASSERT_TRUE(dropped);
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports().front().contains(
      QStringLiteral("The table 'T' was replaced with its new values, but its working copy")))
      << boxes.errorReports().front().toStdString();
  EXPECT_TRUE(boxes.informs().contains(QStringLiteral("Done.")));
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("ABC")));
}

TEST_F(RunTest, ASecondRunOnTheSameProgramFolderIsRefusedOnceAndTouchesNothing) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}}, {{std::string("x")}, {std::string("y")}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  // Another window or command of the program in the middle of its run.
  ado::ScratchLock otherRun(folders.scratchFile());
  folders.scratchSql("CREATE TABLE T(A TEXT); INSERT INTO T VALUES('the other run''s row');");
  const auto before = folders.snapshot();
  EXPECT_FALSE(run());
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports().front().contains(QStringLiteral("Another case change is using the scratch database")));
  EXPECT_TRUE(boxes.errorReports().front().contains(QStringLiteral("at line 108")));
  EXPECT_TRUE(boxes.informs().isEmpty());
  EXPECT_TRUE(statements.recorder.scratchStatements.isEmpty());
  EXPECT_EQ(folders.snapshot(), before);
  EXPECT_EQ(folders.scratchTables(), QStringList{QStringLiteral("T")});
  EXPECT_EQ(window.pointers.back(), Run::DefaultPointer);
}

TEST_F(RunTest, NamesAndChoicesItCannotUseAreRefusedBeforeAnythingIsTouched) {
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}}, {{std::string("x")}});
  const auto before = folders.snapshot();
  useTable(QStringLiteral("T"), QStringLiteral("A] = 'x' or [A"));
  EXPECT_FALSE(run());
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  window.choice = QStringLiteral("Title Case");
  EXPECT_FALSE(run());
  EXPECT_EQ(boxes.errorReports().size(), 2);
  EXPECT_TRUE(statements.recorder.all.isEmpty());
  EXPECT_TRUE(boxes.informs().isEmpty());
  EXPECT_EQ(folders.snapshot(), before);
}

TEST_F(RunTest, TwoHundredThousandDistinctValuesAreUpdatedInSeconds) {
  pdx::PosixFileOps files;
  pdx::generateTable(files, folders.path(QStringLiteral("BIG.db")).toStdString(),
                     pdx::GenerateSettings{200000, 200000, 7, 0});
  useTable(QStringLiteral("BIG"), QStringLiteral("Name"));
  std::chrono::steady_clock::time_point first, last;
  struct Stopwatch final : ado::StatementLog {
    std::chrono::steady_clock::time_point& first;
    std::chrono::steady_clock::time_point& last;
    int updates = 0;
    Stopwatch(std::chrono::steady_clock::time_point& a, std::chrono::steady_clock::time_point& b)
        : first(a), last(b) {}
    void received(const QString&, const QString& statement) override {
      if (!statement.startsWith(QStringLiteral("update ["))) return;
      (updates++ == 0 ? first : last) = std::chrono::steady_clock::now();
    }
  } stopwatch(first, last);
  Run::RunServices services{boxes, time, time, folders.programFolder(), ado::Seams{&stopwatch, nullptr}};
  EXPECT_TRUE(Run::PushButton1_Click(window, services));
  EXPECT_EQ(stopwatch.updates, 200000);
  const double seconds = std::chrono::duration<double>(last - first).count();
  // A scan of the table for each value would take hours; even the
  // sanitizer build stays well inside this.
  EXPECT_LT(seconds, 90.0);
  RecordProperty("update_loop_seconds", std::to_string(seconds));
  EXPECT_TRUE(boxes.errorReports().isEmpty()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
}

// PEOPLE: keyed on Name in the sort order "ascii", Town indexed by .X02/.Y02.
class IndexedRunTest : public RunTest {
 protected:
  void make(const std::vector<Person>& rows) {
    WriteIndexedPeople(folders.dataFolder().toStdString(), rows);
    QFile validity(folders.path(QStringLiteral("PEOPLE.VAL")));
    ASSERT_TRUE(validity.open(QIODevice::WriteOnly));
    validity.write("validity checks");
  }
  void runOn(const QString& field, const QString& choice) {
    useTable(QStringLiteral("PEOPLE"), field);
    window.choice = choice;
    before = folders.snapshot();
  }
  QStringList column(std::size_t field) const {
    QStringList values;
    for (const auto& row : ReadTable(folders.path(QStringLiteral("PEOPLE.DB"))).rows) values << row[field].toText();
    return values;
  }
  const std::vector<Person> people{{"eve", "york", 31}, {"Bob", "Leeds", 40}, {"adam", "bath", 25}, {"Dora", "Ayr", 52}};
  std::map<QString, QByteArray> before;
};

TEST_F(IndexedRunTest, AKeyFieldInAnAsciiOrderIsChangedWithoutAQuestionAndTheRecordsReSorted) {
  make(people);
  runOn(QStringLiteral("Name"), QStringLiteral("UPPER CASE"));
  EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(boxes.questions().isEmpty());
  EXPECT_EQ(boxes.informs(), QStringList{QStringLiteral("Done.")});
  EXPECT_EQ(column(0), (QStringList{"ADAM", "BOB", "DORA", "EVE"}));
  EXPECT_EQ(column(1), (QStringList{"bath", "Leeds", "Ayr", "york"}));
  EXPECT_EQ(column(2), (QStringList{"25", "40", "52", "31"}));
  EXPECT_EQ(pdx::checkTable(folders.path(QStringLiteral("PEOPLE.DB")).toStdString()), std::vector<std::string>{});
  const auto after = folders.snapshot();
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.at(QStringLiteral("PEOPLE.VAL")), before.at(QStringLiteral("PEOPLE.VAL")));
}

TEST_F(IndexedRunTest, AnIndexedFieldRebuildsItsIndexAndLeavesTheKeyAsItWas) {
  make(people);
  runOn(QStringLiteral("Town"), QStringLiteral("lower case"));
  EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(boxes.questions().isEmpty());
  EXPECT_EQ(column(0), (QStringList{"Bob", "Dora", "adam", "eve"}));
  EXPECT_EQ(column(1), (QStringList{"leeds", "ayr", "bath", "york"}));
  EXPECT_EQ(pdx::checkTable(folders.path(QStringLiteral("PEOPLE.DB")).toStdString()), std::vector<std::string>{});
  const auto after = folders.snapshot();
  for (const char* kept : {"PEOPLE.PX", "PEOPLE.VAL"})
    EXPECT_EQ(after.at(QLatin1String(kept)), before.at(QLatin1String(kept))) << kept;
}

TEST_F(IndexedRunTest, AKeyCollisionIsReportedNamingBothValuesAndTheFolderIsUnchanged) {
  make({{"smith", "Ayr", 1}, {"jones", "Bath", 2}, {"Smith", "Cork", 3}});
  runOn(QStringLiteral("Name"), QStringLiteral("UPPER CASE"));
  EXPECT_FALSE(run());
  ASSERT_EQ(boxes.errorReports().size(), 1);
  const QString report = boxes.errorReports().front();
  EXPECT_TRUE(report.contains(QStringLiteral("\"Smith\" and \"smith\""))) << report.toStdString();
  EXPECT_TRUE(report.contains(QStringLiteral("\"Name\""))) << report.toStdString();
  EXPECT_TRUE(boxes.informs().isEmpty());
  EXPECT_EQ(folders.snapshot(), before);
  // The failed run's working copy went with it.
  EXPECT_EQ(folders.scratchTables(), QStringList{});
}

}  // namespace
}  // namespace orl::test
