#include "platform/pdx/FileOps.h"
#include "platform/pdx/Generate.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/IndexCheck.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tools/pdxtool/Copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace orl::pdx {
namespace {

namespace fs = std::filesystem;

std::uint16_t le16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// The bytes of an index file that hold index content: the header, and in
// each block its links, count and entries. What follows a block's last
// entry is left over from earlier contents: Paradox reads a block only up
// to the count in its head, so those bytes are masked.
std::vector<std::uint8_t> indexContent(std::vector<std::uint8_t> bytes) {
  const std::size_t headerSize = le16(bytes, 2);
  const std::size_t blockSize = bytes[5] * 1024u;
  const std::size_t entrySize = le16(bytes, 0);
  for (std::size_t at = headerSize; at + blockSize <= bytes.size(); at += blockSize) {
    const auto lastAt = static_cast<std::int16_t>(le16(bytes, at + 4));
    const std::size_t used = 6 + (lastAt < 0 ? 0 : static_cast<std::size_t>(lastAt) + entrySize);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at + std::min(used, blockSize)),
              bytes.begin() + static_cast<std::ptrdiff_t>(at + blockSize), 0);
  }
  return bytes;
}

class IndexedCorpusRebuild : public ::testing::TestWithParam<std::pair<const char*, const char*>> {
 protected:
  void SetUp() override {
    if (!test::corpusPresent()) GTEST_SKIP() << "the corpus is absent";
  }
  static std::string table(const std::string& relative) { return (test::corpusDir() / "tables" / relative).string(); }
  test::TempFolder out_;
  PosixFileOps files_;
};

// Each keyed table's primary index, rebuilt from its records, is the one
// Paradox wrote.
TEST_P(IndexedCorpusRebuild, ThePrimaryIndexRebuiltIsTheOneParadoxWrote) {
  const auto [relative, indexName] = GetParam();
  const auto written = rebuildIndexes(files_, table(relative), table(relative), out_.path(), {indexName});
  ASSERT_EQ(written.size(), 1u);
  const auto original = test::readBytes(fs::path(table(relative)).parent_path() / indexName);
  const auto rebuilt = test::readBytes(written[0]);
  ASSERT_EQ(rebuilt.size(), original.size());
  EXPECT_EQ(indexContent(rebuilt), indexContent(original));
  EXPECT_TRUE(checkTable(table(relative)).empty());
}

INSTANTIATE_TEST_SUITE_P(KeyedTables, IndexedCorpusRebuild,
                         ::testing::Values(std::pair{"db/CUSTOMER.DB", "CUSTOMER.PX"}, std::pair{"db/ORDERS.DB", "ORDERS.PX"},
                                           std::pair{"db/GENERAL.DB", "GENERAL.PX"}, std::pair{"db/HERCULES.DB", "HERCULES.PX"},
                                           std::pair{"wdpl/Player.DB", "Player.PX"},
                                           std::pair{"wdpl/Team.DB", "Team.PX"}, std::pair{"fields/long.db", "long.px"},
                                           std::pair{"fields/memo.db", "memo.px"}, std::pair{"fields/fmemo.db", "fmemo.px"},
                                           std::pair{"fields/graphic.db", "graphic.px"},
                                           std::pair{"fields/graphic240.db", "graphic240.px"},
                                           std::pair{"fields/ole.db", "ole.px"}));

class IndexedCorpusTables : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::corpusPresent()) GTEST_SKIP() << "the corpus is absent";
  }
  static std::string table(const std::string& relative) { return (test::corpusDir() / "tables" / relative).string(); }
  // A writable copy of the table's family in the temporary folder.
  std::string copyFamily(const std::string& relative) {
    const fs::path source(table(relative));
    for (const auto& entry : fs::directory_iterator(source.parent_path())) {
      if (entry.path().stem() != source.stem()) continue;
      fs::copy_file(entry.path(), folder_.file(entry.path().filename().string()));
      fs::permissions(folder_.file(entry.path().filename().string()), fs::perms::owner_write, fs::perm_options::add);
    }
    return folder_.file(source.filename().string());
  }
  static void patch(const std::string& path, std::size_t offset, std::vector<std::uint8_t> bytes) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(static_cast<std::streamoff>(offset));
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  test::TempFolder folder_;
  PosixFileOps files_;
};

