#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"
#include "tests/support/DataAccessFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace orl::ado {
namespace {

QString scratchString(const test::DataFolders& folders) {
  return QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=") + folders.programFolder() +
         QStringLiteral("/dbTemp.mdb;JET OLEDB:Database Password=");
}

class ScratchDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection.setMode(adModeReadWrite);
    connection.open(scratchString(folders));
  }
  std::vector<Value> onlyRow(const QString& sql) {
    RecordSet records;
    records.open(sql, connection, adOpenStatic, adLockOptimistic);
    EXPECT_EQ(records.recordCount(), 1);
    std::vector<Value> row;
    for (int i = 0; i < records.fields().count(); ++i) row.push_back(records.fields().item(i).value());
    return row;
  }
  test::DataFolders folders;
  test::StatementRecorder recorder;
  Connection connection{Seams{&recorder, nullptr}};
};

TEST_F(ScratchDatabaseTest, ValuesKeepTheirKindAndExactValue) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`M` MEMO,`A` TEXT,`D` DECIMAL,`F` FLOAT,`I` INT,`W` DATETIME,"
                                    "`B` OLEOBJECT,`Y` TEXT);"));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('007', '1.50', '-12.340', '0.30000000000000004', "
                                    "'2147483647', '2004-02-29 23:59:59.999', X'00FF10', 'It''s')"));
  const auto row = onlyRow(QStringLiteral("select * from [T]"));
  EXPECT_EQ(row[0], Value::text(QStringLiteral("007")));
  EXPECT_EQ(row[1], Value::text(QStringLiteral("1.50")));
  EXPECT_EQ(row[2], Value::decimal({"-12.340"}));
  EXPECT_EQ(row[3], Value::real(0.1 + 0.2));
  EXPECT_EQ(row[4], Value::int32(2147483647));
  EXPECT_EQ(row[5], Value::timestamp({{2004, 2, 29}, {86399999}}));
  EXPECT_EQ(row[6], Value::bytes({0x00, 0xFF, 0x10}));
  EXPECT_EQ(row[7], Value::text(QStringLiteral("It's")));
}

TEST_F(ScratchDatabaseTest, NumbersOnlyConvertFromTheirOwnStandardForm) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`I` INT,`J` INT,`F` FLOAT,`G` FLOAT);"));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('007', '1.5', '1e+20', NULL)"));
  const auto row = onlyRow(QStringLiteral("SELECT * FROM `T`"));
  EXPECT_EQ(row[0], Value::text(QStringLiteral("007")));
  EXPECT_EQ(row[1], Value::real(1.5));
  EXPECT_EQ(row[2], Value::real(1e20));
  EXPECT_TRUE(row[3].isNull());
  EXPECT_THROW(connection.execute(QStringLiteral("INSERT INTO `T` VALUES(NULL, NULL, 'nan', NULL)")), Error);
}

TEST_F(ScratchDatabaseTest, DoubledQuotesAnywhereInAValueReadAsOne) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`A` TEXT,`B` TEXT,`C` TEXT,`D` TEXT,`E` TEXT);"));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('''start', 'end''', 'a''b''''c', '''', 'plain, '' ')"));
  const auto row = onlyRow(QStringLiteral("SELECT * FROM `T`"));
  EXPECT_EQ(row, (std::vector<Value>{Value::text(QStringLiteral("'start")), Value::text(QStringLiteral("end'")),
                                     Value::text(QStringLiteral("a'b''c")), Value::text(QStringLiteral("'")),
                                     Value::text(QStringLiteral("plain, ' "))}));
  EXPECT_THROW(connection.execute(QStringLiteral("INSERT INTO `T` VALUES('a', 'b', 'c', 'd', 'e'')")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("INSERT INTO `T` VALUES('a'', 'b', 'c', 'd', 'e')")), Error);
}

