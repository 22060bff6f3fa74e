#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"
#include "platform/pdx/TableLock.h"
#include "platform/pdx/Writer.h"
#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Table.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/SharedMemoTable.h"

#include <gtest/gtest.h>

namespace orl::ado {
namespace {

QString paradoxString(const QString& folder) {
  return QStringLiteral("Driver={Microsoft Paradox Driver (*.db )};DriverID=538;Fil=Paradox 5.X;DefaultDir=") +
         folder + QStringLiteral(";Dbq=") + folder + QStringLiteral(";CollatingSequence=ASCII;");
}

void writeTable(const QString& path, const std::vector<pdx::Field>& fields,
                const std::vector<std::vector<pdx::Value>>& rows) {
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = fields;
  pdx::TableWriter writer(files, path.toStdString(), settings);
  for (const auto& row : rows) writer.append(row);
  writer.finish();
}

// A memo file that counts the bytes read from it.
class CountingSource final : public pdx::ByteSource {
 public:
  explicit CountingSource(const std::string& path) : file_(pdx::openFileSource(path)) {}
  const std::string& name() const override { return file_->name(); }
  std::uint64_t size() const override { return file_->size(); }
  void read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
    bytesRead += into.size();
    file_->read(offset, into);
  }
  mutable std::uint64_t bytesRead = 0;