// CUSTOMER's "City" index is text in the ANSI international 850 order of
// code page 1252: the .X06 and its tree come out as Paradox wrote them.
TEST_F(IndexedCorpusTables, ATextIndexInAnInternationalOrderIsRebuiltAsParadoxWroteIt) {
  const auto written = rebuildIndexes(files_, table("db/CUSTOMER.DB"), table("db/CUSTOMER.DB"), folder_.path(), {"CUSTOMER.X06"});
  ASSERT_EQ(written.size(), 2u);
  for (const auto& path : written) {
    const auto original = test::readBytes(fs::path(table("db/CUSTOMER.DB")).parent_path() / fs::path(path).filename());
    EXPECT_EQ(indexContent(test::readBytes(path)), indexContent(original)) << path;
  }
}

// Player's composite index is on a number, so its case rule, which its
// header does not give, does not matter. The rebuilt .XG0 differs from
// Paradox's only in the data block number that ends each entry: Paradox
// writes the block the record is in when the entry is made, and leaves it
// when later records split that block and move the record on; it reads the
// number as where to start looking and finds the record by its key. The
// rebuilt entries name the block each record is in now. A block outside
// the chain of entries is free space that Paradox reads only when it needs a
// new block; Paradox's still has the links it had when it was last used,
// the rebuilt one is zeros.
TEST_F(IndexedCorpusTables, ACompositeIndexOnANumberIsRebuiltAsParadoxWroteItButForStaleBlockNumbers) {
  const auto written = rebuildIndexes(files_, table("wdpl/Player.DB"), table("wdpl/Player.DB"), folder_.path(), {"Player.XG0"});
  ASSERT_EQ(written, (std::vector<std::string>{folder_.file("Player.YG0"), folder_.file("Player.XG0")}));
  const fs::path folder = fs::path(table("wdpl/Player.DB")).parent_path();
  EXPECT_EQ(indexContent(test::readBytes(written[0])), indexContent(test::readBytes(folder / "Player.YG0")));

  auto rebuilt = indexContent(test::readBytes(written[1]));
  auto original = indexContent(test::readBytes(folder / "Player.XG0"));
  ASSERT_EQ(rebuilt.size(), original.size());
  const std::size_t entrySize = le16(original, 0);  // PlayerTeam, PlayerNo, then the block number
  ASSERT_EQ(entrySize, 4u + 8u + 2u);
  std::vector<bool> inChain(original.size() / 0x800, false);
  for (std::size_t block = le16(original, 0x0E); block != 0; block = le16(original, block * 0x800)) inChain.at(block) = true;
  for (std::size_t block = 1; block < inChain.size(); ++block) {
    if (inChain[block]) continue;
    const auto begin = rebuilt.begin() + static_cast<std::ptrdiff_t>(block * 0x800);
    EXPECT_TRUE(std::all_of(begin, begin + 0x800, [](std::uint8_t byte) { return byte == 0; })) << "free block " << block;
    std::fill(original.begin() + static_cast<std::ptrdiff_t>(block * 0x800), original.begin() + static_cast<std::ptrdiff_t>((block + 1) * 0x800), 0);
  }
  int stale = 0;
  for (std::size_t block = 0x800; block < original.size(); block += 0x800) {
    if (!inChain[block / 0x800]) continue;
    const auto lastAt = static_cast<std::int16_t>(le16(original, block + 4));
    for (std::size_t at = block + 6; lastAt >= 0 && at <= block + 6 + static_cast<std::size_t>(lastAt); at += entrySize) {
      const std::size_t numberAt = at + entrySize - 2;
      const int was = ((original[numberAt] ^ 0x80) << 8) | original[numberAt + 1];
      const int now = ((rebuilt[numberAt] ^ 0x80) << 8) | rebuilt[numberAt + 1];
      EXPECT_LE(was, now) << "a record moved to an earlier block, at " << numberAt;
      stale += was != now;
      for (std::size_t i = numberAt; i < numberAt + 2; ++i) rebuilt[i] = original[i] = 0;
    }
  }
  EXPECT_GT(stale, 0);
  EXPECT_EQ(rebuilt, original);
}

