#include "platform/common/Error.h"
#include "system/paradox/Paradox.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/TableFiles.h"

#include <QDir>

#include <gtest/gtest.h>

namespace orl::Paradox {
namespace {

using pdx::FieldType;

class StatementTextTest : public ::testing::Test {
 protected:
  DataAccess access(const QString& folderText) {
    folder_ = std::make_unique<FixedFolderText>(folderText);
    return DataAccess{*folder_, folders.programFolder(), time, ado::Seams{&recorder, nullptr}};
  }
  test::DataFolders folders;
  test::StatementRecorder recorder;
  test::FakeTime time{0};
  std::unique_ptr<FixedFolderText> folder_;
};

TEST(ConnectionStrings, AreBuiltExactlyFromTheirFolders) {
  EXPECT_EQ(ParadoxConnectionString(QStringLiteral("/data/x/ ")),
            QStringLiteral("Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;"
                           "DefaultDir=/data/x/ ;Dbq=/data/x/ ;CollatingSequence=ASCII;"));
  EXPECT_EQ(ScratchConnectionString(QStringLiteral("/opt/orlintide")),
            QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/opt/orlintide/dbTemp.mdb;"
                           "JET OLEDB:Database Password="));
}

TEST(ColumnTypes, EveryNamedAdoTypeGetsItsScratchColumn) {
  const std::map<int, QString> expected = {
      {0, "TEXT"},     {2, "INT"},      {3, "INT"},      {4, "INT"},       {5, "FLOAT"},     {6, "TEXT"},
      {7, "DATETIME"}, {8, "TEXT"},     {9, "TEXT"},     {10, "TEXT"},     {11, "TEXT"},     {12, "TEXT"},
      {13, "TEXT"},    {14, "DECIMAL"}, {16, "INT"},     {17, "INT"},      {18, "INT"},      {19, "INT"},
      {20, "INT"},     {21, "INT"},     {64, "TEXT"},    {72, "TEXT"},     {128, "TEXT"},    {129, "TEXT"},
      {130, "TEXT"},   {131, "INT"},    {132, "TEXT"},   {133, "DATETIME"}, {134, "TEXT"},   {135, "DATETIME"},
      {136, "TEXT"},   {138, "TEXT"},   {139, "INT"},    {200, "TEXT"},    {201, "MEMO"},    {202, "TEXT"},
      {203, "MEMO"},   {204, "TEXT"},   {205, "OLEOBJECT"}, {8192 + 200, "TEXT"}, {-1, "TEXT"}};
  int named = 0;
  for (const auto& [number, column] : expected) {
    const QString name = AdoTypeName(static_cast<std::int16_t>(number));
    named += name.isEmpty() ? 0 : 1;
    EXPECT_EQ(ScratchColumnPiece(name.toLower()), QStringLiteral("` ") + column + QLatin1Char(','))
        << number << " " << name.toStdString();
  }
  EXPECT_EQ(named, 39);
  EXPECT_EQ(AdoTypeName(135), QStringLiteral("adDBTimeStamp"));
}

TEST(Names, ThatTheirQuotingCannotCarryAreRefused) {
  for (const QString& name : {QStringLiteral("A`B"), QStringLiteral("[A"), QStringLiteral("A]"), QString()})
    EXPECT_THROW(RequireQuotableName(name, QStringLiteral("field")), Error) << name.toStdString();
  EXPECT_NO_THROW(RequireQuotableName(QStringLiteral("O'Brien's \"field\" #1"), QStringLiteral("field")));
}

TEST_F(StatementTextTest, StagingSendsTheDefinitionAndOneInsertPerRow) {
  test::WriteTable(folders.path(QStringLiteral("CLIENTS.db")),
                   {{"Name", FieldType::Alpha, 20}, {"Note", FieldType::Alpha, 20}, {"Qty", FieldType::Long, 4}},
                   {{std::string("Smith"), pdx::Null{}, std::int64_t{42}},
                    {std::string("It's"), std::string("  "), pdx::Null{}},
                    {pdx::Null{}, pdx::Null{}, pdx::Null{}}});
  folders.scratchSql("CREATE TABLE clients(x)");
  StageTable(QStringLiteral("CLIENTS"), access(folders.dataFolder()));
  EXPECT_EQ(recorder.paradoxStatements, QStringList{QStringLiteral("SELECT * FROM `CLIENTS`")});
  EXPECT_EQ(recorder.scratchStatements,
            (QStringList{QStringLiteral("DROP TABLE `CLIENTS`"),
                         QStringLiteral("CREATE TABLE `CLIENTS`(`Name` TEXT,`Note` TEXT,`Qty` INT);"),
                         QStringLiteral("INSERT INTO `CLIENTS` VALUES('Smith', NULL, '42')"),
                         QStringLiteral("INSERT INTO `CLIENTS` VALUES('It''s', '  ', NULL)"),
                         QStringLiteral("INSERT INTO `CLIENTS` VALUES(NULL, NULL, NULL)")}));
}

TEST_F(StatementTextTest, WriteBackSendsItsStatementsWithACollapsedFolder) {
  test::WriteTable(folders.path(QStringLiteral("ORDERS.db")), {{"City", FieldType::Alpha, 20}},
                   {{std::string("Oslo")}, {pdx::Null{}}});
  const DataAccess data = access(folders.dataFolder() + QStringLiteral("/"));
  StageTable(QStringLiteral("ORDERS"), data);
  recorder.all.clear();
  recorder.scratchStatements.clear();
  recorder.paradoxStatements.clear();
  WriteBackTable(QStringLiteral("ORDERS"), data);
  EXPECT_EQ(recorder.paradoxStatements, QStringList{QStringLiteral("DROP TABLE `ORDERS`")});
  EXPECT_EQ(recorder.scratchStatements,
            (QStringList{QStringLiteral("select * from [ORDERS]"),
                         QStringLiteral("select top 2 * into [Paradox 5.x;Database=") + folders.dataFolder() +
                             QStringLiteral("/].[ORDERS.db] from [ORDERS]"),
                         QStringLiteral("DROP TABLE [ORDERS]")}))
      << recorder.scratchStatements.join(QLatin1Char('\n')).toStdString();
  const auto content = test::ReadTable(folders.path(QStringLiteral("ORDERS.db")));
  ASSERT_EQ(content.rows.size(), 2u);
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QStringLiteral("Oslo")));
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("orders"), data));
}

