#include "platform/ado/DroppedTables.h"
#include "platform/ado/ParadoxExport.h"
#include "platform/ado/ScratchDatabase.h"
#include "platform/common/Error.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/TableFiles.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <cstddef>
#include <deque>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORLINTIDE_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ORLINTIDE_TEST_ASAN 1
#endif
#ifdef ORLINTIDE_TEST_ASAN
// The address sanitizer's own count; its header does not come with every compiler.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace orl::ado {
namespace {

// Bytes the program holds on the heap now (freed memory not counted).
std::size_t heapInUse() {
#ifdef ORLINTIDE_TEST_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// Rows made as they are read: a number and a long memo in each, so that
// holding them all would take far more memory than any one of them.
class MadeRows final : public Rows {
 public:
  MadeRows(int count, std::size_t& highWater, std::vector<std::size_t> wanted)
      : count_(count), highWater_(highWater), wanted_(std::move(wanted)) {}
  const std::vector<Column>& columns() const override { return columns_; }
  std::int64_t recordCount() override { return count_; }
  bool next(std::vector<Value>& row) override {
    highWater_ = std::max(highWater_, heapInUse());
    if (made_ == count_) return false;
    row.clear();
    for (const std::size_t c : wanted_)
      row.push_back(c == 0 ? Value::int32(made_) : Value::text(QString(MemoLength, QChar(u'a' + made_ % 26))));
    ++made_;
    return true;
  }
  static constexpr int MemoLength = 16384;

 private:
  std::vector<Column> columns_{{QStringLiteral("N"), 3}, {QStringLiteral("Memo"), 203}};
  int count_, made_ = 0;
  std::size_t& highWater_;
  std::vector<std::size_t> wanted_;
};

TEST(ParadoxExport, StreamsTheRowsTwiceWithoutHoldingThemAndNamesTheTableInItsHeader) {
  test::DataFolders folders;
  pdx::PosixFileOps files;
  constexpr int Count = 3000;  // about 100 MB of text if the rows were kept
  std::size_t highWater = 0;
  std::vector<std::vector<std::size_t>> opened;
  const std::size_t before = heapInUse();
  StagedExport staged = ExportToParadox(
      folders.dataFolder(), QStringLiteral("Streamed.db"),
      {{QStringLiteral("N"), QStringLiteral("INT")}, {QStringLiteral("Memo"), QStringLiteral("MEMO")}},
      [&](const std::vector<std::size_t>& columns) -> std::unique_ptr<Rows> {
        opened.push_back(columns);
        return std::make_unique<MadeRows>(Count, highWater, columns);
      },
      files);
  // A memo stays a memo whatever it holds, so the first reading leaves it out.
  EXPECT_EQ(opened, (std::vector<std::vector<std::size_t>>{{0}, {0, 1}}));
  EXPECT_LT(highWater - before, std::size_t{16} << 20);
  CommitExport(staged);

  const pdx::Table table = pdx::Table::open(folders.path(QStringLiteral("Streamed.db")).toStdString());
  EXPECT_EQ(table.header().recordCount, static_cast<std::uint32_t>(Count));
  EXPECT_EQ(table.header().tableName, "Streamed.db");
  ASSERT_EQ(table.fields().size(), 2u);
  EXPECT_EQ(table.fields()[0].type, pdx::FieldType::Long);
  EXPECT_EQ(table.fields()[1].type, pdx::FieldType::Memo);
  pdx::Cursor cursor = table.cursor();
  std::vector<pdx::Value> row;
  for (int r = 0; r < Count; ++r) {
    ASSERT_TRUE(cursor.next(row));
    ASSERT_EQ(std::get<std::string>(row[1]), std::string(MadeRows::MemoLength, static_cast<char>('a' + r % 26)));
  }
  EXPECT_FALSE(cursor.next(row));
}

TEST(ParadoxExport, FieldTypesComeFromEveryValueOfTheColumn) {
  const pdx::CodePage page(1252);
  const std::vector<ScratchColumn> columns = {{QStringLiteral("T"), QStringLiteral("TEXT")},
                                              {QStringLiteral("I"), QStringLiteral("INT")},
                                              {QStringLiteral("D"), QStringLiteral("DECIMAL")},
                                              {QStringLiteral("W"), QStringLiteral("DATETIME")}};
  std::vector<ColumnFacts> facts(columns.size());
  const std::vector<std::vector<Value>> rows = {
      {Value::text(QStringLiteral("short")), Value::int32(1), Value::decimal({"1.50"}), Value::date({2020, 1, 2})},
      {Value::text(QString(300, QLatin1Char('x'))), Value::real(2.5), Value(), Value::timestamp({{2020, 1, 2}, {5}})}};
  for (const auto& row : rows)
    for (std::size_t c = 0; c < columns.size(); ++c) facts[c].observe(columns[c], row[c], page);
  const auto fields = ParadoxFieldsFor(columns, facts, rows.size());
  EXPECT_EQ(fields[0].type, pdx::FieldType::Memo);    // one value is past 255 bytes
  EXPECT_EQ(fields[1].type, pdx::FieldType::Number);  // one value is not whole
  EXPECT_EQ(fields[2].type, pdx::FieldType::Bcd);
  EXPECT_EQ(fields[2].size, 2);
  EXPECT_EQ(fields[3].type, pdx::FieldType::Timestamp);

  // Alpha fields are 255 wide unless that leaves too little room for the rows.
  const std::vector<ScratchColumn> text = {{QStringLiteral("Id"), QStringLiteral("INT")},
                                           {QStringLiteral("Name"), QStringLiteral("TEXT")}};
  std::vector<ColumnFacts> textFacts(2);
  textFacts[1].observe(text[1], Value::text(QStringLiteral("Längster Name")), page);
  EXPECT_EQ(ParadoxFieldsFor(text, textFacts, 900000)[1].size, 255);
  const auto narrowed = ParadoxFieldsFor(text, textFacts, 1000000);
  EXPECT_EQ(narrowed[1].type, pdx::FieldType::Alpha);
  EXPECT_EQ(narrowed[1].size, 13);
  EXPECT_GE(pdx::mostRowsFor(narrowed), 1000000u);

  // Values no one field type can keep are refused as soon as they are seen.
  EXPECT_THROW(facts[2].observe(columns[2], Value::decimal({"1.5"}), page), Error);
  EXPECT_THROW(facts[3].observe(columns[3], Value::time({1000}), page), Error);
  EXPECT_THROW(facts[0].observe(columns[0], Value::bytes({1, 2}), page), Error);
  EXPECT_THROW(facts[0].observe(columns[0], Value::text(QStringLiteral("\u4e2d")), page), Error);
}

TEST(ParadoxExport, ColumnsWhoseFieldTypeIsFixedAreCountedNotReadBeforeWriting) {
  test::DataFolders folders;
  pdx::PosixFileOps files;
  // Rows that tell how many of them were read.
  class ReadRows final : public Rows {
   public:
    explicit ReadRows(int& read) : read_(read) {}
    const std::vector<Column>& columns() const override { return columns_; }
    std::int64_t recordCount() override { return 3; }
    bool next(std::vector<Value>& row) override {
      if (made_ == 3) return false;
      row = {Value::real(made_ + 0.5), Value::text(QString::number(made_))};
      ++made_;
      ++read_;
      return true;
    }

   private:
    std::vector<Column> columns_{{QStringLiteral("F"), 5}, {QStringLiteral("M"), 203}};
    int made_ = 0;
    int& read_;
  };
  std::deque<int> readEachTime;  // each reference stays valid as more are added
  StagedExport staged = ExportToParadox(
      folders.dataFolder(), QStringLiteral("Fixed.db"),
      {{QStringLiteral("F"), QStringLiteral("FLOAT")}, {QStringLiteral("M"), QStringLiteral("MEMO")}},
      [&](const std::vector<std::size_t>&) -> std::unique_ptr<Rows> {
        readEachTime.push_back(0);
        return std::make_unique<ReadRows>(readEachTime.back());
      },
      files);
  EXPECT_EQ(readEachTime, (std::deque<int>{0, 3}));
  CommitExport(staged);
  const pdx::Table table = pdx::Table::open(folders.path(QStringLiteral("Fixed.db")).toStdString());
  ASSERT_EQ(table.header().recordCount, 3u);
  pdx::Cursor cursor = table.cursor();
  std::vector<pdx::Value> row;
  for (int r = 0; r < 3; ++r) {
    ASSERT_TRUE(cursor.next(row));
    EXPECT_EQ(row[0], pdx::Value(r + 0.5));
    EXPECT_EQ(row[1], pdx::Value(std::to_string(r)));
  }
  EXPECT_FALSE(cursor.next(row));
}

TEST(ParadoxExport, ALastLookThatFailsBeforeOrAfterTheHistoryEntryIsMadeReplacesNothingAndKeepsNoEntry) {
  for (const int failingLook : {1, 2}) {
    SCOPED_TRACE(failingLook);
    test::DataFolders folders;
    pdx::PosixFileOps files;
    const QString table = folders.path(QStringLiteral("T.db"));
    test::WriteTable(table, {{"A", pdx::FieldType::Alpha, 10}}, {{std::string("abc")}});
    const auto before = folders.snapshot();
    DroppedTables::mark(folders.dataFolder(), QStringLiteral("T"));
    StagedExport staged = ExportToParadox(
        folders.dataFolder(), QStringLiteral("T.db"), {{QStringLiteral("A"), QStringLiteral("TEXT")}},
        [](const std::vector<std::size_t>&) -> std::unique_ptr<Rows> {
          return std::make_unique<RowsInMemory>(std::vector<Column>{{QStringLiteral("A"), 200}},
                                                std::vector<std::vector<Value>>{{Value::text(QStringLiteral("ABC"))}});
        },
        files);
    staged.history = HistoryPlan{pdx::ChangeFacts{}, 3};
    int looks = 0;
    const auto look = [&] {
      if (++looks == failingLook) throw pdx::Error("another program changed the table");
    };
    try {
      CommitExport(staged, look);
      ADD_FAILURE() << "the export was put in place";
    } catch (const Error& error) {
      EXPECT_TRUE(error.description().contains(QStringLiteral("another program changed the table")));
    }
    DroppedTables::unmark(folders.dataFolder(), QStringLiteral("T"));
    EXPECT_EQ(looks, failingLook);
    EXPECT_TRUE(pdx::TableHistory(files, folders.dataFolder().toStdString(), "T.db").entries().empty());
    staged = StagedExport();  // abandons the staged table
    EXPECT_EQ(folders.snapshot(), before);
  }
}

}  // namespace
}  // namespace orl::ado