TEST_F(ScratchDatabaseTest, ReportsColumnTypesAsAdoNumbers) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`A` TEXT,`M` MEMO,`I` INT,`F` FLOAT,`D` DECIMAL,`W` DATETIME,"
                                    "`B` OLEOBJECT);"));
  RecordSet records;
  records.open(QStringLiteral("select * from [T]"), connection, adOpenStatic, adLockOptimistic);
  std::vector<int> types;
  for (int i = 0; i < records.fields().count(); ++i) types.push_back(records.fields().item(i).type());
  EXPECT_EQ(types, (std::vector<int>{202, 203, 3, 5, 131, 7, 205}));
  EXPECT_TRUE(records.eof());
  EXPECT_THROW(records.fields().item(0).value(), Error);
}

TEST_F(ScratchDatabaseTest, SchemaListsTablesViewsAndSystemTables) {
  connection.execute(QStringLiteral("CREATE TABLE `Orders`(`A` TEXT);"));
  connection.execute(QStringLiteral("CREATE VIEW ORDERVIEW AS SELECT * FROM Orders"));
  connection.execute(QStringLiteral("CREATE TABLE counted(id INTEGER PRIMARY KEY AUTOINCREMENT)"));
  RecordSet schema;
  schema.openSchema(connection, adSchemaTables);
  std::map<QString, QString> kinds;
  for (; !schema.eof(); schema.moveNext())
    kinds[schema.value(QStringLiteral("TABLE_NAME")).toText()] = schema.value(QStringLiteral("table_type")).toText();
  EXPECT_EQ(kinds[QStringLiteral("Orders")], QStringLiteral("TABLE"));
  EXPECT_EQ(kinds[QStringLiteral("ORDERVIEW")], QStringLiteral("VIEW"));
  EXPECT_EQ(kinds[QStringLiteral("sqlite_sequence")], QStringLiteral("SYSTEM TABLE"));
}

TEST_F(ScratchDatabaseTest, RefusesWhatItWouldOtherwiseIgnoreOrMisread) {
  EXPECT_THROW(connection.execute(QStringLiteral("CREATE TABLE `T`(`A` VARCHAR);")), Error);
  connection.execute(QStringLiteral("CREATE TABLE `T`(`A` TEXT,`B` TEXT);"));
  EXPECT_THROW(connection.execute(QStringLiteral("INSERT INTO `T` VALUES('x')")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("INSERT INTO `T` VALUES('x', 'unclosed)")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("DROP TABLE [T]; DROP TABLE [U]")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("select nothing from [Nowhere]")), Error);
  EXPECT_EQ(recorder.all.size(), 6);
}

// The values of one column of T, in row order, as text ("(null)", "(n bytes)" for the others).
QStringList columnOf(Connection& connection, const QString& column) {
  RecordSet records;
  records.open(QStringLiteral("select %1 from T order by rowid").arg(column), connection, adOpenStatic,
               adLockOptimistic);
  QStringList values;
  for (; !records.eof(); records.moveNext()) {
    const Value& value = records.fields().item(0).value();
    values << (value.isNull()                      ? QStringLiteral("(null)")
               : value.kind() == Value::Kind::Bytes ? QStringLiteral("(%1 bytes)").arg(value.asBytes().size())
                                                    : value.toText());
  }
  return values;
}

QStringList distinctOf(Connection& connection, const QString& sql) {
  RecordSet records;
  records.open(sql, connection, adOpenStatic, adLockOptimistic);
  QStringList values;
  for (; !records.eof(); records.moveNext()) {
    const Value& value = records.fields().item(0).value();
    values << (value.isNull() ? QStringLiteral("(null)")
               : value.kind() == Value::Kind::Bytes ? QStringLiteral("(bytes)") : value.toText());
  }
  return values;
}

