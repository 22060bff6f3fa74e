#include "platform/pdx/Error.h"
#include "platform/pdx/Indexes.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tools/pdxtool/Commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace orl::pdx {
namespace {

namespace fs = std::filesystem;

class CorpusIndexes : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::corpusPresent()) GTEST_SKIP() << "the corpus is absent";
  }
  static std::string table(const std::string& relative) { return (test::corpusDir() / "tables" / relative).string(); }
};

TEST_F(CorpusIndexes, ASingleFieldIndexNamesItsFieldAndTree) {
  const IndexDescription indexes = describeIndexes(table("db/CUSTOMER.DB"));
  EXPECT_EQ(indexes.primaryIndexFile, "CUSTOMER.PX");
  ASSERT_EQ(indexes.primaryKey.size(), 1u);
  EXPECT_EQ(indexes.primaryKey[0].name, "CustNo");
  ASSERT_EQ(indexes.secondary.size(), 1u);
  const SecondaryIndex& city = indexes.secondary[0];
  EXPECT_EQ(city.indexFile, "CUSTOMER.X06");
  EXPECT_EQ(city.treeFile, "CUSTOMER.Y06");
  EXPECT_FALSE(city.composite);
  EXPECT_TRUE(city.maintained);
  ASSERT_EQ(city.fields.size(), 1u);
  EXPECT_EQ(city.fields[0].number, 6);
  EXPECT_EQ(city.fields[0].name, "City");
  EXPECT_EQ(city.caseSensitive, std::optional<bool>(true));
  EXPECT_EQ(city.sortOrderName, "ANSII850");
}

TEST_F(CorpusIndexes, ACompositeIndexKeepsItsOwnNameAndLeavesUnknownFlagsUnknown) {
  const IndexDescription indexes = describeIndexes(table("wdpl/Player.DB"));
  ASSERT_EQ(indexes.secondary.size(), 1u);
  const SecondaryIndex& team = indexes.secondary[0];
  EXPECT_EQ(team.indexFile, "Player.XG0");
  EXPECT_EQ(team.treeFile, "Player.YG0");
  EXPECT_TRUE(team.composite);
  EXPECT_EQ(team.name, "PlayerTeamIndex");
  ASSERT_EQ(team.fields.size(), 1u);
  EXPECT_EQ(team.fields[0].number, 3);
  EXPECT_EQ(team.fields[0].name, "PlayerTeam");
  EXPECT_FALSE(team.caseSensitive.has_value());
  EXPECT_FALSE(team.unique.has_value());
}

TEST_F(CorpusIndexes, AnUnkeyedTableHasNoKeyAndNoIndexes) {
  const IndexDescription indexes = describeIndexes(table("db/DECIMAL.DB"));
  EXPECT_TRUE(indexes.primaryIndexFile.empty());
  EXPECT_TRUE(indexes.primaryKey.empty());
  EXPECT_TRUE(indexes.secondary.empty());
}

// A copy of CUSTOMER whose index file is patched at one header byte.
class DamagedIndex : public CorpusIndexes {
 protected:
  std::string copyWithPatchedIndex(std::size_t offset, std::uint8_t value) {
    for (const char* name : {"CUSTOMER.DB", "CUSTOMER.MB", "CUSTOMER.PX", "CUSTOMER.X06", "CUSTOMER.Y06"})
      fs::copy_file(table(std::string("db/") + name), folder_.file(name));
    fs::permissions(folder_.file("CUSTOMER.X06"), fs::perms::owner_write, fs::perm_options::add);
    std::fstream file(folder_.file("CUSTOMER.X06"), std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(value));
    return folder_.file("CUSTOMER.DB");
  }
  test::TempFolder folder_;
};

TEST_F(DamagedIndex, AnIndexNamingAFieldTheTableLacksIsRefusedNamingTheFile) {
  // The field numbers follow the names "City", "CustNo", "Blk Num" at 0x1A7.
  const std::string path = copyWithPatchedIndex(0x1A7, 0x0B);
  try {
    describeIndexes(path);
    FAIL() << "a damaged index was described";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("CUSTOMER.X06"), std::string::npos) << error.what();
  }
}

TEST_F(DamagedIndex, AnIndexWhoseFileTypeIsATreeIsRefused) {
  EXPECT_THROW(describeIndexes(copyWithPatchedIndex(0x04, 4)), Error);
}

TEST_F(DamagedIndex, AnIndexWhoseEntrySizeDisagreesWithItsFieldsIsRefused) {
  EXPECT_THROW(describeIndexes(copyWithPatchedIndex(0x00, 0x16)), Error);
}

TEST_F(CorpusIndexes, InfoListsTheFamilyAndEachIndexWithItsFields) {
  std::ostringstream out;
  pdxtool::runInfo({table("wdpl/Player.DB")}, out);
  const std::string text = out.str();
  EXPECT_NE(text.find("family: Player.DB Player.FAM Player.PX Player.TV Player.XG0 Player.YG0\n"), std::string::npos) << text;
  EXPECT_NE(text.find("primary index: Player.PX on 1 PlayerNo\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Player.XG0 + Player.YG0 composite \"PlayerTeamIndex\" on 3 PlayerTeam; maintained"),
            std::string::npos)
      << text;
}

}  // namespace
}  // namespace orl::pdx
