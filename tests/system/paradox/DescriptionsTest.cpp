// Every description the data-access layer and the Paradox routines raise,
// each provoked for real, as the user reads it in the error report: in the
// program's own words (no component of another platform named) and, where
// the user can do something about it, saying what.
#include "platform/ado/Connection.h"
#include "platform/ado/ParadoxValues.h"
#include "platform/ado/RecordSet.h"
#include "platform/ado/ScratchDatabase.h"
#include "platform/common/Error.h"
#include "system/case/Case.h"
#include "system/paradox/Paradox.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/TableFiles.h"

#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <functional>
#include <memory>

namespace orl::Paradox {
namespace {

using pdx::FieldType;

// A Paradox folder holding table T (field A, two rows) and a program folder
// with an empty scratch database, and the connections a row needs.
class Situation {
 public:
  Situation() {
    test::WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 10}},
                     {{std::string("x")}, {std::string("y")}});
  }
  QString data() const { return folders.dataFolder(); }
  QString scratchFile() const { return folders.scratchFile(); }

  ado::Connection& paradox() {
    if (!paradox_) {
      paradox_ = std::make_unique<ado::Connection>();
      paradox_->open(ParadoxConnectionString(data()));
    }
    return *paradox_;
  }
  ado::Connection& scratch() {
    if (!scratch_) {
      scratch_ = std::make_unique<ado::Connection>();
      scratch_->open(ScratchConnectionString(folders.programFolder()));
    }
    return *scratch_;
  }
  DataAccess access() { return DataAccess{folderText_, folders.programFolder(), time_, {}}; }
  void overwrite(const QString& path, const QByteArray& bytes, qint64 at = 0) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.seek(at));
    ASSERT_EQ(file.write(bytes), bytes.size());
  }

  test::DataFolders folders;

 private:
  FixedFolderText folderText_{folders.dataFolder()};
  test::FakeTime time_{0};
  std::unique_ptr<ado::Connection> paradox_;
  std::unique_ptr<ado::Connection> scratch_;
};

struct Row {
  const char* name;
  std::function<void(Situation&)> provoke;
  // The whole description; {data} and {scratch} stand for the data folder
  // and the scratch database file. A trailing "…" matches any rest.
  const char* description;
};

QString Expected(const Row& row, const Situation& situation) {
  return QString::fromUtf8(row.description)
      .replace(QStringLiteral("{data}"), situation.data())
      .replace(QStringLiteral("{scratch}"), situation.scratchFile());
}

std::ostream& operator<<(std::ostream& out, const Row& row) { return out << row.name; }

