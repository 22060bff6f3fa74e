#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/FaultInjectingFileOps.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace orl::pdx {
namespace {

using test::TempFolder;

std::vector<Field> everyType() {
  return {{"Alpha", FieldType::Alpha, 20},    {"Date", FieldType::Date, 4},
          {"Short", FieldType::Short, 2},     {"Long", FieldType::Long, 4},
          {"Money", FieldType::Money, 8},     {"Number", FieldType::Number, 8},
          {"Logical", FieldType::Logical, 1}, {"Memo", FieldType::Memo, 15},
          {"Binary", FieldType::Binary, 10},  {"Formatted", FieldType::FormattedMemo, 12},
          {"Ole", FieldType::Ole, 10},        {"Graphic", FieldType::Graphic, 20},
          {"Time", FieldType::Time, 4},       {"Stamp", FieldType::Timestamp, 8},
          {"Counter", FieldType::Autoincrement, 4}, {"Bcd", FieldType::Bcd, 4},
          {"Bytes", FieldType::Bytes, 6}};
}

Bytes bytesOf(std::size_t size, std::uint8_t seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
  return bytes;
}

class WriterTest : public ::testing::Test {
 protected:
  WriterSettings settings(std::vector<Field> fields, int codePage = 1252) {
    WriterSettings s;
    s.fields = std::move(fields);
    s.codePage = codePage;
    s.modifiedTime = 1'600'000'000;
    return s;
  }

  std::vector<std::vector<Value>> writeAndRead(const WriterSettings& s, const std::vector<std::vector<Value>>& rows,
                                               const std::string& name = "T.db") {
    TableWriter writer(files, folder.file(name), s);
    for (const auto& row : rows) writer.append(row);
    writer.finish();
    return test::readRows(folder.file(name));
  }

  TempFolder folder;
  PosixFileOps files;
};

TEST_F(WriterTest, EveryFieldTypeReadsBackAsWritten) {
  const std::vector<std::vector<Value>> rows = {
      {std::string("Grüße, O'Brien"), Date{2018, 1, 1}, std::int64_t{-12}, std::int64_t{123456789}, 1234.56,
       -0.000123, true, std::string("A memo of some length, longer than its leader."), bytesOf(300, 1),
       bytesOf(5, 9), bytesOf(5000, 3), bytesOf(700, 5), TimeOfDay{3'601'000},
       Timestamp{{2020, 2, 1}, {3'601'005}}, std::int64_t{7}, Decimal{"-1234.5678"}, bytesOf(6, 9)},
      // A blank in every field.
      std::vector<Value>(17, Null{}),
      // The ends of each range.
      {std::string(20, 'z'), Date{1, 1, 1}, std::int64_t{32767}, std::int64_t{-2147483647},
       -std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(), false,
       std::string("\x01\x7f"), Bytes{0, 0, 0}, Bytes(4000, std::uint8_t{'f'}), Bytes{0xFF}, bytesOf(1, 0),
       TimeOfDay{0}, Timestamp{{9999, 12, 31}, {86'399'999}}, std::int64_t{2147483647},
       Decimal{"2718281828459045235360287.4713"}, bytesOf(6, 0xF0)},
      {std::string("x"), Date{2000, 2, 29}, std::int64_t{-32767}, std::int64_t{0}, 0.0, -0.0, true,
       std::string(15 - 10, 'm'), bytesOf(2047, 2), Bytes(2048, std::uint8_t{'F'}), bytesOf(2048, 4),
       bytesOf(2040, 6), TimeOfDay{86'399'999}, Timestamp{{1, 1, 1}, {0}}, std::int64_t{1}, Decimal{"0.0000"},
       bytesOf(6, 1)},
  };
  EXPECT_EQ(writeAndRead(settings(everyType()), rows), rows);
}

TEST_F(WriterTest, ValuesTheFormatStoresDifferentlyComeBackInItsForm) {
  // Empty text and blobs are blank fields; short bytes are padded; a
  // decimal gets the field's scale; negative zero is zero.
  const auto s = settings({{"A", FieldType::Alpha, 5}, {"M", FieldType::Memo, 11},
                           {"B", FieldType::Binary, 10}, {"Y", FieldType::Bytes, 4},
                           {"D", FieldType::Bcd, 3}, {"E", FieldType::Bcd, 2}});
  const auto read = writeAndRead(s, {{std::string(), std::string(), Bytes{}, Bytes{1, 2}, Decimal{"1.5"},
                                      Decimal{"-0.000"}}});
  const std::vector<Value> expected = {Null{}, Null{}, Null{}, Bytes{1, 2, 0, 0}, Decimal{"1.500"}, Decimal{"0.00"}};
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], expected);
}

