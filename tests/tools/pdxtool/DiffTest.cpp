// `pdxtool diff` finds every difference between two copies of a table, and
// only those: a copy with one byte patched shows that one change.

#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/UnusualTables.h"
#include "tools/pdxtool/Diff.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <sstream>

namespace {

namespace fs = std::filesystem;
namespace pdx = orl::pdx;
using orl::test::TempFolder;

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> found;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) found.push_back(line);
  return found;
}

std::vector<std::string> differences(const std::string& first, const std::string& second) {
  std::ostringstream out;
  const std::size_t count = orl::pdxtool::writeDiff(first, second, out);
  auto found = lines(out.str());
  EXPECT_EQ(count, found.size());
  return found;
}

// Two copies of a corpus table's family, in folders "first" and "second".
class TwoCopies : public ::testing::Test {
 protected:
  void copy(const std::string& table) {
    const fs::path source = orl::test::corpusDir() / "tables" / table;
    for (const char* side : {"first", "second"}) {
      fs::create_directories(fs::path(folder_.path()) / side);
      for (const auto& entry : fs::directory_iterator(source.parent_path())) {
        if (entry.path().stem() == source.stem())
          fs::copy_file(entry.path(), fs::path(folder_.path()) / side / entry.path().filename());
      }
    }
    first_ = (fs::path(folder_.path()) / "first" / source.filename()).string();
    second_ = (fs::path(folder_.path()) / "second" / source.filename()).string();
  }
  std::string beside(const std::string& table, const std::string& extension) const {
    return (fs::path(table).replace_extension(extension)).string();
  }
  // Where field `field` of record `record` (from 0) lies in the table file.
  static std::uint64_t fieldOffset(const std::string& table, std::size_t record, std::size_t field) {
    const auto opened = pdx::Table::open(table);
    auto cursor = opened.cursor();
    std::vector<pdx::Value> row;
    for (std::size_t r = 0; r <= record; ++r) EXPECT_TRUE(cursor.next(row));
    return cursor.recordOffset() + static_cast<std::uint64_t>(cursor.fieldBytes(field).data() - cursor.recordBytes().data());
  }

  TempFolder folder_;
  std::string first_, second_;
};

TEST_F(TwoCopies, IdenticalCopiesOfEveryCorpusTableShowNoDifference) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  for (const auto& table : orl::test::filesWithExtension(orl::test::corpusDir() / "tables", ".db")) {
    SCOPED_TRACE(table.string());
    fs::remove_all(folder_.path() + "/first");
    fs::remove_all(folder_.path() + "/second");
    copy(fs::relative(table, orl::test::corpusDir() / "tables").string());
    EXPECT_EQ(differences(first_, second_), std::vector<std::string>{});
  }
}

TEST_F(TwoCopies, OneChangedValueIsTheOneDifference) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  copy("db/CUSTOMER.DB");
  const auto opened = pdx::Table::open(first_);
  const auto city = static_cast<std::size_t>(
      std::find_if(opened.fields().begin(), opened.fields().end(), [](const pdx::Field& f) { return f.name == "City"; }) -
      opened.fields().begin());
  ASSERT_LT(city, opened.fields().size());
  auto cursor = opened.cursor();
  std::vector<pdx::Value> row;
  for (int r = 0; r < 3; ++r) ASSERT_TRUE(cursor.next(row));
  const std::string old = std::get<std::string>(row[city]);
  std::string changed = old;
  changed[0] = changed[0] == 'Q' ? 'R' : 'Q';
  orl::test::unusual::patch(second_, fieldOffset(first_, 2, city), {static_cast<std::uint8_t>(changed[0])});

  EXPECT_EQ(differences(first_, second_),
            std::vector<std::string>{"record 3, \"City\": \"" + old + "\" | \"" + changed + "\""});
}

TEST_F(TwoCopies, HeaderAndFamilyDifferencesAreEachNamed) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  copy("db/CUSTOMER.DB");
  const auto header = pdx::Table::inspect(first_);
  // The autoincrement counter's lowest byte, one up.
  const auto low = static_cast<std::uint8_t>(header.autoIncrement & 0xFF);
  const auto raised = static_cast<std::uint8_t>(low + 1);
  orl::test::unusual::patch(second_, 0x49, {raised});
  fs::remove(beside(second_, ".PX"));
  orl::test::unusual::patch(beside(second_, ".X06"), 0x10, {0xEE});
  // A byte in the unused tail of the first data block.
  const int tail = header.headerSize + header.blockSize - 1;
  orl::test::unusual::patch(second_, static_cast<std::uint64_t>(tail), {0x5A});

  char headerBytes[64], tableFile[128];
  std::snprintf(headerBytes, sizeof headerBytes, "header bytes 0x0049: %02X | %02X", low, raised);
  std::snprintf(tableFile, sizeof tableFile,
                "table file: 1 byte differs outside the header and the records compared, the first at 0x%04X", tail);
  const std::vector<std::string> expected{
      "header, autoincrement: " + std::to_string(header.autoIncrement) + " | " +
          std::to_string((header.autoIncrement & ~0xFFu) | raised),
      headerBytes,
      tableFile,
      "family file .PX: CUSTOMER.PX | (none)",
      "family file .X06: 1 byte differs, the first at 0x0010",
  };
  EXPECT_EQ(differences(first_, second_), expected);
}