const Row Rows[] = {
    // The Paradox folder.
    {"MissingFolder",
     [](Situation& s) { ado::Connection().open(ParadoxConnectionString(s.data() + QStringLiteral("/none"))); },
     "The Paradox folder '{data}/none' does not exist or is not a folder. Correct the folder on the setup window "
     "(\"Setup Paradox Connection\")."},
    {"TableGone",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `GONE`"), s.paradox());
     },
     "The table 'GONE' is no longer in the folder '{data}': it was renamed, moved or deleted after the table list "
     "was made. Start the program again to list the folder's tables as they are now."},
    {"TwoFilesDifferingInCase",
     [](Situation& s) {
       test::WriteTable(s.folders.path(QStringLiteral("t.DB")), {{"A", FieldType::Alpha, 10}}, {});
       s.paradox().execute(QStringLiteral("SELECT * FROM `T`"));
     },
     "The folder holds more than one file for table 'T' (t.DB, T.db), differing only in letter case; rename all "
     "but one."},
    {"PasswordProtected",
     [](Situation& s) {
       s.overwrite(s.folders.path(QStringLiteral("T.db")), QByteArray("\x01\x02\x03\x04", 4), 0x5C);
       s.paradox().execute(QStringLiteral("SELECT * FROM `T`"));
     },
     "The table 'T' is protected by a password; it is not read. Remove the password in Paradox first, or leave "
     "the table alone."},
    {"FieldGone", [](Situation& s) { s.paradox().execute(QStringLiteral("SELECT `B` FROM `T`")); },
     "The table 'T' has no field 'B' (any more): click the table to list its fields again."},
    {"LockFile",
     [](Situation& s) {
       QFile(s.folders.path(QStringLiteral("t.LCK"))).open(QIODevice::WriteOnly);
       s.paradox().execute(QStringLiteral("DROP TABLE `T`"));
     },
     "The table 'T' is in use by another program (its lock file t.LCK is in the folder); close the table there and "
     "try again."},
    {"LockedFile",
     [](Situation& s) {
       const int held = ::open(QFile::encodeName(s.folders.path(QStringLiteral("T.db"))).constData(), O_RDONLY);
       ASSERT_EQ(::flock(held, LOCK_EX), 0);
       try {
         s.paradox().execute(QStringLiteral("DROP TABLE `T`"));
       } catch (...) {
         ::close(held);
         throw;
       }
       ::close(held);
     },
     "The table 'T' is in use by another program (a process holds a lock on T.db); close the table there and try "
     "again."},
    {"ReadOnlyFile",
     [](Situation& s) {
       QFile(s.folders.path(QStringLiteral("T.db"))).setPermissions(QFile::ReadOwner);
       s.paradox().execute(QStringLiteral("DROP TABLE `T`"));
     },
     "The file 'T.db' of table 'T' is read-only; make it writable to change the table."},
    {"DamagedTable",
     [](Situation& s) {
       QFile file(s.folders.path(QStringLiteral("T.db")));
       ASSERT_TRUE(file.resize(100));
       s.paradox().execute(QStringLiteral("SELECT * FROM `T`"));
     },
     "{data}/T.db…"},
    {"ReadAfterDrop",
     [](Situation& s) {
       s.paradox().execute(QStringLiteral("DROP TABLE `T`"));
       s.paradox().execute(QStringLiteral("SELECT * FROM `T`"));
     },
     "Internal error: the table 'T' was read after it had been dropped."},
    {"StatementTheFolderDoesNotRead", [](Situation& s) { s.paradox().execute(QStringLiteral("DELETE FROM `T`")); },
     "Internal error: the Paradox folder reader was given a statement it does not read: DELETE FROM `T`"},
    {"FolderSchema", [](Situation& s) { s.paradox().openSchema(99); },
     "Internal error: the Paradox folder reader offers no schema 99."},

    // Connections and record sets.
    {"NoDataSource", [](Situation&) { ado::Connection().open(QStringLiteral("Driver={Nothing};")); },
     "Internal error: no data source of this program takes the connection asked for."},
    {"ClosedConnection", [](Situation&) { ado::Connection().execute(QStringLiteral("SELECT 1")); },
     "Internal error: a connection was used while it was closed."},
    {"ModeOfAnOpenConnection", [](Situation& s) { s.paradox().setMode(ado::adModeReadWrite); },
     "Internal error: the mode of an open connection was set."},
    {"OpenConnectionOpenedAgain", [](Situation& s) { s.paradox().open(ParadoxConnectionString(s.data())); },
     "Internal error: an open connection was opened again."},
    {"UnknownCursorLocation", [](Situation&) { ado::Connection().setCursorLocation(9); },
     "Cursor location 9 is not known."},
    {"RecordSetOpenedAgain",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox());
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox());
     },
     "Internal error: an open record set was opened again."},
    {"UnknownCursorType",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox(), 7, 3);
     },
     "Cursor type 7 or lock type 3 is not known."},
    {"ClosedRecordSet", [](Situation&) { ado::RecordSet().eof(); },
     "Internal error: a record set was used while it was closed."},
    {"PastTheLastRow",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox());
       while (!records.eof()) records.moveNext();
       records.fields().item(0).value();
     },
     "Internal error: a value was read past the last row of a record set."},
    {"NoSuchColumn",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox());
       records.fields().item(3);
     },
     "Internal error: a record set has no column 3."},
    {"NoSuchNamedColumn",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("SELECT * FROM `T`"), s.paradox());
       records.value(QStringLiteral("B"));
     },
     "Internal error: a record set has no column 'B'."},
    {"StatementWithoutRows",
     [](Situation& s) {
       ado::RecordSet records;
       records.open(QStringLiteral("CREATE TABLE `U`(`A` TEXT)"), s.scratch());
     },
     "Internal error: the statement gives no rows to open a record set on: CREATE TABLE `U`(`A` TEXT)"},

    // The scratch database.
    {"ScratchMissing",
     [](Situation& s) {
       QFile::remove(s.scratchFile());
       s.scratch();
     },
     "The scratch database '{scratch}' is missing. Install the program again, or copy dbTemp.mdb from the "
     "build's bin folder into the program folder."},
    {"ScratchNotADatabase",
     [](Situation& s) {
       QFile::remove(s.scratchFile());
       s.overwrite(s.scratchFile(), QByteArray(4096, 'x'));
       s.scratch();
     },
     "The scratch database '{scratch}' is not a database this program can use (…"},
    {"ScratchPassword",
     [](Situation& s) {
       ado::Connection().open(ScratchConnectionString(s.folders.programFolder()) + QStringLiteral("secret"));
     },
     "Internal error: the scratch connection names a password, which dbTemp.mdb never has. Install the program "
     "again."},
    {"StatementRefused", [](Situation& s) { s.scratch().execute(QStringLiteral("SELECT * FROM `NOPE`")); },
     "The scratch database refused a statement: no such table: NOPE (statement: SELECT * FROM `NOPE`)"},
    {"EmptyStatement", [](Situation& s) { s.scratch().execute(QStringLiteral(" ")); },
     "Internal error: an empty statement:  "},
    {"TwoStatements", [](Situation& s) { s.scratch().execute(QStringLiteral("SELECT 1; SELECT 2")); },
     "Internal error: more than one statement was sent at once: SELECT 1; SELECT 2"},
    {"UnreadableDefinition", [](Situation& s) { s.scratch().execute(QStringLiteral("CREATE TABLE `U`(A TEXT);")); },
     "Internal error: the scratch table's definition cannot be read: `U`(A TEXT);"},
    {"UnknownColumnType", [](Situation& s) { s.scratch().execute(QStringLiteral("CREATE TABLE `U`(`A` WHAT);")); },
     "Internal error: the column type 'WHAT' of column 'A' is not known."},
    {"ScratchCopyMissing",
     [](Situation& s) {
       s.scratch().execute(QStringLiteral("select top 1 * into [Paradox 5.x;Database=") + s.data() +
                           QStringLiteral("/].[T.db] from [T]"));
     },
     "The scratch copy of table 'T' is missing from the scratch database. Start the case change again."},
    {"RowCountTooLarge",
     [](Situation& s) {
       s.scratch().execute(QStringLiteral("select top 99999999999999999999 * into [Paradox 5.x;Database=") +
                           s.data() + QStringLiteral("/].[T.db] from [T]"));
     },
     "Internal error: the row count is too large: select top 99999999999999999999 *…"},
    {"UnreadableRow",
     [](Situation& s) {
       s.scratch().execute(QStringLiteral("CREATE TABLE `U`(`A` TEXT)"));
       s.scratch().execute(QStringLiteral("INSERT INTO `U` VALUES(x)"));
     },
     "Internal error: a row to copy cannot be read: INSERT INTO `U` VALUES(x)"},
    {"RowOfAnotherWidth",
     [](Situation& s) {
       s.scratch().execute(QStringLiteral("CREATE TABLE `U`(`A` TEXT)"));
       s.scratch().execute(QStringLiteral("INSERT INTO `U` VALUES('a', 'b')"));
     },
     "Internal error: a row to copy has another number of values than its table has fields: INSERT INTO `U` "
     "VALUES('a', 'b')"},
    {"NumberThatCannotBeKept",
     [](Situation& s) {
       s.scratch().execute(QStringLiteral("CREATE TABLE `U`(`N` FLOAT);"));
       s.scratch().execute(QStringLiteral("INSERT INTO `U` VALUES('nan')"));
     },
     "The value nan of field N cannot be kept unchanged in the scratch database."},
    {"ScratchSchema",
     [](Situation& s) {
       ado::RecordSet records;
       records.openSchema(s.scratch(), 99);
     },
     "Internal error: the scratch database offers no schema 99."},
    {"NothingToPutInPlace",
     [](Situation& s) { dynamic_cast<ado::ScratchDatabase&>(s.scratch().provider()).commitExport(); },
     "Internal error: no exported table is waiting to be put in place."},

    // Values.
    {"BinaryAsText", [](Situation&) { ado::Value::bytes(pdx::Bytes{1, 2, 3}).toText(); },
     "A binary value of 3 bytes has no text form."},
    {"WholeNumberTooLarge",
     [](Situation&) {
       ado::FromParadox(pdx::Value(std::int64_t{1} << 40), FieldType::Long, pdx::CodePage(1252));
     },
     "The whole number 1099511627776 does not fit its field."},

    // The Paradox routines.
    {"EmptyName", [](Situation&) { RequireQuotableName(QString(), QStringLiteral("field")); },
     "The field name is empty."},
    {"NameThatCannotBeQuoted", [](Situation&) { RequireQuotableName(QStringLiteral("A`B"), QStringLiteral("table")); },
     "The table name \"A`B\" holds the character \"`\", which cannot be written in a statement; rename the table "
     "first."},
    // The table reader finds a header counting fewer rows than the table
    // holds before the staging copy could ("holds more rows than its header counts").
    {"HeaderCountingFewerRows",
     [](Situation& s) {
       // The header's record count (at 0x06) says one row where the blocks hold two.
       s.overwrite(s.folders.path(QStringLiteral("T.db")), QByteArray("\x01\x00\x00\x00", 4), 0x06);
       StageTable(QStringLiteral("T"), s.access());
     },
     "{data}/T.db: the header counts 1 records but the data blocks hold 2 (the table is damaged)"},

    // The write-back.
    {"NewValueLongerThanItsField",
     [](Situation& s) {
       StageTable(QStringLiteral("T"), s.access());
       s.folders.scratchStatements("UPDATE T SET A = 'ABCDEFGHIJK' WHERE A = 'x'");
       const FieldChange change{QStringLiteral("A"), Case::Upper, {}, false};
       WriteBackTable(QStringLiteral("T"), s.access(), &change);
     },
     "Field \"A\" of \"{data}/T.db\": the value \"ABCDEFGHIJK\" cannot be written into the table: it is longer "
     "than the field's 10 bytes; the table is left as it was"},
    {"NewTableOtherThanTheRunMeant",
     [](Situation& s) {
       StageTable(QStringLiteral("T"), s.access());
       s.folders.scratchStatements("UPDATE T SET A = 'zz' WHERE A = 'x'");
       const FieldChange change{QStringLiteral("A"), Case::Upper, {}, false};
       WriteBackTable(QStringLiteral("T"), s.access(), &change);
     },
     "The table 'T' was not replaced: The new table \"{data}/.orlintide-new.T.db\" does not match \"{data}/T.db\": "
     "in row 1, field \"A\" holds \"zz\" where it held \"x\". The old table is kept unchanged."},
};

