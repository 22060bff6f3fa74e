#include "platform/pdx/Table.h"
#include "tools/makesamples/SampleTable.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>

namespace orl::samples {
namespace {

namespace fs = std::filesystem;

const fs::path Sources = ORLINTIDE_SAMPLE_SOURCES;
const fs::path Built = ORLINTIDE_BUILT_SAMPLES;

std::vector<std::vector<pdx::Value>> readRows(const pdx::Table& table) {
  std::vector<std::vector<pdx::Value>> rows;
  pdx::Cursor cursor = table.cursor();
  std::vector<pdx::Value> row;
  while (cursor.next(row)) rows.push_back(row);
  return rows;
}

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file below a folder with its bytes, by relative path.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[fs::relative(entry.path(), root).string()] = fileBytes(entry.path());
  return files;
}

const pdx::Value& valueOf(const pdx::Table& table, const std::vector<pdx::Value>& row, const std::string& field) {
  for (std::size_t i = 0; i < table.fields().size(); ++i)
    if (table.fields()[i].name == field) return row[i];
  throw std::out_of_range("no field " + field);
}

// The record whose first field holds `key`.
std::vector<pdx::Value> recordWithKey(const pdx::Table& table, std::int64_t key) {
  for (auto& row : readRows(table))
    if (row[0] == pdx::Value(key)) return row;
  throw std::out_of_range("no record " + std::to_string(key));
}

TEST(Samples, EveryBuiltTableReadsBackAsItsSampleFileDescribesIt) {
  const auto files = SampleFiles(Sources);
  ASSERT_GE(files.size(), 2u);
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const SampleTable sample = ReadSampleFile(Sources / file);
    const pdx::Table table = pdx::Table::open((Built / file.parent_path() / (sample.name + ".db")).string());
    EXPECT_EQ(table.header().level, "5.x");
    EXPECT_FALSE(table.header().keyed());
    EXPECT_EQ(table.header().codePage, sample.settings.codePage);
    ASSERT_EQ(table.fields().size(), sample.settings.fields.size());
    for (std::size_t f = 0; f < table.fields().size(); ++f) {
      EXPECT_EQ(table.fields()[f].name, sample.settings.fields[f].name);
      EXPECT_EQ(table.fields()[f].type, sample.settings.fields[f].type);
      EXPECT_EQ(table.fields()[f].size, sample.settings.fields[f].size);
    }
    EXPECT_EQ(readRows(table), sample.records);
  }
}

TEST(Samples, CustomerTableHoldsWhatADemonstrationNeeds) {
  const pdx::Table table = pdx::Table::open((Built / "CUSTOMER.db").string());
  EXPECT_EQ(table.header().codePage, 1252);
  const auto rows = readRows(table);
  ASSERT_GE(rows.size(), 20u);

  const auto mary = recordWithKey(table, 1001);
  EXPECT_EQ(valueOf(table, mary, "Last Name"), pdx::Value(std::string("o'brien")));
  EXPECT_EQ(valueOf(table, mary, "Customer Since"), pdx::Value(pdx::Date{2009, 3, 17}));
  EXPECT_EQ(valueOf(table, mary, "Credit Limit"), pdx::Value(2500.0));
  EXPECT_EQ(valueOf(table, mary, "Region"), pdx::Value(pdx::Null{}));
  const auto helene = recordWithKey(table, 1003);
  EXPECT_EQ(valueOf(table, helene, "City"), pdx::Value(std::string("Zürich")));
  EXPECT_EQ(valueOf(table, helene, "Notes"),
            pdx::Value(std::string("Orders every quarter.\nCall Frau Müller, not the switchboard.")));
  const auto walkIn = recordWithKey(table, 1024);
  EXPECT_EQ(valueOf(table, walkIn, "First Name"), pdx::Value(pdx::Null{}));
  EXPECT_EQ(valueOf(table, walkIn, "Credit Limit"), pdx::Value(pdx::Null{}));

  // Names in capitals, in small letters and mixed, so that every case choice changes something.
  int capitals = 0, small = 0, mixed = 0;
  for (const auto& row : rows) {
    const auto* name = std::get_if<std::string>(&valueOf(table, row, "Last Name"));
    if (!name) continue;
    const bool anyUpper = std::any_of(name->begin(), name->end(), [](char c) { return std::isupper(static_cast<unsigned char>(c)); });
    const bool anyLower = std::any_of(name->begin(), name->end(), [](char c) { return std::islower(static_cast<unsigned char>(c)); });
    (anyUpper && anyLower ? mixed : anyUpper ? capitals : small) += 1;
  }
  EXPECT_GE(capitals, 3);
  EXPECT_GE(small, 3);
  EXPECT_GE(mixed, 3);

  // Long notes go to the memo file.
  EXPECT_TRUE(fs::exists(Built / "CUSTOMER.mb"));
}