 private:
  std::unique_ptr<pdx::ByteSource> file_;
};

TEST(ParadoxFolderDriver, AMemoValueManyRecordsShareIsReadAndConvertedOnce) {
  test::DataFolders folders;
  test::WriteSharedMemoTable(folders.path(QStringLiteral("T.db")), 200);
  const std::string table = folders.path(QStringLiteral("T.db")).toStdString();

  // The reader: 3,000 bytes read once, not 200 times.
  auto memo = std::make_shared<CountingSource>(folders.path(QStringLiteral("T.mb")).toStdString());
  const pdx::Table opened = pdx::Table::open(pdx::openFileSource(table), memo);
  const std::uint64_t opening = memo->bytesRead;
  pdx::Cursor cursor = opened.cursor();
  std::vector<pdx::Value> row;
  int rows = 0;
  for (; cursor.next(row); ++rows) ASSERT_EQ(row[1], pdx::Value(std::string(3000, 'n'))) << "row " << rows;
  EXPECT_EQ(rows, 200);
  EXPECT_LT(memo->bytesRead - opening, 2 * 4096u);

  // What the records declare is counted without reading the memo file at all.
  const std::uint64_t before = memo->bytesRead;
  const pdx::DeclaredSize size = opened.declaredSize();
  EXPECT_EQ(memo->bytesRead, before);
  EXPECT_EQ(size.rows, 200u);
  EXPECT_EQ(size.memoBytes, 200u * 3000u);
  EXPECT_EQ(size.largestMemo, 3000u);

  // The driver hands every record the one converted text.
  Connection connection;
  connection.open(paradoxString(folders.dataFolder()));
  const auto records = connection.query(QStringLiteral("SELECT `Note` FROM `T`"));
  std::vector<Value> first, next;
  ASSERT_TRUE(records->next(first));
  while (records->next(next)) {
    ASSERT_EQ(next[0], first[0]);
    EXPECT_TRUE(next[0].asText().isSharedWith(first[0].asText()));
  }
}

TEST(ParadoxFolderDriver, ReadsATableByItsNameInAnyLetterCase) {
  test::DataFolders folders;
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  Connection connection;
  connection.open(paradoxString(folders.dataFolder()));
  RecordSet records;
  records.open(QStringLiteral("SELECT * FROM `customer`"), connection, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(records.recordCount(), 20);
  std::vector<int> types;
  for (int i = 0; i < records.fields().count(); ++i) types.push_back(records.fields().item(i).type());
  EXPECT_EQ(types, (std::vector<int>{3, 200, 200, 200, 200, 200, 200, 200, 201, 133}));
  EXPECT_EQ(records.value(QStringLiteral("firstname")), Value::text(QStringLiteral("Luke")));
  EXPECT_EQ(records.fields().item(9).value(), Value::date({1996, 2, 2}));

  RecordSet one;
  one.open(QStringLiteral("SELECT `City` FROM `CUSTOMER`"), connection, adOpenStatic, adLockOptimistic);
  EXPECT_EQ(one.fields().count(), 1);
  EXPECT_EQ(one.fields().item(0).value(), Value::text(QStringLiteral("Santa Cruz")));
  EXPECT_THROW(RecordSet().open(QStringLiteral("SELECT `Town` FROM `CUSTOMER`"), connection), Error);
}

TEST(ParadoxFolderDriver, ReportsEachFieldTypeAsTheDriverDoes) {
  test::DataFolders folders;
  using pdx::FieldType;
  writeTable(folders.path(QStringLiteral("every.db")),
             {{"A", FieldType::Alpha, 10}, {"M", FieldType::Memo, 20}, {"S", FieldType::Short, 2},
              {"I", FieldType::Long, 4}, {"N", FieldType::Number, 8}, {"C", FieldType::Money, 8},
              {"P", FieldType::Bcd, 2}, {"D", FieldType::Date, 4}, {"T", FieldType::Time, 4},
              {"W", FieldType::Timestamp, 8}, {"L", FieldType::Logical, 1}, {"Y", FieldType::Bytes, 4},
              {"B", FieldType::Binary, 10}},
             {{std::string("x"), pdx::Null{}, std::int64_t{-5}, std::int64_t{70000}, 2.5, 3.25, pdx::Decimal{"1.20"},
               pdx::Date{2000, 1, 2}, pdx::TimeOfDay{1000}, pdx::Timestamp{{2000, 1, 2}, {500}}, true,
               pdx::Bytes{1, 2, 3, 4}, pdx::Bytes{9}}});
  Connection connection;
  connection.open(paradoxString(folders.dataFolder()));
  RecordSet records;
  records.open(QStringLiteral("SELECT * FROM `EVERY`"), connection);
  std::vector<int> types;
  for (int i = 0; i < records.fields().count(); ++i) types.push_back(records.fields().item(i).type());
  EXPECT_EQ(types, (std::vector<int>{200, 201, 2, 3, 5, 5, 14, 133, 135, 135, 11, 128, 205}));
  EXPECT_EQ(records.fields().item(2).value(), Value::int16(-5));
  EXPECT_EQ(records.fields().item(6).value(), Value::decimal({"1.20"}));
  EXPECT_EQ(records.fields().item(10).value(), Value::boolean(true));
  EXPECT_TRUE(records.fields().item(1).value().isNull());
}

TEST(ParadoxFolderDriver, RefusesWhatItCannotReadSafely) {
  test::DataFolders folders;
  writeTable(folders.path(QStringLiteral("twin.db")), {{"A", pdx::FieldType::Alpha, 5}}, {});
  writeTable(folders.path(QStringLiteral("TWIN.DB")), {{"A", pdx::FieldType::Alpha, 5}}, {});
  Connection connection;
  connection.open(paradoxString(folders.dataFolder()));
  EXPECT_THROW(connection.execute(QStringLiteral("SELECT * FROM `TWIN`")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("SELECT * FROM `MISSING`")), Error);
  EXPECT_THROW(connection.execute(QStringLiteral("DELETE FROM `TWIN`")), Error);
  EXPECT_THROW(connection.openSchema(adSchemaTables), Error);

  Connection nowhere;
  EXPECT_THROW(nowhere.open(paradoxString(folders.path(QStringLiteral("no-such-folder")))), Error);
}

TEST(ParadoxFolderDriver, RefusesPasswordProtectedTables) {
  test::DataFolders folders;
  if (!folders.copyCorpusTable(QStringLiteral("encrypt/encrypted.db"))) GTEST_SKIP() << "corpus absent";
  Connection connection;
  connection.open(paradoxString(folders.dataFolder()));
  try {
    connection.execute(QStringLiteral("SELECT * FROM `ENCRYPTED`"));
    FAIL() << "a protected table was read";
  } catch (const Error& error) {
    EXPECT_TRUE(error.description().contains(QStringLiteral("password"))) << error.description().toStdString();
  }
}

TEST(ParadoxFolderDriver, ADroppedTableGoesOnlyWhenTheConnectionIsClosed) {
  test::DataFolders folders;
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  const auto before = folders.snapshot();
  {
    Connection released;
    released.open(paradoxString(folders.dataFolder()));
    released.execute(QStringLiteral("DROP TABLE `CUSTOMER`"));
    EXPECT_THROW(released.execute(QStringLiteral("SELECT * FROM `CUSTOMER`")), Error);
  }
  EXPECT_EQ(folders.snapshot(), before);

  Connection closed;
  closed.open(paradoxString(folders.dataFolder()));
  closed.execute(QStringLiteral("DROP TABLE `customer`"));
  closed.close();
  EXPECT_TRUE(folders.snapshot().empty());
}

TEST(ParadoxFolderDriver, ADropRefusesLinkedTableFilesButNotThisProcesssOwnHoldOnTheTable) {
  test::DataFolders folders;
  writeTable(folders.path(QStringLiteral("T.db")), {{"A", pdx::FieldType::Alpha, 10}}, {{std::string("abc")}});
  ASSERT_TRUE(QFile::link(folders.scratchFile(), folders.path(QStringLiteral("T.px"))));
  const auto before = folders.snapshot();
  {
    Connection linked;
    linked.open(paradoxString(folders.dataFolder()));
    try {
      linked.execute(QStringLiteral("DROP TABLE `T`"));
      ADD_FAILURE() << "a table with a linked file was dropped";
    } catch (const Error& error) {
      EXPECT_TRUE(error.description().contains(QStringLiteral("its file T.px is a symbolic link")))
          << error.description().toStdString();
    }
  }
  EXPECT_EQ(folders.snapshot(), before);
  ASSERT_TRUE(QFile::remove(folders.path(QStringLiteral("T.px"))));

  // The lock file and the locks of the run's own hold are not another program's.
  const pdx::TableLock held(folders.path(QStringLiteral("T.db")).toStdString());
  Connection holding;
  holding.open(paradoxString(folders.dataFolder()));
  EXPECT_NO_THROW(holding.execute(QStringLiteral("DROP TABLE `T`")));
}

TEST(ParadoxFolderDriver, FolderIsReadWholeFromTheProgramsOwnConnectionString) {
  EXPECT_EQ(ParadoxFolderDriver::folderOf(paradoxString(QStringLiteral("/data/a;Dbq=b/"))),
            QStringLiteral("/data/a;Dbq=b/"));
  EXPECT_EQ(ParadoxFolderDriver::folderOf(paradoxString(QStringLiteral("/data/x "))), QStringLiteral("/data/x "));
  EXPECT_EQ(ParadoxFolderDriver::folderOf(QStringLiteral("Driver={Microsoft Paradox Driver (*.db )};DBQ=/d;")),
            QStringLiteral("/d"));
}

}  // namespace
}  // namespace orl::ado