// An .XGn whose entries hold text but whose header leaves its case rule
// open: CUSTOMER's "City" index presented as a composite one.
TEST_F(IndexedCorpusTables, ATextIndexWhoseCaseRuleTheFileDoesNotGiveIsRefused) {
  const std::string path = copyFamily("db/CUSTOMER.DB");
  fs::rename(folder_.file("CUSTOMER.X06"), folder_.file("CUSTOMER.XG0"));
  fs::rename(folder_.file("CUSTOMER.Y06"), folder_.file("CUSTOMER.YG0"));
  patch(folder_.file("CUSTOMER.XG0"), 0x04, {8});
  patch(folder_.file("CUSTOMER.YG0"), 0x04, {7});
  ASSERT_FALSE(describeIndexes(path).secondary.at(0).caseSensitive.has_value());
  try {
    checkRebuildable(path, {"CUSTOMER.XG0"});
    FAIL() << "an index of unknown case rule was taken as rebuildable";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("case-sensitive"), std::string::npos) << error.what();
  }
}

TEST_F(IndexedCorpusTables, ChangingAKeyFieldRebuildsEveryIndexAndAnIndexedFieldOnlyItsOwn) {
  const IndexDescription player = describeIndexes(table("wdpl/Player.DB"));
  EXPECT_EQ(indexesInvolving(player, {1}), (std::vector<std::string>{"Player.PX", "Player.XG0"}));
  EXPECT_EQ(indexesInvolving(player, {3}), (std::vector<std::string>{"Player.XG0"}));
  EXPECT_TRUE(indexesInvolving(player, {2}).empty());
}

TEST_F(IndexedCorpusTables, CheckPassesOnEveryCorpusTable) {
  for (const auto& path : test::filesWithExtension(test::corpusDir() / "tables", ".db")) {
    if (path.parent_path().filename() == "encrypt") continue;
    EXPECT_EQ(checkTable(path.string()), std::vector<std::string>{}) << path;
  }
}

TEST_F(IndexedCorpusTables, CheckPassesOnTablesThisProgramWrites) {
  pdxtool::copyTable(files_, table("wdpl/Player.DB"), folder_.file("COPY.DB"), 0);
  EXPECT_EQ(checkTable(folder_.file("COPY.DB")), std::vector<std::string>{});
  GenerateSettings settings;
  settings.rows = 500;
  generateTable(files_, folder_.file("GEN.DB"), settings);
  EXPECT_EQ(checkTable(folder_.file("GEN.DB")), std::vector<std::string>{});
}

// The reader follows only the next links; Paradox also walks back.
TEST_F(IndexedCorpusTables, CheckFindsABrokenPreviousLink) {
  const std::string path = copyFamily("db/ORDERS.DB");
  patch(path, 0x800 + 2 * 0x800 + 2, {0x05, 0x00});  // block 3 names block 5 as the one before it
  const auto faults = checkTable(path);
  ASSERT_EQ(faults.size(), 1u);
  EXPECT_NE(faults[0].find("block 3 names block 5 as the one before it, but block 2 is"), std::string::npos) << faults[0];
}

TEST_F(IndexedCorpusTables, CheckFindsAPrimaryIndexEntryLeadingToTheWrongBlock) {
  const std::string path = copyFamily("db/ORDERS.DB");
  patch(folder_.file("ORDERS.PX"), 0x800 + 6 + 8, {0x80, 0x02});  // the first entry leads to block 2
  const auto faults = checkTable(path);
  ASSERT_FALSE(faults.empty());
  EXPECT_NE(faults[0].find("entry 1 leads to block 2 instead of 1"), std::string::npos) << faults[0];
}

