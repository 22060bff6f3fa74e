#include "platform/pdx/Generate.h"
#include "tests/platform/pdx_writer/TempFolder.h"

#include <gtest/gtest.h>

#include <set>

namespace orl::pdx {
namespace {

class WriterGenerateTest : public ::testing::Test {
 protected:
  std::vector<std::vector<Value>> generate(const std::string& name, GenerateSettings settings) {
    generateTable(files, folder.file(name), settings);
    return test::readRows(folder.file(name));
  }

  test::TempFolder folder;
  PosixFileOps files;
};

TEST_F(WriterGenerateTest, TheSameSeedGivesTheSameTableAndAnotherSeedAnother) {
  // The same file name in three folders, since the header keeps the name.
  for (const char* sub : {"a", "b", "c"}) std::filesystem::create_directory(folder.file(sub));
  generate("a/T.db", {300, 40, 7, 0});
  generate("b/T.db", {300, 40, 7, 0});
  generate("c/T.db", {300, 40, 8, 0});
  EXPECT_EQ(test::fileBytes(folder.file("a/T.db")), test::fileBytes(folder.file("b/T.db")));
  EXPECT_EQ(test::fileBytes(folder.file("a/T.mb")), test::fileBytes(folder.file("b/T.mb")));
  EXPECT_NE(test::fileBytes(folder.file("a/T.db")), test::fileBytes(folder.file("c/T.db")));
}

TEST_F(WriterGenerateTest, TheNameFieldHasExactlyTheAskedNumberOfMixedCaseValues) {
  for (const auto& [rows, distinct, expected] : {std::tuple{500u, 37u, 37u}, std::tuple{20u, 100u, 20u}}) {
    const auto table = generate("T" + std::to_string(rows) + ".db", {rows, distinct, 3, 0});
    ASSERT_EQ(table.size(), rows);
    std::set<std::string> names;
    std::set<std::string> folded;
    bool mixed = false;
    for (const auto& row : table) {
      const std::string& name = std::get<std::string>(row[1]);
      names.insert(name);
      std::string lower = name;
      for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
      folded.insert(lower);
      bool upper = false, small = false;
      for (char c : name) {
        upper = upper || (c >= 'A' && c <= 'Z');
        small = small || (c >= 'a' && c <= 'z');
      }
      mixed = mixed || (upper && small);
    }
    EXPECT_EQ(names.size(), expected);
    EXPECT_EQ(folded.size(), expected);  // distinct whatever the letter case
    EXPECT_TRUE(mixed);
  }
}

TEST_F(WriterGenerateTest, EveryOtherFieldHasBlanksAndMemosTakeBothPlaces) {
  const auto table = generate("T.db", {400, 400, 11, 0});
  std::vector<int> blanks(7, 0);
  int longMemos = 0;
  for (std::size_t r = 0; r < table.size(); ++r) {
    EXPECT_EQ(table[r][0], Value{static_cast<std::int64_t>(r + 1)});
    for (std::size_t f = 0; f < 7; ++f) blanks[f] += std::holds_alternative<Null>(table[r][f]);
    if (const auto* memo = std::get_if<std::string>(&table[r][2])) longMemos += memo->size() > 30;
  }
  EXPECT_EQ(blanks[0], 0);
  EXPECT_EQ(blanks[1], 0);
  for (std::size_t f = 2; f < 7; ++f) EXPECT_GT(blanks[f], 10) << "field " << f;
  EXPECT_GT(longMemos, 10);
}

}  // namespace
}  // namespace orl::pdx