TEST(Samples, NonAsciiLettersAreStoredInEachTablesCodePage) {
  // ü is 0xFC in code page 1252 and 0x81 in 850; ö is 0x94 in 850.
  EXPECT_NE(fileBytes(Built / "CUSTOMER.db").find("Z\xFCrich"), std::string::npos);
  const std::string vendors = fileBytes(Built / "Archive" / "VENDORS.db");
  EXPECT_NE(vendors.find("K\x94ln"), std::string::npos);
  EXPECT_NE(vendors.find("J\x81rgen M\x81ller"), std::string::npos);

  const pdx::Table table = pdx::Table::open((Built / "Archive" / "VENDORS.db").string());
  EXPECT_EQ(table.header().codePage, 850);
  const auto tea = recordWithKey(table, 4);
  EXPECT_EQ(valueOf(table, tea, "Name"), pdx::Value(std::string("O'FLAHERTY'S TEAS")));
  EXPECT_EQ(valueOf(table, tea, "Active"), pdx::Value(true));
  EXPECT_EQ(valueOf(table, tea, "Opens At"), pdx::Value(pdx::TimeOfDay{8 * 3600 * 1000}));
  EXPECT_EQ(valueOf(table, tea, "Last Order"), pdx::Value(pdx::Timestamp{{2021, 8, 20}, {11 * 3600 * 1000}}));
}

TEST(Samples, MakingThemAgainGivesTheSameBytes) {
  QTemporaryDir first, second;
  ASSERT_TRUE(first.isValid() && second.isValid());
  const auto written = MakeSamples(Sources, first.path().toStdString());
  EXPECT_EQ(written.size(), SampleFiles(Sources).size());
  MakeSamples(Sources, second.path().toStdString());
  const auto again = tree(second.path().toStdString());
  EXPECT_EQ(tree(first.path().toStdString()), again);
  // The build made its copy at another moment, so nothing in a table may depend on the time.
  EXPECT_EQ(tree(Built), again);
}

TEST(Samples, MakingThemOverAChangedSetReplacesEveryTable) {
  QTemporaryDir folder;
  const fs::path target = folder.path().toStdString();
  MakeSamples(Sources, target);
  const auto clean = tree(target);
  // A run replaces a table with one of different bytes; making the samples
  // again must not fail on the files already there.
  std::ofstream(target / "CUSTOMER.db", std::ios::binary | std::ios::trunc) << "changed";
  MakeSamples(Sources, target);
  EXPECT_EQ(tree(target), clean);
}

SampleTable parse(const std::string& text) {
  std::istringstream in(text);
  return ParseSampleTable(in, "T.table", "T");
}