// ORDERS is keyed on "Order No" (a number), stored first in each record.
TEST_F(IndexedCorpusTables, RecordsOutOfKeyOrderAreReLaidAndTheirIndexRebuilt) {
  const std::string path = copyFamily("db/ORDERS.DB");
  // Record 1 of block 1 gets the highest order number: it must go last.
  patch(path, 0x800 + 6, {0xC1, 0x00, 0, 0, 0, 0, 0, 0});
  EXPECT_FALSE(checkTable(path).empty());
  const auto order = primaryKeyOrder(path);
  EXPECT_EQ(order.back(), 0u);
  EXPECT_EQ(order.front(), 1u);
  writeInKeyOrder(files_, path, folder_.file("RELAID.DB"));
  fs::create_directory(folder_.file("out"));
  rebuildIndexes(files_, folder_.file("RELAID.DB"), path, folder_.file("out"), {"ORDERS.PX"});
  fs::rename(folder_.file("out/ORDERS.PX"), folder_.file("RELAID.PX"));
  EXPECT_EQ(checkTable(folder_.file("RELAID.DB")), std::vector<std::string>{});
  EXPECT_EQ(test::readRows(folder_.file("RELAID.DB")).size(), 224u);
}

TEST_F(IndexedCorpusTables, TwoRecordsWithOneKeyAreRefusedNamingTheFieldAndBothValues) {
  const std::string path = copyFamily("db/ORDERS.DB");
  const auto first = test::readBytes(path);
  // Record 2 gets record 1's order number.
  patch(path, 0x800 + 6 + 0x47, std::vector<std::uint8_t>(first.begin() + 0x806, first.begin() + 0x80E));
  try {
    primaryKeyOrder(path);
    FAIL() << "a duplicate key was accepted";
  } catch (const DuplicateKeyError& error) {
    EXPECT_NE(std::string(error.what()).find("(\"Order No\"): \"1001\" and \"1001\""), std::string::npos) << error.what();
  }
}

TEST_F(IndexedCorpusTables, RecordsNotInKeyOrderAreRefusedForRebuilding) {
  const std::string path = copyFamily("db/ORDERS.DB");
  patch(path, 0x800 + 6, {0xC1, 0x00, 0, 0, 0, 0, 0, 0});
  fs::create_directory(folder_.file("out"));
  EXPECT_THROW(rebuildIndexes(files_, path, path, folder_.file("out"), {"ORDERS.PX"}), Error);
  EXPECT_TRUE(fs::is_empty(folder_.file("out")));
}

}  // namespace
}  // namespace orl::pdx