TEST_F(ScratchDatabaseTest, ATextFieldsDistinctValuesAndUpdatesNeedNoIndexAndKeepUpWithEveryChange) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`rowid` TEXT,`City` TEXT,`Day` DATETIME);"));
  for (const char* row : {"'1', 'b', '2001-01-01'", "'2', 'a', '2001-01-02'", "'3', NULL, NULL", "'4', X'01', NULL",
                          "'5', 'é', NULL", "'6', 'B', NULL", "'7', 'a', NULL"})
    connection.execute(QStringLiteral("INSERT INTO `T` VALUES(%1)").arg(QString::fromUtf8(row)));
  // In the order an index gives them: null, texts by their bytes, blobs; as SQLite sorts them itself.
  const QStringList expected{"(null)", "B", "a", "b", "é", "(bytes)"};
  EXPECT_EQ(distinctOf(connection, QStringLiteral("SELECT distinct `City` FROM `T`")), expected);
  EXPECT_EQ(distinctOf(connection, QStringLiteral("SELECT distinct City FROM T ORDER BY City")), expected);

  // A chain of updates reaches the rows an earlier one changed.
  connection.execute(QStringLiteral("update [T] set [City]='b' where [City]='a'"));
  connection.execute(QStringLiteral("update [T] set [City]='B' where [City]='b'"));
  connection.execute(QStringLiteral("update [T] set [City]='' where [City] is null "));
  EXPECT_EQ(columnOf(connection, QStringLiteral("City")),
            (QStringList{"B", "B", "", "(1 bytes)", "é", "B", "B"}));

  // Another connection's change between two updates is seen by the next.
  {
    Connection other{Seams{&recorder, nullptr}};
    other.setMode(adModeReadWrite);
    other.open(scratchString(folders));
    other.execute(QStringLiteral("INSERT INTO `T` VALUES('8', 'é', NULL)"));
    other.close();
  }
  connection.execute(QStringLiteral("update [T] set [City]='É' where [City]='é'"));
  // So is this connection's own statement of another form.
  connection.execute(QStringLiteral("INSERT INTO T(rowid, City) VALUES('9', 'B')"));
  connection.execute(QStringLiteral("update [T] set [City]='x' where [City]='B'"));
  EXPECT_EQ(columnOf(connection, QStringLiteral("City")),
            (QStringList{"x", "x", "", "(1 bytes)", "É", "x", "x", "É", "x"}));
  // A column named rowid keeps its own values.
  EXPECT_EQ(columnOf(connection, QStringLiteral("\"rowid\"")).first(), QStringLiteral("1"));

  // No index was made for the text field; a field of another type finds its rows through one.
  const auto indexes = [&] {
    return onlyRow(QStringLiteral("select count(*) from sqlite_master where type = 'index' and tbl_name = 'T'"))[0];
  };
  EXPECT_EQ(indexes(), Value::int32(0));
  connection.execute(QStringLiteral("update [T] set [Day]='2002-02-02' where [Day]='2001-01-02'"));
  EXPECT_EQ(indexes(), Value::int32(1));
  EXPECT_EQ(columnOf(connection, QStringLiteral("Day")).mid(0, 2),
            (QStringList{"2001-01-01", "2002-02-02"}));

  // A trigger may change the field behind the updates' backs: they find their rows by the field itself.
  connection.execute(QStringLiteral("CREATE TRIGGER follow AFTER UPDATE OF City ON T WHEN new.City = 'y' "
                                    "BEGIN UPDATE T SET City = 'y' WHERE City = 'É'; END"));
  connection.execute(QStringLiteral("update [T] set [City]='y' where [City]='x'"));
  connection.execute(QStringLiteral("update [T] set [City]='z' where [City]='y'"));
  EXPECT_EQ(columnOf(connection, QStringLiteral("City")),
            (QStringList{"z", "z", "", "(1 bytes)", "z", "z", "z", "z", "z"}));
}

TEST_F(ScratchDatabaseTest, ThousandsOfDistinctValuesEachReachTheirOwnRows) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`N` INT,`City` TEXT);"));
  for (int row = 0; row < 6000; ++row)
    connection.execute(QStringLiteral("INSERT INTO `T` VALUES('%1', 'town %2')").arg(row).arg(row % 3000));
  const QStringList towns = distinctOf(connection, QStringLiteral("SELECT distinct `City` FROM `T`"));
  ASSERT_EQ(towns.size(), 3000);
  EXPECT_TRUE(std::is_sorted(towns.begin(), towns.end()));
  // Each value to a text no row holds yet: every update finds its own two rows among thousands.
  for (const QString& town : towns)
    connection.execute(QStringLiteral("update [T] set [City]='%1' where [City]='%2'").arg(town + QLatin1Char('+'), town));
  const QStringList after = columnOf(connection, QStringLiteral("City"));
  ASSERT_EQ(after.size(), 6000);
  for (int row = 0; row < 6000; ++row) ASSERT_EQ(after[row], QStringLiteral("town %1+").arg(row % 3000)) << row;
}