TEST(Samples, TextFormReadsEveryTypeAndEscape) {
  const SampleTable table = parse(
      "# comment\ncodepage = 850\nmodified = 1970-01-02 00:00:01\n"
      "field Name = Alpha 10\nfield Note = Memo 12\nfield N = Short\nfield L = Long\nfield X = Number\n"
      "field M = Money\nfield D = Date\nfield T = Time\nfield S = Timestamp\nfield B = Logical\n\n"
      "record\nName = a = b\nNote = one\\ntwo \\\\ three\\x\nN = -7\nL = 70000\nX = 1.25\nM = -3.5\n"
      "D = 2024-02-29\nT = 23:59:58\nS = 2000-01-01 00:00:00\nB = False\n"
      "record\r\nB = True\r\n");
  EXPECT_EQ(table.settings.codePage, 850);
  EXPECT_EQ(table.settings.modifiedTime, 86401u);
  ASSERT_EQ(table.records.size(), 2u);
  const std::vector<pdx::Value> first = {std::string("a = b"), std::string("one\ntwo \\ three\\x"), std::int64_t{-7},
                                         std::int64_t{70000}, 1.25, -3.5, pdx::Date{2024, 2, 29},
                                         pdx::TimeOfDay{(23 * 3600 + 59 * 60 + 58) * 1000},
                                         pdx::Timestamp{{2000, 1, 1}, {0}}, false};
  EXPECT_EQ(table.records[0], first);
  std::vector<pdx::Value> second(first.size(), pdx::Null{});
  second.back() = true;
  EXPECT_EQ(table.records[1], second);
}

TEST(Samples, MistakesInTheTextFormAreNamedByLine) {
  const std::string head = "modified = 2021-01-01 00:00:00\nfield A = Alpha 5\nfield D = Date\n";
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {"field A = Alpha 5\nrecord\n", "T.table:2: \"modified\" is needed, so that every build writes the same table"},
      {head + "record\nD = 2021-02-29\n", "T.table:5: \"2021-02-29\" is not a value for the field \"D\""},
      {head + "record\nB = x\n", "T.table:5: no field \"B\""},
      {head + "record\nA = x\nA = y\n", "T.table:6: \"A\" is given twice in one record"},
      {head + "field A = Memo 5\n", "T.table:4: the field \"A\" is declared twice"},
      {head + "field C = Alpha\n", "T.table:4: Alpha needs a size"},
      {head + "field C = Float\n", "T.table:4: unknown field type \"Float\""},
      {head + "field C = Alpha 300\n", ""},
      {head + "nonsense\n", "T.table:4: expected \"name = value\" or \"record\""},
      {"record\n", "T.table:1: fields come before the first record"},
      {"modified = 1969-12-31 23:59:59\n", "T.table:1: \"modified\" is YYYY-MM-DD HH:MM:SS, from 1970 to 2106"},
      {head + "record\nA = 12:00\nD = 2021-1-01\n", "T.table:6: \"2021-1-01\" is not a value for the field \"D\""},
  };
  for (const auto& mistake : cases) {
    SCOPED_TRACE(mistake.text);
    try {
      parse(mistake.text);
      ADD_FAILURE() << "accepted";
    } catch (const SampleError& error) {
      if (mistake.message.empty())
        EXPECT_EQ(std::string(error.what()).rfind("T.table:4: ", 0), 0u) << error.what();
      else
        EXPECT_EQ(error.what(), mistake.message);
    }
  }
}

TEST(Samples, AValueTheTableCannotHoldNamesTheRecord) {
  QTemporaryDir folder;
  SampleTable table = parse("modified = 2021-01-01 00:00:00\nfield A = Alpha 3\nrecord\nA = abc\nrecord\nA = abcd\n");
  try {
    WriteSampleTable(table, folder.path().toStdString());
    ADD_FAILURE() << "a value wider than its field was written";
  } catch (const SampleError& error) {
    EXPECT_EQ(std::string(error.what()).rfind("T, record 2: ", 0), 0u) << error.what();
  }
  // A table never finished is not left behind.
  EXPECT_FALSE(fs::exists(fs::path(folder.path().toStdString()) / "T.db"));
}

}  // namespace
}  // namespace orl::samples
