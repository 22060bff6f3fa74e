// Finding a table's memo file and family on disk.

#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/Table.h"
#include "tests/platform/pdx/CorpusSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;
namespace pdx = orl::pdx;

class TableFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!orl::test::corpusPresent()) GTEST_SKIP();
    folder_ = fs::temp_directory_path() / ("orlintide-reader-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }
  fs::path copy(const std::string& from, const std::string& as) {
    fs::copy_file(orl::test::corpusDir() / "tables" / from, folder_ / as);
    return folder_ / as;
  }
  static std::string errorOf(const fs::path& table) {
    try {
      (void)pdx::Table::open(table.string());
    } catch (const pdx::Error& error) {
      return error.what();
    }
    return "";
  }
  fs::path folder_;
};

TEST_F(TableFiles, TheMemoFileIsFoundInAnyLetterCase) {
  for (const auto& [tableName, memoName] : {std::pair{"Notes.DB", "nOTES.mB"}, std::pair{"müller.db", "MÜLLER.MB"}}) {
    SCOPED_TRACE(tableName);
    const auto table = copy("fields/memo.db", tableName);
    copy("fields/memo.mb", memoName);
    auto cursor = pdx::Table::open(table.string()).cursor();
    std::vector<pdx::Value> row;
    ASSERT_TRUE(cursor.next(row));
    EXPECT_EQ(std::get<std::string>(row[1]).size(), 555u);
  }
}

TEST_F(TableFiles, AMissingOrAmbiguousMemoFileIsAnError) {
  const auto table = copy("fields/memo.db", "notes.db");
  EXPECT_NE(errorOf(table).find("memo file (notes.mb) is missing"), std::string::npos) << errorOf(table);
  copy("fields/memo.mb", "notes.mb");
  copy("fields/memo.mb", "NOTES.MB");
  EXPECT_NE(errorOf(table).find("more than one memo file"), std::string::npos) << errorOf(table);
}

TEST_F(TableFiles, AMissingTableIsAnErrorNamingIt) {
  EXPECT_NE(errorOf(folder_ / "absent.db").find("absent.db: cannot be opened"), std::string::npos);
  EXPECT_THROW((void)pdx::Table::inspect((folder_ / "absent.db").string()), pdx::Error);
}

TEST_F(TableFiles, TheFamilyIsEveryFileOfTheTableAndNoOther) {
  for (const char* name : {"Stock.db", "STOCK.PX", "stock.MB", "Stock.X02", "Stock.Y02", "Stock.XG0", "stock.val",
                           "Stock.tv", "Stock.txt", "Stock2.db", "Stock.X2", "Stock.XGG", "Stock"}) {
    std::ofstream(folder_ / name) << "x";
  }
  EXPECT_EQ(pdx::tableFamily((folder_ / "Stock.db").string()),
            (std::vector<std::string>{"STOCK.PX", "Stock.X02", "Stock.XG0", "Stock.Y02", "Stock.db", "Stock.tv",
                                      "stock.MB", "stock.val"}));
}

// The table list upper-cases names one character at a time; every lookup
// must find the files again by the same rule, or a run writes a second
// table beside the one it was asked to change.
TEST(FileNames, LetterCaseIsComparedOneCharacterAtATime) {
  EXPECT_TRUE(pdx::sameNameButCase("Bücher.db", "BÜCHER.DB"));
  EXPECT_TRUE(pdx::sameNameButCase("Клиенты.db", "КЛИЕНТЫ.DB"));
  EXPECT_TRUE(pdx::sameNameButCase("Straße.db", "STRAßE.DB"));
  EXPECT_FALSE(pdx::sameNameButCase("Straße.db", "STRASSE.DB"));
  EXPECT_TRUE(pdx::sameNameButCase("ıdx.db", "IDX.DB"));
  EXPECT_FALSE(pdx::sameNameButCase("Bücher.db", "Bucher.db"));
  EXPECT_FALSE(pdx::sameNameButCase("orders.db", "orders.db2"));
  EXPECT_FALSE(pdx::sameNameButCase("", "a"));
  // Bytes that are not UTF-8 (a name from an old DOS disk) must agree exactly.
  EXPECT_TRUE(pdx::sameNameButCase("M\xFCller.db", "M\xFCLLER.DB"));
  EXPECT_FALSE(pdx::sameNameButCase("M\xFCller.db", "M\xDCller.db"));
}

TEST(FileNames, TheFamilyOfANonAsciiNameIsFoundInAnyLetterCase) {
  EXPECT_TRUE(pdx::isFamilyMember("BÜCHER", "Bücher.mb"));
  EXPECT_TRUE(pdx::isFamilyMember("Müller", "MÜLLER.PX"));
  EXPECT_TRUE(pdx::isFamilyMember("КЛИЕНТЫ", "клиенты.X02"));
  EXPECT_FALSE(pdx::isFamilyMember("MÜLLER", "Muller.px"));
  EXPECT_FALSE(pdx::isFamilyMember("BÜCHER", "Bücher.txt"));
}

}  // namespace
