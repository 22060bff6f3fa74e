// What real tables written by Paradox and BDE hold is read as it stands:
// a file that ends after its last record rather than at the end of its last
// block, dates and time stamps before year 1, every byte of a code page.

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/UnusualTables.h"

#include <gtest/gtest.h>

namespace {

namespace pdx = orl::pdx;
using orl::test::readRows;
using orl::test::TempFolder;

std::vector<std::vector<pdx::Value>> rowsOf(const std::string& name, std::vector<std::uint8_t> bytes) {
  const auto table = pdx::Table::open(pdx::memorySource(name, std::move(bytes)), nullptr);
  auto cursor = table.cursor();
  std::vector<std::vector<pdx::Value>> rows;
  for (std::vector<pdx::Value> row; cursor.next(row);) rows.push_back(row);
  return rows;
}

TEST(UnusualTables, EveryValueIsReadAsItIsStored) {
  TempFolder folder;
  const std::string path = folder.file("UNUSUAL.DB");
  orl::test::WriteUnusualTable(path);
  const auto rows = readRows(path);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], pdx::Value(orl::test::UnusualName));
  EXPECT_EQ(rows[0][1], pdx::Value(orl::test::UnusualBorn));
  EXPECT_EQ(rows[0][2], pdx::Value(orl::test::UnusualSeen));
  EXPECT_EQ(rows[0][3], pdx::Value(pdx::Decimal{"0.00"}));
  EXPECT_EQ(rows[1][0], pdx::Value(std::string("Dvo\xC5\x99\xC3\xA1k")));
  EXPECT_EQ(rows[1][1], pdx::Value(pdx::Date{1841, 9, 8}));
  EXPECT_EQ(rows[1][2], pdx::Value(pdx::Timestamp{{1904, 5, 1}, {0}}));
  EXPECT_EQ(rows[2][1], pdx::Value(pdx::Date{0, 12, 31}));
  EXPECT_EQ(rows[2][2], pdx::Value(pdx::Timestamp{{0, 12, 31}, {0}}));
  EXPECT_EQ(rows[2][4], pdx::Value(std::string("brno")));
}

TEST(UnusualTables, TimeStampsBeforeDayZeroCountBackFromMidnight) {
  TempFolder folder;
  const std::string path = folder.file("UNUSUAL.DB");
  orl::test::WriteUnusualTable(path);
  const pdx::TableHeader header = pdx::Table::inspect(path);
  const std::uint64_t seen = static_cast<std::uint64_t>(header.headerSize) + 6 + 24;
  // One millisecond before day 0 began, and a moment early in 5000 BC.
  orl::test::unusual::patch(path, seen, orl::test::unusual::storedMilliseconds(-1.0));
  EXPECT_EQ(readRows(path)[0][2], pdx::Value(pdx::Timestamp{{0, 12, 30}, {86'399'999}}));
  orl::test::unusual::patch(path, seen, orl::test::unusual::storedMilliseconds(-1'826'212.0 * 86'400'000 + 1000));
  EXPECT_EQ(readRows(path)[0][2], pdx::Value(pdx::Timestamp{{-4999, 1, 1}, {1000}}));
}

TEST(UnusualTables, AFileCutInsideItsLastBlockIsReadWholeWhenItsRecordsAreThere) {
  TempFolder folder;
  const std::string path = folder.file("UNUSUAL.DB");
  const auto bytes = orl::test::WriteUnusualTable(path);
  const pdx::TableHeader header = pdx::Table::inspect(path);
  ASSERT_LT(bytes.size(), static_cast<std::size_t>(header.headerSize + header.blockSize));
  const auto whole = rowsOf("UNUSUAL.DB", bytes);
  ASSERT_EQ(whole.size(), 3u);
  // Cut one byte further, into the last record, it is damaged.
  const std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 1);
  try {
    rowsOf("UNUSUAL.DB", cut);
    FAIL() << "a table without the last byte of its last record was read";
  } catch (const pdx::Error& error) {
    EXPECT_NE(std::string(error.what()).find("data block 1 is cut short"), std::string::npos) << error.what();
  }
  // The block's own header cut short.
  const std::vector<std::uint8_t> headOnly(bytes.begin(), bytes.begin() + header.headerSize + 3);
  EXPECT_THROW(rowsOf("UNUSUAL.DB", headOnly), pdx::Error);
  // Padded out to the whole block again, it reads the same.
  auto padded = bytes;
  padded.resize(static_cast<std::size_t>(header.headerSize + header.blockSize), 0);
  EXPECT_EQ(rowsOf("UNUSUAL.DB", padded), whole);
}

}  // namespace