namespace orl::pdx {
namespace {

// A table the writer makes, turned keyed on its first field by its header's
// file type and key field count, as Paradox would have made it.
std::string keyedTextTable(const test::TempFolder& folder, const std::string& sortOrderName,
                           const std::vector<std::string>& names, int codePage = 1252) {
  PosixFileOps files;
  WriterSettings settings;
  settings.fields = {Field{"Name", FieldType::Alpha, 10}};
  settings.sortOrderName = sortOrderName;
  settings.codePage = codePage;
  const std::string path = folder.file("KEYED.DB");
  TableWriter writer(files, path, settings);
  for (const auto& name : names) writer.append({name.empty() ? Value{Null{}} : Value{name}});
  writer.finish();
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(0x04);
  file.put(0);  // keyed
  file.seekp(0x23);
  file.put(1);  // on its first field
  return path;
}

TEST(AsciiSortOrder, TextSortsByItsCodesCapitalsFirstAccentsLast) {
  test::TempFolder folder;
  const std::vector<std::string> names{"zoo", "Ärger", "adam", "10", "Zoe", "", "9", "-x", "Bob"};
  const auto order = primaryKeyOrder(keyedTextTable(folder, "ascii", names));
  std::vector<std::string> sorted;
  for (auto position : order) sorted.push_back(names[position]);
  EXPECT_EQ(sorted, (std::vector<std::string>{"", "-x", "10", "9", "Bob", "Zoe", "adam", "zoo", "Ärger"}));
}

TEST(AsciiSortOrder, KeysThatDifferOnlyInCaseAreTwoKeys) {
  test::TempFolder folder;
  EXPECT_EQ(primaryKeyOrder(keyedTextTable(folder, "ascii", {"smith", "Smith"})), (std::vector<std::uint32_t>{1, 0}));
}

std::vector<std::string> sortedKeys(const std::string& sortOrderName, int codePage, const std::vector<std::string>& names) {
  test::TempFolder folder;
  std::vector<std::string> sorted;
  for (auto position : primaryKeyOrder(keyedTextTable(folder, sortOrderName, names, codePage))) sorted.push_back(names[position]);
  return sorted;
}

// Values that tell the orders apart: case, accents, letters that sort as
// two, digits and punctuation.
const std::vector<std::string> mixedNames{"zoo", "Ärger", "adam", "10", "Zoe", "", "9", "-x", "Bob", "Apfel", "apfel", "Ådal", "Øl", "Éte", "ete"};

// The international orders: punctuation, digits, then letters whatever
// their case or accent; where only case or accent differ, the plain lower
// case letter first. Ä sorts as "ae" and Ø as an O with a stroke; Å is an
// A with a ring in the 850 order, a letter of its own after Z in the other.
TEST(InternationalSortOrders, LettersSortTogetherLowerCaseFirstAndUmlautsAsTwoLetters) {
  EXPECT_EQ(sortedKeys("ANSII850", 1252, mixedNames),
            (std::vector<std::string>{"", "-x", "10", "9", "Ådal", "adam", "Ärger", "apfel", "Apfel", "Bob", "ete", "Éte",
                                      "Øl", "Zoe", "zoo"}));
  EXPECT_EQ(sortedKeys("ANSIINTL", 1252, mixedNames),
            (std::vector<std::string>{"", "-x", "10", "9", "adam", "Ärger", "apfel", "Apfel", "Bob", "ete", "Éte", "Øl",
                                      "Zoe", "zoo", "Ådal"}));
  EXPECT_EQ(sortedKeys("intl", 437, {"zoo", "Ärger", "adam", "10", "Zoe", "", "9", "-x", "Bob", "Apfel", "apfel", "Éte", "ete"}),
            (std::vector<std::string>{"", "-x", "10", "9", "adam", "Ärger", "apfel", "Apfel", "Bob", "ete", "Éte", "Zoe", "zoo"}));
}

// The Nordic orders put their own letters after Z: Swedish and Finnish
// Å, Ä, Ö; Norwegian and Danish Æ, Ø, Å.
TEST(InternationalSortOrders, NordicLettersComeAfterZ) {
  const std::vector<std::string> names{"Öl", "zoo", "Ärger", "Ådal", "adam", "Zoe", "Bob"};
  const std::vector<std::string> swedish{"adam", "Bob", "Zoe", "zoo", "Ådal", "Ärger", "Öl"};
  EXPECT_EQ(sortedKeys("ANSISWFN", 1252, names), swedish);
  EXPECT_EQ(sortedKeys("swedfin", 437, names), swedish);
  const std::vector<std::string> norwegianNames{"Åse", "zoo", "Øl", "Ærlig", "adam", "Zoe", "Bob"};
  const std::vector<std::string> norwegian{"adam", "Bob", "Zoe", "zoo", "Ærlig", "Øl", "Åse"};
  EXPECT_EQ(sortedKeys("ANSINOR4", 1252, norwegianNames), norwegian);
  EXPECT_EQ(sortedKeys("nordan40", 865, norwegianNames), norwegian);
}

// Keys that differ only in case are two keys there too, and a key that
// begins another sorts first.
TEST(InternationalSortOrders, CaseMakesTwoKeysAndAShorterKeyComesFirst) {
  EXPECT_EQ(sortedKeys("ANSIINTL", 1252, {"Smith", "smith", "Smithe", "Smit"}),
            (std::vector<std::string>{"Smit", "smith", "Smith", "Smithe"}));
}

TEST(OtherSortOrders, AnOrderNotReproducedIsNeitherSortedNorGuessed) {
  test::TempFolder folder;
  // "intl" of code page 850 weighs other bytes than that of 437.
  for (const auto& [order, codePage] : {std::pair{"intl", 850}, std::pair{"intl850", 850}, std::pair{"ANSIINTL", 437}}) {
    const std::string path = keyedTextTable(folder, order, {"b", "a"}, codePage);
    EXPECT_FALSE(sortOrderReproducible(Table::inspect(path))) << order;
    try {
      primaryKeyOrder(path);
      ADD_FAILURE() << "a key was sorted in the order " << order << " of code page " << codePage;
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find(std::string("\"") + order + "\""), std::string::npos) << error.what();
    }
    std::filesystem::remove(path);
  }
}

}  // namespace
}  // namespace orl::pdx