TEST_F(ScratchDatabaseTest, TheRunsUpdateFormsChangeExactlyTheirRowsWhateverTheQuotes) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`N` INT,`City` TEXT);"));
  for (const char* row : {"'1', 'o''hara'", "'2', 'o''hara'", "'3', 'it''''s'", "'4', NULL", "'5', 'x'"})
    connection.execute(QStringLiteral("INSERT INTO `T` VALUES(%1)").arg(QLatin1String(row)));
  connection.execute(QStringLiteral("update [T] set [City]='O''HARA' where [City]='o''hara'"));
  connection.execute(QStringLiteral("update [T] set [City]='IT''''S' where [City]='it''''s'"));
  connection.execute(QStringLiteral("update [T] set [City]='' where [City] is null "));
  // Not one of the two forms: carried out as it is written.
  connection.execute(QStringLiteral("update [T] set [City]='Y' where [City]='x' and [N]=5"));
  RecordSet records;
  records.open(QStringLiteral("select City from T order by N"), connection, adOpenStatic, adLockOptimistic);
  QStringList cities;
  for (; !records.eof(); records.moveNext()) cities << records.fields().item(0).value().toText();
  EXPECT_EQ(cities, (QStringList{"O'HARA", "O'HARA", "IT''S", "", "Y"}));
  EXPECT_THROW(connection.execute(QStringLiteral("update [T] set [Town]='A' where [Town]='a'")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("update [U] set [City]='A' where [City]='a'")), Error);
}

TEST_F(ScratchDatabaseTest, BatchedChangesAreSeenByEveryOtherConnectionAtOnce) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`City` TEXT);"));
  Connection openedBefore{Seams{}};
  openedBefore.setMode(adModeReadWrite);
  openedBefore.open(scratchString(folders));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('a')"));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('b')"));
  connection.execute(QStringLiteral("update [T] set [City]='A' where [City]='a'"));
  const auto count = [&](Connection& reader) {
    RecordSet records;
    records.open(QStringLiteral("select count(*) from T where City in ('A', 'b')"), reader, adOpenStatic,
                 adLockOptimistic);
    return records.fields().item(0).value().asInteger();
  };
  EXPECT_EQ(count(openedBefore), 2);
  connection.execute(QStringLiteral("update [T] set [City]='B' where [City]='b'"));
  Connection openedAfter{Seams{}};
  openedAfter.setMode(adModeReadWrite);
  openedAfter.open(scratchString(folders));
  EXPECT_EQ(count(openedAfter), 1);
  // The other connection may now change the table: nothing holds it locked.
  openedAfter.execute(QStringLiteral("DROP TABLE `T`"));
}