TEST_F(TwoCopies, AMemoChangedInTheMemoFileShowsWhereItParts) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  copy("fields/memo.db");
  auto blobs = orl::test::readBytes(beside(second_, ".mb"));
  const std::string start = "0123456789001234567890";
  const auto at = std::search(blobs.begin(), blobs.end(), start.begin(), start.end());
  ASSERT_NE(at, blobs.end());
  const auto offset = static_cast<std::uint64_t>(at - blobs.begin()) + 300;
  orl::test::unusual::patch(beside(second_, ".mb"), offset, {'#'});

  const auto found = differences(first_, second_);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].rfind("record 1, \"MEMO\": \"0123456789", 0), 0u) << found[0];
  EXPECT_NE(found[0].find("(555 bytes) | "), std::string::npos) << found[0];
  EXPECT_NE(found[0].find(", first difference at byte 300"), std::string::npos) << found[0];
  char where[64];
  std::snprintf(where, sizeof where, "family file .MB: 1 byte differs, the first at 0x%04llX",
                static_cast<unsigned long long>(offset));
  EXPECT_EQ(found[1], where);
}

TEST(Diff, AValueStoredInOtherBytesThatReadsTheSameIsADifference) {
  TempFolder folder;
  fs::create_directories(folder.path() + "/b");
  const std::string first = folder.file("UNUSUAL.DB");
  const std::string second = folder.file("b/UNUSUAL.DB");
  orl::test::WriteUnusualTable(first);
  fs::copy_file(first, second);
  EXPECT_EQ(differences(first, second), std::vector<std::string>{});
  // The first record's Amount: the same zero, as a positive number is written.
  const auto header = pdx::Table::inspect(first);
  orl::test::unusual::patch(second, static_cast<std::uint64_t>(header.headerSize) + 6 + 32, {0x82});
  EXPECT_EQ(differences(first, second),
            std::vector<std::string>{
                "record 1, \"Amount\": same value 0.00, stored from byte 0: 02 00 00 00 00 00 00 00 00 00 00 00 00 "
                "00 00 00 … | 82 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 …"});
}

TEST(Diff, RecordsOnlyOneTableHasAreNamedAndDatesBeforeYearOneShown) {
  TempFolder folder;
  fs::create_directories(folder.path() + "/b");
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = {{"Day", pdx::FieldType::Date, 4}};
  auto write = [&](const std::string& path, int rows) {
    pdx::TableWriter writer(files, path, settings);
    for (int r = 0; r < rows; ++r) writer.append({pdx::Date{2020, 1, r + 1}});
    writer.finish();
  };
  const std::string first = folder.file("DAYS.DB");
  const std::string second = folder.file("b/DAYS.DB");
  write(first, 2);
  write(second, 3);
  const auto header = pdx::Table::inspect(first);
  orl::test::unusual::patch(second, static_cast<std::uint64_t>(header.headerSize) + 6,
                            orl::test::unusual::storedDay(-366));
  const auto found = differences(first, second);
  EXPECT_NE(std::find(found.begin(), found.end(), "header, record count: 2 | 3"), found.end());
  EXPECT_NE(std::find(found.begin(), found.end(), "record 1, \"Day\": 2020-01-01 | -0001-12-31"), found.end());
  EXPECT_NE(std::find(found.begin(), found.end(), "record 3: only in the second table"), found.end());
}

// The exit status as diff(1) gives it: 0 the same, 1 different, 2 trouble.
TEST(Diff, TheProgramExitsAsDiffDoes) {
  TempFolder folder;
  fs::create_directories(folder.path() + "/b");
  const std::string first = folder.file("UNUSUAL.DB");
  const std::string second = folder.file("b/UNUSUAL.DB");
  orl::test::WriteUnusualTable(first);
  fs::copy_file(first, second);
  auto status = [&](const std::string& arguments) {
    const std::string command = std::string(PDXTOOL_PROGRAM) + " " + arguments + " > " + folder.file("out") + " 2>&1";
    const int result = std::system(command.c_str());
    return WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  };
  EXPECT_EQ(status("diff " + first + " " + second), 0);
  EXPECT_EQ(orl::test::readText(folder.file("out")), "");
  orl::test::unusual::patch(second, 0x49, {0x01});
  EXPECT_EQ(status("diff " + first + " " + second), 1);
  EXPECT_NE(orl::test::readText(folder.file("out")).find("header, autoincrement: 0 | 1"), std::string::npos);
  EXPECT_EQ(status("diff " + first), 2);
  EXPECT_EQ(status("diff " + first + " " + second + " extra"), 2);
  EXPECT_EQ(status("diff " + first + " " + folder.file("missing.db")), 2);
  EXPECT_NE(orl::test::readText(folder.file("out")).find("missing.db"), std::string::npos);
}

}  // namespace