TEST_F(StatementTextTest, WriteBackKeepsTheLetterCaseOfTheTableFileName) {
  test::WriteTable(folders.path(QStringLiteral("orders.db")), {{"City", FieldType::Alpha, 20}}, {{std::string("Oslo")}});
  const DataAccess data = access(folders.dataFolder());
  StageTable(QStringLiteral("ORDERS"), data);
  WriteBackTable(QStringLiteral("ORDERS"), data);
  EXPECT_EQ(QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("orders.db")});
  const auto content = test::ReadTable(folders.path(QStringLiteral("orders.db")));
  ASSERT_EQ(content.rows.size(), 1u);
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QStringLiteral("Oslo")));
}

TEST_F(StatementTextTest, WriteBackReplacesATableWhoseNameHasNonAsciiLetters) {
  test::WriteTable(folders.path(QStringLiteral("Bücher.db")),
                   {{"Title", FieldType::Alpha, 20}, {"Notes", FieldType::Memo, 11}},
                   {{std::string("Faust"), std::string(300, 'n')}});
  const DataAccess data = access(folders.dataFolder());
  StageTable(QStringLiteral("BÜCHER"), data);
  WriteBackTable(QStringLiteral("BÜCHER"), data);
  EXPECT_EQ(QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden),
            (QStringList{QStringLiteral("Bücher.db"), QStringLiteral("Bücher.mb")}));
  const auto content = test::ReadTable(folders.path(QStringLiteral("Bücher.db")));
  ASSERT_EQ(content.rows.size(), 1u);
  EXPECT_EQ(content.rows[0][0], ado::Value::text(QStringLiteral("Faust")));
  EXPECT_EQ(content.rows[0][1], ado::Value::text(QString(300, QLatin1Char('n'))));
}

TEST_F(StatementTextTest, AFailedStagingLeavesNoPartialScratchTable) {
  test::WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 5}, {"B`C", FieldType::Alpha, 5}},
                   {{std::string("x"), std::string("y")}});
  const DataAccess data = access(folders.dataFolder());
  EXPECT_THROW(StageTable(QStringLiteral("T"), data), Error);
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("T"), data));
}

TEST_F(StatementTextTest, ScratchTableExistsCountsBaseTablesOnly) {
  const DataAccess data = access(folders.dataFolder());
  folders.scratchSql("CREATE TABLE Orders(x); CREATE VIEW Clients AS SELECT * FROM Orders;");
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("ORDERS"), data));
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("CLIENTS"), data));
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("ORDERS "), data));
}

TEST_F(StatementTextTest, ScratchTableExistsFoldsOnlyTheLettersTheScratchDatabaseFolds) {
  const DataAccess data = access(folders.dataFolder());
  folders.scratchSql("CREATE TABLE STRASSE(x); CREATE TABLE \"Émile\"(x);");
  // A leftover STRASSE is another table than STRAßE, there as here.
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("STRAßE"), data));
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("strasse"), data));
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("ÉMILE"), data));
  EXPECT_FALSE(ScratchTableExists(QStringLiteral("éMILE"), data));

  // And so a run on STRAßE stages beside the leftover instead of stopping at it.
  test::WriteTable(folders.path(QStringLiteral("STRAßE.db")), {{"A", FieldType::Alpha, 5}}, {{std::string("x")}});
  StageTable(QStringLiteral("STRAßE"), data);
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("STRAßE"), data));
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("STRASSE"), data));
}

}  // namespace
}  // namespace orl::Paradox