TEST_F(WriterTest, MemosOfEverySizeUseTheRecordOrTheMemoFileAsTheyShould) {
  // The leader holds 20 bytes; values up to it stay in the record, values
  // under 2 KiB share sub-allocated blocks (more than one block's 64
  // entries here), larger ones get blocks of their own.
  const auto s = settings({{"Id", FieldType::Long, 4}, {"Memo", FieldType::Memo, 30}});
  std::vector<std::vector<Value>> rows;
  const std::size_t sizes[] = {1, 19, 20, 21, 100, 2047, 2048, 4087, 4088, 100'000, 3 * 1024 * 1024};
  std::int64_t id = 0;
  for (std::size_t size : sizes) {
    std::string memo(size, 'a');
    for (std::size_t i = 0; i < size; ++i) memo[i] = static_cast<char>('a' + (i * 31 + size) % 26);
    rows.push_back({++id, memo});
  }
  for (int i = 0; i < 200; ++i) rows.push_back({++id, std::string(40 + i % 90, static_cast<char>('A' + i % 26))});
  EXPECT_EQ(writeAndRead(s, rows), rows);
  const auto header = Table::inspect(folder.file("T.db"));
  EXPECT_EQ(header.recordCount, rows.size());
}

TEST_F(WriterTest, TextIsWrittenInTheChosenCodePage) {
  const std::vector<std::vector<Value>> rows = {{std::string("Привет, мир")}, {std::string("ёЁ №")}};
  EXPECT_EQ(writeAndRead(settings({{"Имя", FieldType::Alpha, 30}}, 866), rows), rows);
  const auto header = Table::inspect(folder.file("T.db"));
  EXPECT_EQ(header.codePage, 866);
  EXPECT_EQ(header.fields[0].name, "Имя");
  // Cyrillic letters are single bytes in 866: 11 characters, 11 bytes.
  const auto bytes = test::fileBytes(folder.file("T.db"));
  EXPECT_EQ(static_cast<unsigned char>(bytes[header.headerSize + 6]), 0x8F);  // П
}

TEST_F(WriterTest, AnEmptyTableHasAHeaderAndNoBlocks) {
  auto s = settings({{"Name", FieldType::Alpha, 10}, {"Notes", FieldType::Memo, 20}});
  EXPECT_TRUE(writeAndRead(s, {}).empty());
  const auto header = Table::inspect(folder.file("T.db"));
  EXPECT_EQ(header.recordCount, 0u);
  EXPECT_EQ(header.level, "5.x");
  EXPECT_EQ(header.fileType, FileTypeUnkeyed);
  EXPECT_EQ(test::fileBytes(folder.file("T.db")).size(), static_cast<std::size_t>(header.headerSize));
  EXPECT_EQ(test::fileBytes(folder.file("T.mb")).size(), 4096u);
}

TEST_F(WriterTest, ManyBlocksChainInOrder) {
  const auto s = settings({{"N", FieldType::Long, 4}, {"Text", FieldType::Alpha, 200}});
  std::vector<std::vector<Value>> rows;
  for (std::int64_t i = 0; i < 3000; ++i) rows.push_back({i, std::string(static_cast<std::size_t>(1 + i % 200), 'q')});
  EXPECT_EQ(writeAndRead(s, rows), rows);
  const auto header = Table::inspect(folder.file("T.db"));
  const std::size_t perBlock = (4096 - 6) / 204;
  const std::size_t blocks = (rows.size() + perBlock - 1) / perBlock;
  EXPECT_EQ(test::fileBytes(folder.file("T.db")).size(), header.headerSize + blocks * 4096);
}

TEST_F(WriterTest, AutoincrementCounterIsTheLargerOfTheGivenAndTheWritten) {
  auto s = settings({{"Id", FieldType::Autoincrement, 4}});
  s.autoIncrement = 10;
  writeAndRead(s, {{std::int64_t{3}}, {std::int64_t{25}}, {std::int64_t{4}}}, "A.db");
  EXPECT_EQ(Table::inspect(folder.file("A.db")).autoIncrement, 25u);
  s.autoIncrement = 40;
  writeAndRead(s, {{std::int64_t{3}}}, "B.db");
  EXPECT_EQ(Table::inspect(folder.file("B.db")).autoIncrement, 40u);
}

TEST_F(WriterTest, AValueThatCannotBeWrittenUnchangedFailsNamingFieldAndValue) {
  const auto s = settings({{"Name", FieldType::Alpha, 5}, {"Small", FieldType::Short, 2},
                           {"Amount", FieldType::Number, 8}, {"Exact", FieldType::Bcd, 2},
                           {"Day", FieldType::Date, 4}, {"Notes", FieldType::Memo, 11}});
  TableWriter writer(files, folder.file("T.db"), s);
  const auto failure = [&](std::vector<Value> row) -> std::string {
    try {
      writer.append(row);
    } catch (const Error& error) {
      return error.what();
    }
    return "no failure";
  };
  const Value ok[] = {std::string("ok"), std::int64_t{1}, 1.0, Decimal{"1.00"}, Date{2000, 1, 1}, std::string("m")};
  const auto with = [&](std::size_t index, Value value) {
    std::vector<Value> row(std::begin(ok), std::end(ok));
    row[index] = std::move(value);
    return row;
  };
  const std::string outsideCodePage = failure(with(0, std::string("Ж")));
  EXPECT_NE(outsideCodePage.find("Field \"Name\""), std::string::npos) << outsideCodePage;
  EXPECT_NE(outsideCodePage.find("\"Ж\""), std::string::npos) << outsideCodePage;
  EXPECT_NE(outsideCodePage.find("code page 1252"), std::string::npos) << outsideCodePage;
  EXPECT_NE(failure(with(5, std::string("memo Ж"))).find("Field \"Notes\""), std::string::npos);
  EXPECT_NE(failure(with(0, std::string("toolong"))).find("longer than"), std::string::npos);
  const std::string nul = failure(with(0, std::string("a\0b", 3)));
  EXPECT_NE(nul.find("\"a\\x00b\""), std::string::npos) << nul;
  EXPECT_NE(nul.find("NUL"), std::string::npos) << nul;
  EXPECT_NE(failure(with(0, std::int64_t{5})).find("not a value of this field's type"), std::string::npos);
  // The lowest number of a width is the pattern of a blank field.
  EXPECT_NE(failure(with(1, std::int64_t{-32768})).find("-32767 to 32767"), std::string::npos);
  EXPECT_NE(failure(with(1, std::int64_t{40000})).find("Field \"Small\""), std::string::npos);
  EXPECT_NE(failure(with(2, std::nan(""))).find("finite"), std::string::npos);
  EXPECT_NE(failure(with(3, Decimal{"1.234"})).find("2 digits after the point"), std::string::npos);
  EXPECT_NE(failure(with(3, Decimal{"1234567890123456789012345678901.1"})).find("30 digits before"), std::string::npos);
  EXPECT_NE(failure(with(3, Decimal{"1.2.3"})).find("not a decimal"), std::string::npos);
  EXPECT_NE(failure(with(4, Date{2001, 2, 29})).find("Field \"Day\""), std::string::npos);
  EXPECT_NE(failure({std::string("a")}).find("1 values for 6 fields"), std::string::npos);

  // Refused rows are not added; the writer goes on.
  writer.append(with(3, Decimal{"1.230"}));
  writer.finish();
  const auto rows = test::readRows(folder.file("T.db"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][3], Value{Decimal{"1.23"}});
}

TEST_F(WriterTest, FieldsALevelFiveTableCannotHaveAreRefused) {
  const auto refused = [&](std::vector<Field> fields, int codePage = 1252) {
    try {
      TableWriter writer(files, folder.file("R.db"), settings(std::move(fields), codePage));
    } catch (const Error& error) {
      EXPECT_FALSE(std::filesystem::exists(folder.file("R.db")));
      return std::string(error.what());
    }
    return std::string("no failure");
  };
  EXPECT_NE(refused({{"A", FieldType::Alpha, 256}}).find("1 to 255"), std::string::npos);
  EXPECT_NE(refused({{"M", FieldType::Memo, 10}}).find("Field \"M\""), std::string::npos);
  EXPECT_NE(refused({{"G", FieldType::Graphic, 251}}).find("0 to 240"), std::string::npos);
  EXPECT_NE(refused({{"B", FieldType::Bcd, 33}}).find("0 to 32"), std::string::npos);
  EXPECT_NE(refused({{"Ж", FieldType::Alpha, 5}}).find("field name"), std::string::npos);
  EXPECT_NE(refused({{std::string(26, 'n'), FieldType::Alpha, 5}}).find("1 to 25"), std::string::npos);
  EXPECT_NE(refused({}).find("1 to 255 fields"), std::string::npos);
  std::vector<Field> wide;
  for (int i = 0; i < 17; ++i) wide.push_back({"Wide" + std::to_string(i), FieldType::Alpha, 255});
  EXPECT_NE(refused(wide).find("does not fit"), std::string::npos);
  EXPECT_NE(refused({{"Name", FieldType::Alpha, 5}, {"NAME", FieldType::Long, 4}}).find("two fields"), std::string::npos);
  EXPECT_NE(refused({{"A", FieldType::Alpha, 5}}, 0).find("code page 0"), std::string::npos);
}

TEST_F(WriterTest, AnExistingFileIsNeverReplacedAndAnUnfinishedTableIsRemoved) {
  { std::ofstream(folder.file("Old.db")) << "keep me"; }
  EXPECT_THROW(TableWriter(files, folder.file("Old.db"), settings({{"A", FieldType::Alpha, 5}})), FileOpError);
  EXPECT_EQ(test::fileBytes(folder.file("Old.db")).size(), 7u);

  {
    TableWriter writer(files, folder.file("Gone.db"), settings({{"A", FieldType::Memo, 11}}));
    writer.append({std::string(5000, 'x')});
    EXPECT_TRUE(std::filesystem::exists(folder.file("Gone.mb")));
  }
  EXPECT_FALSE(std::filesystem::exists(folder.file("Gone.db")));
  EXPECT_FALSE(std::filesystem::exists(folder.file("Gone.mb")));
}

TEST_F(WriterTest, AFullDiskFailsNamingTheFileAndLeavesNothingBehind) {
  test::FaultInjectingFileOps faulty(files);
  faulty.diskFullAfter(20'000);
  std::string message;
  {
    TableWriter writer(faulty, folder.file("Full.DB"), settings({{"A", FieldType::Memo, 11}}));
    EXPECT_EQ(writer.blobPath(), folder.file("Full.MB"));
    try {
      for (int i = 0; i < 100; ++i) writer.append({std::string(3000, 'x')});
      writer.finish();
    } catch (const FileOpError& error) {
      EXPECT_TRUE(error.diskFull());
      message = error.what();
    }
    EXPECT_THROW(writer.append({std::string("more")}), Error);
  }
  EXPECT_NE(message.find("Cannot write \"" + folder.file("Full.MB") + "\""), std::string::npos) << message;
  EXPECT_NE(message.find("disk full"), std::string::npos) << message;
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST_F(WriterTest, FinishFlushesBothFilesToDisk) {
  test::FaultInjectingFileOps counting(files);
  TableWriter writer(counting, folder.file("T.db"), settings({{"A", FieldType::Memo, 11}}));
  writer.append({std::string(3000, 'x')});
  writer.finish();
  EXPECT_EQ(counting.count(FileOp::Flush), 2);
  EXPECT_EQ(counting.count(FileOp::Close), 2);
}

}  // namespace
}  // namespace orl::pdx