// Not provoked here, with where they are: "cannot be written" (the scratch
// database or its folder read-only; no such thing for the super-user, see
// ScratchDatabaseTest), "cannot be opened" and "cannot be prepared" (SQLite
// itself failing), a lost batch of updates (SQLite failing mid-run), a
// record set of more than 2^31 rows, and "holds more rows than its header
// counts" (the table reader refuses such a header first, as above).

class Descriptions : public ::testing::TestWithParam<Row> {};

TEST_P(Descriptions, AreTheProgramsOwnWords) {
  const Row& row = GetParam();
  Situation situation;
  QString description;
  try {
    row.provoke(situation);
  } catch (const Error& error) {
    description = error.description();
  }
  ASSERT_FALSE(description.isEmpty()) << "nothing was raised";
  // Components of another platform, which nothing here is.
  for (const char* foreign : {"Microsoft", "ODBC", "Jet"})
    EXPECT_FALSE(description.contains(QLatin1String(foreign))) << foreign << " in: " << description.toStdString();
  const QString expected = Expected(row, situation);
  if (expected.endsWith(QChar(0x2026)))
    EXPECT_TRUE(description.startsWith(expected.chopped(1))) << description.toStdString();
  else
    EXPECT_EQ(description.toStdString(), expected.toStdString());
}

INSTANTIATE_TEST_SUITE_P(DataAccess, Descriptions, ::testing::ValuesIn(Rows),
                         [](const ::testing::TestParamInfo<Row>& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace orl::Paradox