TEST_F(ScratchDatabaseTest, AnOpenRecordSetKeepsTheRowsAsTheyWereWhenItOpened) {
  connection.execute(QStringLiteral("CREATE TABLE `T`(`N` INT,`City` TEXT);"));
  for (int n = 1; n <= 5; ++n)
    connection.execute(QStringLiteral("INSERT INTO `T` VALUES('%1', 'c%1')").arg(n));
  RecordSet records;
  // No ordering: SQLite would sort every row at the first read, and the rows
  // would then not be read from the table as the caller goes.
  records.open(QStringLiteral("select City from T where N > 1"), connection, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(records.recordCount(), 4);
  records.moveNext();
  // The same connection changes rows read and rows not yet read, and adds one.
  connection.execute(QStringLiteral("update [T] set [City]='X' where [City]='c2'"));
  connection.execute(QStringLiteral("update [T] set [City]='Y' where [City]='c4'"));
  connection.execute(QStringLiteral("INSERT INTO `T` VALUES('6', 'c6')"));
  QStringList cities;
  for (; !records.eof(); records.moveNext()) cities << records.fields().item(0).value().toText();
  EXPECT_EQ(cities, (QStringList{"c3", "c4", "c5"}));

  RecordSet outliving;
  outliving.open(QStringLiteral("select City from T where N > 0"), connection, adOpenStatic, adLockOptimistic);
  connection.close();
  cities.clear();
  for (; !outliving.eof(); outliving.moveNext()) cities << outliving.fields().item(0).value().toText();
  EXPECT_EQ(cities, (QStringList{"c1", "X", "c3", "Y", "c5", "c6"}));
  EXPECT_EQ(outliving.recordCount(), 6);
}

TEST_F(ScratchDatabaseTest, StatementsThatAreNoQueriesGiveTheirRowsCounted) {
  RecordSet pragma;
  pragma.open(QStringLiteral("PRAGMA journal_mode"), connection, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(pragma.recordCount(), 1);
  EXPECT_EQ(pragma.fields().item(0).value().toText(), QStringLiteral("wal"));
  connection.execute(QStringLiteral("CREATE TABLE `T`(`N` INT);"));
  RecordSet returning;
  returning.open(QStringLiteral("INSERT INTO T VALUES (1), (2) RETURNING N"), connection, adOpenStatic,
                 adLockOptimistic);
  EXPECT_EQ(returning.recordCount(), 2);
  EXPECT_EQ(onlyRow(QStringLiteral("select count(*) from T"))[0], Value::int32(2));
}

TEST(ScratchDatabaseOpen, AMissingFileIsAnErrorNamingIt) {
  test::DataFolders folders;
  QFile::remove(folders.scratchFile());
  Connection connection;
  try {
    connection.open(scratchString(folders));
    FAIL() << "opened a missing scratch database";
  } catch (const Error& error) {
    EXPECT_TRUE(error.description().contains(folders.scratchFile())) << error.description().toStdString();
  }
  EXPECT_FALSE(QFile::exists(folders.scratchFile()));
}

// Opens the scratch database as a user whom file permissions bind (nobody,
// when the tests run as root) and exits 0 when the open is refused with a
// reason that names what cannot be written.
[[noreturn]] void openAsOrdinaryUser(const QString& connectionString) {
  if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(3);
  try {
    Connection connection;
    connection.setMode(adModeReadWrite);
    connection.open(connectionString);
  } catch (const Error& error) {
    std::fputs(error.description().toUtf8().constData(), stderr);
    std::_Exit(error.description().contains(QStringLiteral("cannot be written")) ? 0 : 1);
  }
  std::_Exit(2);
}

TEST(ScratchDatabaseOpen, AScratchDatabaseThisUserCannotWriteIsRefusedBeforeAnyChange) {
  test::DataFolders folders;
  const QString program = folders.programFolder();
  const auto readable = QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther | QFile::ExeOwner |
                        QFile::ExeGroup | QFile::ExeOther;
  ASSERT_TRUE(QFile(QFileInfo(program).absolutePath()).setPermissions(readable | QFile::WriteOwner));
  ASSERT_TRUE(QFile(program).setPermissions(readable | QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther));
  const QByteArray before = [&] {
    QFile file(folders.scratchFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }();

  // A file only its owner may change, as a system-wide install leaves it.
  ASSERT_TRUE(QFile(folders.scratchFile()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                          QFile::ReadOther));
  EXPECT_EXIT(openAsOrdinaryUser(scratchString(folders)), ::testing::ExitedWithCode(0), "dbTemp.mdb");

  // A file anyone may change, in a folder where its journal cannot be made.
  ASSERT_TRUE(QFile(folders.scratchFile()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                          QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther));
  ASSERT_TRUE(QFile(program).setPermissions(readable | QFile::WriteOwner));
  EXPECT_EXIT(openAsOrdinaryUser(scratchString(folders)), ::testing::ExitedWithCode(0), "program");

  QFile file(folders.scratchFile());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), before);
  EXPECT_EQ(QDir(program).entryList(QDir::Files), QStringList{QStringLiteral("dbTemp.mdb")});
}

TEST(ScratchDatabaseOpen, AFileThatIsNoDatabaseIsRefused) {
  test::DataFolders folders;
  QFile file(folders.scratchFile());
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(QByteArray(4096, 'x'));
  file.close();
  Connection connection;
  EXPECT_THROW(connection.open(scratchString(folders)), Error);
}

}  // namespace
}  // namespace orl::ado
