#include "platform/pdx/Table.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx/JsonReader.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tools/pdxtool/Commands.h"
#include "tools/pdxtool/Copy.h"

#include <gtest/gtest.h>

#include <sstream>

namespace orl::pdx {
namespace {

using test::Json;

std::string dump(const std::string& path) {
  std::ostringstream out;
  pdxtool::runDump({path}, out);
  return out.str();
}

// Values compare as the reference data does: numbers as doubles.
void expectSameJson(const Json& a, const Json& b, const std::string& where) {
  ASSERT_EQ(a.kind, b.kind) << where;
  switch (a.kind) {
    case Json::Kind::Number: EXPECT_EQ(a.number, b.number) << where; break;
    case Json::Kind::Bool: EXPECT_EQ(a.boolean, b.boolean) << where; break;
    case Json::Kind::String: EXPECT_EQ(a.text, b.text) << where; break;
    case Json::Kind::Array:
      ASSERT_EQ(a.items.size(), b.items.size()) << where;
      for (std::size_t i = 0; i < a.items.size(); ++i) expectSameJson(a.items[i], b.items[i], where + "[" + std::to_string(i) + "]");
      break;
    case Json::Kind::Object:
      ASSERT_EQ(a.members.size(), b.members.size()) << where;
      for (std::size_t i = 0; i < a.members.size(); ++i) {
        EXPECT_EQ(a.members[i].first, b.members[i].first) << where;
        expectSameJson(a.members[i].second, b.members[i].second, where + "." + a.members[i].first);
      }
      break;
    case Json::Kind::Null: break;
  }
}

std::vector<std::filesystem::path> corpusTables() {
  return test::filesWithExtension(test::corpusDir() / "tables", ".db");
}

std::uint32_t little(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= static_cast<std::uint32_t>(bytes.at(at + i)) << (8 * i);
  return value;
}

class WriterCorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::corpusPresent()) GTEST_SKIP() << "no corpus at " << test::corpusDir();
  }
  // A copy under the original's file name, so that the header's table name can match too.
  std::string copyOf(const std::filesystem::path& table) {
    const auto folder = std::filesystem::path(temp.path()) / table.parent_path().filename();
    std::filesystem::create_directories(folder);
    const std::string out = (folder / table.filename()).string();
    pdxtool::copyTable(files, table.string(), out, 1'600'000'000);
    return out;
  }

  test::TempFolder temp;
  PosixFileOps files;
};

TEST_F(WriterCorpusTest, TheCopyOfEveryReadableTableDumpsAsTheOriginal) {
  int copied = 0;
  for (const auto& table : corpusTables()) {
    SCOPED_TRACE(table.string());
    if (Table::inspect(table.string()).encrypted) {
      EXPECT_THROW(copyOf(table), Error);
      continue;
    }
    const Json original = test::parseJson(dump(table.string()));
    const Json copy = test::parseJson(dump(copyOf(table)));
    expectSameJson(original["fields"], copy["fields"], "fields");
    expectSameJson(original["rows"], copy["rows"], "rows");
    expectSameJson(original["records"], copy["records"], "records");
    // A table that names no code page is read, and so copied, as 437.
    const bool named = !original["codepage"].isNull() && original["codepage"].number != 0;
    EXPECT_EQ(copy["codepage"].number, named ? original["codepage"].number : 437);
    EXPECT_EQ(copy["level"].text, "5.x");
    EXPECT_EQ(copy["fileType"].number, 2);
    ++copied;
  }
  EXPECT_GE(copied, 20);
}

TEST_F(WriterCorpusTest, TheCopyHeaderCarriesWhatRealLevelFiveHeadersCarry) {
  // Offsets and sizes of the header fields that a table's content decides
  // (not its block size, its key, the time or the in-memory pointers).
  const std::pair<std::size_t, std::size_t> fixed[] = {
      {0x00, 2}, {0x02, 2}, {0x06, 4}, {0x0A, 2}, {0x0C, 2}, {0x0E, 2}, {0x10, 2}, {0x21, 2},
      {0x25, 4}, {0x29, 1}, {0x2A, 3}, {0x38, 1}, {0x39, 1}, {0x3A, 2}, {0x3C, 4}, {0x40, 4},
      {0x44, 4}, {0x48, 1}, {0x49, 4}, {0x4D, 4}, {0x51, 2}, {0x53, 3}, {0x56, 2}, {0x58, 2},
      {0x5A, 2}, {0x5C, 4}, {0x64, 2}, {0x66, 2}, {0x68, 2}, {0x6A, 2}, {0x6C, 2}, {0x6E, 2}};
  int compared = 0;
  for (const auto& table : corpusTables()) {
    const auto header = Table::inspect(table.string());
    // Block counts compare only where the records fill one block of the original's size and of the copy's.
    const bool oneBlock = std::uint64_t{header.recordCount} * header.recordSize <= std::uint64_t(header.blockSize) - 6;
    if (header.level != "5.x" || header.encrypted || !oneBlock) continue;
    SCOPED_TRACE(table.string());
    const auto real = test::readBytes(table);
    const auto ours = test::fileBytes(copyOf(table));
    for (const auto& [offset, size] : fixed)
      EXPECT_EQ(little(ours, offset, size), little(real, offset, size)) << "at offset " << offset;
    EXPECT_EQ(ours[0x04], 2);  // unkeyed, whatever the original was
    EXPECT_EQ(ours[0x05], 4);  // 4 KiB blocks
    // Field types and sizes, then (past the pointers) the field names,
    // numbers and sort order name; the table name where it is the file's.
    const std::size_t n = header.fields.size();
    const std::size_t types = 0x78, namesStart = 0x78 + 6 * n + 4 + 79;
    const std::size_t used = little(real, 0x51, 2);
    EXPECT_TRUE(std::equal(ours.begin() + types, ours.begin() + types + 2 * n, real.begin() + types));
    EXPECT_TRUE(std::equal(ours.begin() + namesStart, ours.begin() + used, real.begin() + namesStart));
    if (header.tableName == table.filename().string()) {
      EXPECT_TRUE(std::equal(ours.begin() + namesStart - 79, ours.begin() + namesStart, real.begin() + namesStart - 79));
    }
    ++compared;
  }
  EXPECT_GE(compared, 12);
}

TEST_F(WriterCorpusTest, TheCopyMemoFileStartsAsRealOnesDo) {
  const auto table = test::corpusDir() / "tables" / "fields" / "memo.db";
  const std::string copy = copyOf(table);
  const auto real = test::readBytes(test::corpusDir() / "tables" / "fields" / "memo.mb");
  const auto ours = test::fileBytes(copy.substr(0, copy.size() - 2) + "mb");
  ASSERT_GE(ours.size(), 4096u);
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + 0x38, real.begin()));
  // The long memo has a sub-allocated block, as in the original.
  EXPECT_EQ(ours[4096], 3);
}

}  // namespace
}  // namespace orl::pdx
