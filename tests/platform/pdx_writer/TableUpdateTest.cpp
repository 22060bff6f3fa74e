#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/FieldCodec.h"
#include "platform/pdx/Header.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/IndexCheck.h"
#include "platform/pdx/TableUpdate.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/support/IndexedTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace orl::pdx {
namespace {

namespace fs = std::filesystem;

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Every file of a folder with its bytes.
std::map<std::string, std::vector<std::uint8_t>> snapshot(const std::string& folder) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(folder)) files[entry.path().filename().string()] = test::fileBytes(entry.path().string());
  return files;
}

// Changes one field of every record by a transform of its text; other fields keep their values.
ChangeSource changing(std::size_t field, std::function<std::string(const std::string&)> transform) {
  return [field, transform](const std::vector<Value>& before, RecordChanges& changes) {
    if (before.empty()) return false;
    if (const auto* text = std::get_if<std::string>(&before[field])) changes[field] = Value(transform(*text));
    return true;
  };
}

ChangeCheck acceptingAll() {
  return [](const Value&, const Value&) { return true; };
}

std::vector<std::vector<Value>> rowsOf(const std::string& path) {
  const Table table = Table::open(path);
  Cursor cursor = table.cursor();
  std::vector<std::vector<Value>> rows;
  std::vector<Value> row;
  while (cursor.next(row)) rows.push_back(row);
  return rows;
}

class TableUpdateTest : public ::testing::Test {
 protected:
  // A copy of a corpus table's family in a folder of its own.
  std::string copyOfCorpus(const std::string& group, const std::string& tableFile) {
    test::copyCorpusFamily(group, tableFile, temp.path());
    return temp.file(tableFile);
  }

  // A level-5 table of two alpha fields and a memo, written by the project's writer.
  std::string writtenTable(const std::vector<std::vector<Value>>& rows, int codePage = 1252) {
    WriterSettings settings;
    settings.fields = {{"Name", FieldType::Alpha, 20}, {"Town", FieldType::Alpha, 20}, {"Notes", FieldType::Memo, 20}};
    settings.codePage = codePage;
    settings.tableName = "PEOPLE.DB";
    TableWriter writer(files, temp.file("PEOPLE.DB"), settings);
    for (const auto& row : rows) writer.append(row);
    writer.finish();
    return temp.file("PEOPLE.DB");
  }

  test::TempFolder temp;
  PosixFileOps files;
};

TEST_F(TableUpdateTest, OnlyTheChangedFieldsBytesDifferAndEveryOtherFileStaysAsItWas) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  const std::string table = copyOfCorpus("db", "CUSTOMER.DB");
  const auto before = snapshot(temp.path());
  const auto oldRows = rowsOf(table);
  const std::size_t street = 4;

  TableUpdate update(files, table);
  update.write(changing(street, upperAscii));
  EXPECT_TRUE(update.changed(street));
  update.verify(street, [](const Value& was, const Value& is) {
    return std::get<std::string>(is) == upperAscii(std::get<std::string>(was));
  });
  update.commit();

  const auto after = snapshot(temp.path());
  ASSERT_EQ(after.size(), before.size());
  for (const auto& [name, bytes] : before) {
    if (name == "CUSTOMER.DB") continue;
    EXPECT_EQ(after.at(name), bytes) << name;
  }
  // The table file differs only within the field's bytes of some records.
  const TableHeader header = Table::inspect(table);
  const auto& oldBytes = before.at("CUSTOMER.DB");
  const auto& newBytes = after.at("CUSTOMER.DB");
  ASSERT_EQ(oldBytes.size(), newBytes.size());
  std::size_t fieldStart = 0;
  for (std::size_t f = 0; f < street; ++f) fieldStart += static_cast<std::size_t>(detail::storedWidth(header.fields[f]));
  const std::size_t fieldEnd = fieldStart + static_cast<std::size_t>(header.fields[street].size);
  for (std::size_t at = 0; at < oldBytes.size(); ++at) {
    if (oldBytes[at] == newBytes[at]) continue;
    ASSERT_GE(at, static_cast<std::size_t>(header.headerSize)) << "the header changed at " << at;
    const std::size_t inBlock = (at - header.headerSize) % header.blockSize;
    ASSERT_GE(inBlock, 6u);
    const std::size_t inRecord = (inBlock - 6) % header.recordSize;
    EXPECT_TRUE(inRecord >= fieldStart && inRecord < fieldEnd) << "byte " << at << " lies outside the field";
  }
  const auto newRows = rowsOf(table);
  ASSERT_EQ(newRows.size(), oldRows.size());
  for (std::size_t r = 0; r < oldRows.size(); ++r)
    for (std::size_t f = 0; f < header.fields.size(); ++f) {
      if (f != street) {
        EXPECT_EQ(newRows[r][f], oldRows[r][f]);
      } else if (const auto* text = std::get_if<std::string>(&oldRows[r][f])) {
        EXPECT_EQ(std::get<std::string>(newRows[r][f]), upperAscii(*text));
      }
    }
}

TEST_F(TableUpdateTest, AMemoOfTheSameLengthIsOverwrittenInPlaceAndALongerOneAppended) {
  const std::string longer(3000, 'x');
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), std::string(40, 'm')},
                                          {std::string("bob"), std::string("leeds"), std::string(500, 'n')},
                                          {std::string("cy"), std::string("hull"), std::string("short")},
                                          {std::string("di"), Null{}, Null{}}});
  const auto memoBefore = test::fileBytes(temp.file("PEOPLE.MB"));
  TableUpdate update(files, table);
  update.write([&](const std::vector<Value>& before, RecordChanges& changes) {
    if (before.empty()) return false;
    const auto* notes = std::get_if<std::string>(&before[2]);
    if (notes && notes->size() == 40) changes[2] = Value(upperAscii(*notes));        // same length, in the file
    if (notes && notes->size() == 500) changes[2] = Value(longer);                   // longer: a block of its own
    if (notes && *notes == "short") changes[2] = Value(std::string("SHORT, now longer than the record's part"));
    if (!notes) changes[2] = Value(std::string("was blank"));
    return true;
  });
  update.verify(2, acceptingAll());
  update.commit();

  const auto rows = rowsOf(table);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(std::get<std::string>(rows[0][2]), std::string(40, 'M'));
  EXPECT_EQ(std::get<std::string>(rows[1][2]), longer);
  EXPECT_EQ(std::get<std::string>(rows[2][2]), "SHORT, now longer than the record's part");
  EXPECT_EQ(std::get<std::string>(rows[3][2]), "was blank");
  const auto memoAfter = test::fileBytes(temp.file("PEOPLE.MB"));
  ASSERT_GT(memoAfter.size(), memoBefore.size());
  // What was there before keeps its size and place; only the overwritten memo's bytes changed there.
  std::size_t changedBytes = 0;
  for (std::size_t at = 0; at < memoBefore.size(); ++at) changedBytes += memoBefore[at] != memoAfter[at];
  EXPECT_EQ(changedBytes, 40u);
}

TEST_F(TableUpdateTest, AKeyFieldChangeIsRefusedAndTheFolderStaysAsItWas) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  const std::string table = copyOfCorpus("wdpl", "Player.DB");
  const auto before = snapshot(temp.path());
  TableUpdate update(files, table);
  // PlayerNo, the key: a number given a new value.
  EXPECT_THROW(update.write([](const std::vector<Value>& row, RecordChanges& changes) {
    if (row.empty()) return false;
    if (const auto* number = std::get_if<double>(&row[0])) changes[0] = Value(*number + 1000);
    return true;
  }),
               Error);
  EXPECT_EQ(snapshot(temp.path()), before);
}

// CUSTOMER's City is indexed by .X06/.Y06 in the sort order ANSII850.
TEST_F(TableUpdateTest, AnIndexedFieldIsRefusedOrHasItsIndexRebuiltAsTheCallerAllows) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  const std::string table = copyOfCorpus("db", "CUSTOMER.DB");
  const auto before = snapshot(temp.path());
  const std::size_t city = 5;
  const FieldIndexes covering = indexesOfField(files, table, city);
  EXPECT_FALSE(covering.key);
  EXPECT_EQ(covering.files, (std::vector<std::string>{"CUSTOMER.X06", "CUSTOMER.Y06"}));
  EXPECT_TRUE(indexesOfField(files, table, 0).key);
  EXPECT_FALSE(indexesOfField(files, table, 4).any());
  {
    TableUpdate update(files, table);
    EXPECT_THROW(update.write(changing(city, upperAscii)), Error);
  }
  EXPECT_EQ(snapshot(temp.path()), before);

  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  update.write(changing(city, upperAscii));
  EXPECT_EQ(update.rebuiltIndexes(), (std::vector<std::string>{"CUSTOMER.X06", "CUSTOMER.Y06"}));
  update.verify(city, acceptingAll());
  update.commit();
  EXPECT_EQ(checkTable(table), std::vector<std::string>{});
  const auto after = snapshot(temp.path());
  for (const char* kept : {"CUSTOMER.PX", "CUSTOMER.MB"}) EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
}

TEST_F(TableUpdateTest, ACompositeIndexCoversEachOfItsFields) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  const std::string table = copyOfCorpus("wdpl", "Player.DB");
  EXPECT_EQ(indexesOfField(files, table, 2).files, (std::vector<std::string>{"Player.XG0", "Player.YG0"}));
  EXPECT_FALSE(indexesOfField(files, table, 1).any());  // PlayerName
}

TEST_F(TableUpdateTest, AValueTheFieldCannotHoldFailsNamingItAndChangesNothing) {
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), Null{}}});
  const auto before = snapshot(temp.path());
  TableUpdate update(files, table);
  try {
    update.write(changing(1, [](const std::string&) { return std::string(21, 'Y'); }));
    FAIL() << "a value longer than the field was written";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("Town"), std::string::npos) << error.what();
  }
  EXPECT_EQ(snapshot(temp.path()), before);
}

TEST_F(TableUpdateTest, ALetterTheCodePageLacksInItsNewCaseStaysAsItWas) {
  const CodePage page1252(1252);
  EXPECT_EQ(keepUnholdableLetters("5 µg", "5 ΜG", page1252), "5 µG");
  EXPECT_EQ(keepUnholdableLetters("abc", "ABC", page1252), "ABC");
  EXPECT_EQ(keepUnholdableLetters("ab", "ABC", page1252), std::nullopt);
  EXPECT_EQ(keepUnholdableLetters("ÿ", "Ÿ", CodePage(850)), "ÿ");

  const std::string table = writtenTable({{std::string("5 µg"), std::string("x"), Null{}}});
  TableUpdate update(files, table);
  update.write(changing(0, [](const std::string&) { return std::string("5 ΜG"); }));
  update.verify(0, acceptingAll());
  update.commit();
  EXPECT_EQ(std::get<std::string>(rowsOf(table)[0][0]), "5 µG");
}

TEST_F(TableUpdateTest, TheCheckRefusesAStagedTableChangedOutsideTheField) {
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), Null{}}});
  const auto before = snapshot(temp.path());
  {
    TableUpdate update(files, table);
    update.write(changing(0, upperAscii));
    // Another field's byte in the staged copy changes behind the update's back.
    auto staged = test::fileBytes(update.stagedTablePath());
    const TableHeader header = Table::inspect(table);
    staged[static_cast<std::size_t>(header.headerSize) + 6 + 20] = 'Y';
    std::filesystem::remove(update.stagedTablePath());
    std::ofstream(update.stagedTablePath(), std::ios::binary)
        .write(reinterpret_cast<const char*>(staged.data()), static_cast<std::streamsize>(staged.size()));
    EXPECT_THROW(update.verify(0, acceptingAll()), Error);
    // And the changed field itself is judged by the check.
    EXPECT_THROW(update.verify(std::nullopt, acceptingAll()), Error);
  }
  EXPECT_EQ(snapshot(temp.path()), before);
}

TEST_F(TableUpdateTest, TheCheckJudgesEachPairOfOldAndNewBytesOnceAndStillEveryRecord) {
  std::vector<std::vector<Value>> rows;
  for (int r = 0; r < 300; ++r)
    rows.push_back({std::string(r % 3 == 0 ? "ann" : "bob"), std::string("york"), std::string("a note")});
  const std::string table = writtenTable(rows);
  int judged = 0;
  {
    TableUpdate update(files, table);
    // The last record gets a new value no other record has.
    std::size_t seen = 0;
    update.write([&](const std::vector<Value>& before, RecordChanges& changes) {
      if (before.empty()) return false;
      ++seen;
      changes[0] = Value(seen == rows.size() ? std::string("EVE") : upperAscii(std::get<std::string>(before[0])));
      return true;
    });
    update.verify(0, [&](const Value&, const Value&) { return ++judged, true; });
    EXPECT_EQ(judged, 3);  // ann, bob and the one changed to EVE
    // A check that refuses only the odd one out still finds it, in the last record.
    judged = 0;
    try {
      update.verify(0, [&](const Value&, const Value& is) { return ++judged, std::get<std::string>(is) != "EVE"; });
      ADD_FAILURE() << "the record changed against the check was accepted";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find("row 300"), std::string::npos) << error.what();
    }
    EXPECT_EQ(judged, 3);
  }
  // Memo values are judged every time: their bytes in the record point into the memo file.
  TableUpdate memos(files, table);
  memos.write(changing(2, upperAscii));
  judged = 0;
  memos.verify(2, [&](const Value&, const Value&) { return ++judged, true; });
  EXPECT_EQ(judged, 300);
}

TEST_F(TableUpdateTest, TheCheckRefusesAMemoChangedInTheMemoFileAlone) {
  std::string notes(500, 'n');
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), notes}});
  TableUpdate update(files, table);
  // A change past the record's leading copy of the memo leaves the record's bytes as they were.
  notes[300] = 'X';
  update.write([&](const std::vector<Value>& before, RecordChanges& changes) {
    if (before.empty()) return false;
    changes[0] = Value(std::string("ANN"));
    changes[2] = Value(notes);
    return true;
  });
  try {
    update.verify(0, acceptingAll());
    ADD_FAILURE() << "a memo changed behind the check's back passed it";
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("field \"Notes\""), std::string::npos) << error.what();
  }
}

TEST_F(TableUpdateTest, FieldsNamedToChangeAloneAreReadAndAChangeOfAnyOtherIsRefused) {
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), std::string("long note")},
                                          {std::string("bob"), std::string("leeds"), Null{}}});
  const auto before = snapshot(temp.path());
  {
    TableUpdate update(files, table);
    EXPECT_THROW(update.write([](const std::vector<Value>& was, RecordChanges& changes) {
      if (was.empty()) return false;
      changes[0] = Value(std::string("X"));
      return true;
    }, {}, std::vector<std::size_t>{1}), Error);
  }
  EXPECT_EQ(snapshot(temp.path()), before);

  TableUpdate update(files, table);
  update.write([](const std::vector<Value>& was, RecordChanges& changes) {
    if (was.empty()) return false;
    EXPECT_TRUE(std::holds_alternative<Null>(was[0]));  // not read
    EXPECT_TRUE(std::holds_alternative<Null>(was[2]));
    changes[1] = Value(upperAscii(std::get<std::string>(was[1])));
    return true;
  }, {}, std::vector<std::size_t>{1});
  update.verify(1, acceptingAll());
  update.commit();
  const auto rows = rowsOf(table);
  EXPECT_EQ(rows[0], (std::vector<Value>{std::string("ann"), std::string("YORK"), std::string("long note")}));
  EXPECT_EQ(rows[1], (std::vector<Value>{std::string("bob"), std::string("LEEDS"), Null{}}));
}

TEST_F(TableUpdateTest, RowsThatDoNotMatchTheRecordsInNumberAreRefused) {
  const std::string table = writtenTable({{std::string("a"), Null{}, Null{}}, {std::string("b"), Null{}, Null{}}});
  const auto before = snapshot(temp.path());
  for (const int rows : {1, 3}) {
    int given = 0;
    TableUpdate update(files, table);
    EXPECT_THROW(update.write([&](const std::vector<Value>&, RecordChanges&) { return given++ < rows; }), Error);
  }
  EXPECT_EQ(snapshot(temp.path()), before);
}

TEST_F(TableUpdateTest, EveryFailingFileOperationLeavesTheFolderAsItWasOrTheNewTableWhole) {
  const std::string table = writtenTable({{std::string("ann"), std::string("york"), std::string(300, 'q')},
                                          {std::string("bob"), std::string("leeds"), std::string("short")}});
  const auto before = snapshot(temp.path());
  const auto restore = [&](const std::map<std::string, std::vector<std::uint8_t>>& state) {
    for (const auto& entry : fs::directory_iterator(temp.path())) fs::remove(entry.path());
    for (const auto& [name, bytes] : state)
      std::ofstream(temp.file(name), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  };
  const auto run = [&](FileOps& through) {
    TableUpdate update(through, table);
    update.write([](const std::vector<Value>& row, RecordChanges& changes) {
      if (row.empty()) return false;
      changes[0] = Value(upperAscii(std::get<std::string>(row[0])));
      if (const auto* notes = std::get_if<std::string>(&row[2])) changes[2] = Value(upperAscii(*notes) + "!");
      return true;
    });
    update.verify(0, acceptingAll());
    update.commit();
  };
  // The whole run once, counting its operations, for the folder it leaves.
  test::FaultInjectingFileOps counting(files);
  EXPECT_THROW(run(counting), Error);  // the memo changed too, which the check refuses
  EXPECT_EQ(snapshot(temp.path()), before);
  const auto runAll = [&](FileOps& through) {
    TableUpdate update(through, table);
    update.write([](const std::vector<Value>& row, RecordChanges& changes) {
      if (row.empty()) return false;
      changes[0] = Value(upperAscii(std::get<std::string>(row[0])));
      return true;
    });
    update.verify(0, acceptingAll());
    update.commit();
  };
  runAll(counting);
  const auto after = snapshot(temp.path());
  ASSERT_NE(after, before);
  restore(before);

  for (const FileOp kind : {FileOp::Create, FileOp::Write, FileOp::Flush, FileOp::Close, FileOp::Rename,
                            FileOp::Remove, FileOp::List, FileOp::Exists, FileOp::SyncFolder, FileOp::CopyAccess}) {
    for (int n = 1; n <= counting.count(kind); ++n) {
      SCOPED_TRACE(std::string(fileOpName(kind)) + " " + std::to_string(n));
      test::FaultInjectingFileOps failing(files);
      failing.failNth(kind, n);
      try {
        runAll(failing);
      } catch (const Error&) {
      }
      // Whoever opens the table next puts right what the failure left.
      FamilyReplacement::recover(files, temp.path(), "PEOPLE.DB");
      const auto state = snapshot(temp.path());
      EXPECT_TRUE(state == before || state == after);
      restore(before);
    }
  }
}


// PEOPLE: keyed on Name in the sort order "ascii", Town indexed by .X02/.Y02.
class IndexedTableUpdateTest : public TableUpdateTest {
 protected:
  std::string people(const std::vector<test::Person>& rows) {
    const std::string table = test::WriteIndexedPeople(temp.path(), rows);
    // A family file no index change concerns, which must stay as it was.
    std::ofstream(temp.file("PEOPLE.VAL"), std::ios::binary) << "validity checks";
    return table;
  }
  static std::vector<std::string> names(const std::vector<std::vector<Value>>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(std::get<std::string>(row[0]));
    return out;
  }
  static std::map<std::string, std::vector<Value>> byUpperName(const std::vector<std::vector<Value>>& rows) {
    std::map<std::string, std::vector<Value>> out;
    for (auto row : rows) {
      row[0] = upperAscii(std::get<std::string>(row[0]));
      out[std::get<std::string>(row[0])] = row;
    }
    return out;
  }
  const std::vector<test::Person> rows_{{"eve", "york", 31}, {"Bob", "Leeds", 40}, {"adam", "bath", 25},
                                        {"Dora", "Ayr", 52}, {"carl", "Zennor", 19}};
};

TEST_F(IndexedTableUpdateTest, TheMadeTableIsSoundAndInAsciiKeyOrder) {
  const std::string table = people(rows_);
  EXPECT_EQ(checkTable(table), std::vector<std::string>{});
  EXPECT_EQ(names(rowsOf(table)), (std::vector<std::string>{"Bob", "Dora", "adam", "carl", "eve"}));
  const IndexDescription indexes = describeIndexes(table);
  EXPECT_EQ(indexes.primaryIndexFile, "PEOPLE.PX");
  ASSERT_EQ(indexes.secondary.size(), 1u);
  EXPECT_EQ(indexes.secondary[0].treeFile, "PEOPLE.Y02");
}

// Upper-casing the key moves "adam", "carl" and "eve" between "Bob" and
// "Dora": the records are put in key order and every index is rebuilt.
TEST_F(IndexedTableUpdateTest, AChangedKeyPutsTheRecordsInKeyOrderAndRebuildsEveryIndex) {
  const std::string table = people(rows_);
  const auto before = snapshot(temp.path());
  const auto oldRows = rowsOf(table);
  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  update.write(changing(0, upperAscii));
  EXPECT_TRUE(update.reordered());
  EXPECT_EQ(update.rebuiltIndexes(), (std::vector<std::string>{"PEOPLE.PX", "PEOPLE.X02", "PEOPLE.Y02"}));
  update.verify(0, [](const Value& was, const Value& is) {
    return std::get<std::string>(is) == upperAscii(std::get<std::string>(was));
  });
  update.commit();

  const auto newRows = rowsOf(table);
  EXPECT_EQ(names(newRows), (std::vector<std::string>{"ADAM", "BOB", "CARL", "DORA", "EVE"}));
  EXPECT_EQ(byUpperName(newRows), byUpperName(oldRows));
  EXPECT_EQ(checkTable(table), std::vector<std::string>{});
  const auto after = snapshot(temp.path());
  EXPECT_EQ(after.size(), before.size());
  EXPECT_EQ(after.at("PEOPLE.VAL"), before.at("PEOPLE.VAL"));
  EXPECT_EQ(after.at("PEOPLE.DB").size(), before.at("PEOPLE.DB").size());
}

TEST_F(IndexedTableUpdateTest, AChangedIndexedFieldRebuildsOnlyItsIndexAndNoRecordMoves) {
  const std::string table = people(rows_);
  const auto before = snapshot(temp.path());
  const auto oldRows = rowsOf(table);
  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  update.write(changing(1, upperAscii));
  EXPECT_FALSE(update.reordered());
  EXPECT_EQ(update.rebuiltIndexes(), (std::vector<std::string>{"PEOPLE.X02", "PEOPLE.Y02"}));
  update.verify(1, acceptingAll());
  update.commit();

  const auto newRows = rowsOf(table);
  ASSERT_EQ(newRows.size(), oldRows.size());
  for (std::size_t r = 0; r < newRows.size(); ++r) {
    EXPECT_EQ(newRows[r][0], oldRows[r][0]);
    EXPECT_EQ(std::get<std::string>(newRows[r][1]), upperAscii(std::get<std::string>(oldRows[r][1])));
    EXPECT_EQ(newRows[r][2], oldRows[r][2]);
  }
  EXPECT_EQ(checkTable(table), std::vector<std::string>{});
  const auto after = snapshot(temp.path());
  for (const char* kept : {"PEOPLE.PX", "PEOPLE.VAL"}) EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
  // Mixed case sorts "bath" after "Zennor"; upper-cased, "BATH" comes second.
  EXPECT_NE(after.at("PEOPLE.X02"), before.at("PEOPLE.X02"));
}

// "smith" and "Smith" are two keys in "ascii"; upper-cased they would be one.
TEST_F(IndexedTableUpdateTest, TwoRecordsGivenOneKeyAreRefusedNamingBothOldValuesAndNothingChanges) {
  const std::string table = people({{"smith", "Ayr", 1}, {"jones", "Bath", 2}, {"Smith", "Cork", 3}});
  const auto before = snapshot(temp.path());
  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  try {
    update.write(changing(0, upperAscii));
    FAIL() << "a duplicate key was accepted";
  } catch (const DuplicateKeyError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find("(\"Name\")"), std::string::npos) << message;
    EXPECT_NE(message.find("\"Smith\" and \"smith\""), std::string::npos) << message;
    EXPECT_NE(message.find("\"SMITH\""), std::string::npos) << message;
  }
  EXPECT_EQ(snapshot(temp.path()), before);
}

TEST_F(IndexedTableUpdateTest, AReorderedTableWithAnotherFieldAlteredFailsTheCheck) {
  const std::string table = people(rows_);
  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  update.write(changing(0, upperAscii));
  // The first record's Age (after Name and Town, 40 bytes into it) in the staged table.
  const auto header = Table::inspect(table);
  const auto ageAt = static_cast<std::streamoff>(header.headerSize + 6 + 40);
  {
    std::fstream staged(update.stagedTablePath(), std::ios::in | std::ios::out | std::ios::binary);
    staged.seekp(ageAt);
    staged.put(0x7F);
  }
  EXPECT_THROW(update.verify(0, acceptingAll()), Error);
}

// PEOPLE in an order the engine does not reproduce ("china" is no order of code page 1252).
TEST_F(IndexedTableUpdateTest, AnIndexInAnOrderNotReproducedIsRefusedUnlessItMayBeDropped) {
  const std::string table = test::WriteIndexedPeople(temp.path(), rows_, "china");
  const auto before = snapshot(temp.path());
  {
    TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
    try {
      update.write(changing(1, upperAscii));
      FAIL() << "an index was rebuilt in a sort order not reproduced";
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()).find("\"Town\""), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("\"china\""), std::string::npos) << error.what();
    }
  }
  EXPECT_EQ(snapshot(temp.path()), before);
  {
    TableUpdate update(files, table, TableUpdate::Indexes::DropThoseOfChanged);
    EXPECT_THROW(update.write(changing(0, upperAscii)), Error);  // the key cannot be dropped
  }
  EXPECT_EQ(snapshot(temp.path()), before);

  TableUpdate update(files, table, TableUpdate::Indexes::DropThoseOfChanged);
  update.write(changing(1, upperAscii));
  EXPECT_EQ(update.droppedIndexes(), (std::vector<std::string>{"PEOPLE.X02", "PEOPLE.Y02"}));
  update.verify(1, acceptingAll());
  update.commit();
  const auto after = snapshot(temp.path());
  EXPECT_EQ(after.count("PEOPLE.X02") + after.count("PEOPLE.Y02"), 0u);
  EXPECT_EQ(after.at("PEOPLE.PX"), before.at("PEOPLE.PX"));
}

// Player's key is a number; its composite index, on a number too, moves with the records.
TEST_F(IndexedTableUpdateTest, AKeyChangeRebuildsTheCompositeIndexToo) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  const std::string table = copyOfCorpus("wdpl", "Player.DB");
  const auto before = snapshot(temp.path());
  TableUpdate update(files, table, TableUpdate::Indexes::Rebuild);
  update.write([](const std::vector<Value>& row, RecordChanges& changes) {
    if (row.empty()) return false;
    if (const auto* number = std::get_if<double>(&row[0])) changes[0] = Value(-*number);
    return true;
  });
  EXPECT_TRUE(update.reordered());
  EXPECT_EQ(update.rebuiltIndexes(), (std::vector<std::string>{"Player.PX", "Player.XG0", "Player.YG0"}));
  update.verify(0, [](const Value& was, const Value& is) { return std::get<double>(is) == -std::get<double>(was); });
  update.commit();
  EXPECT_EQ(checkTable(table), std::vector<std::string>{});
  const auto after = snapshot(temp.path());
  for (const char* kept : {"Player.FAM", "Player.TV"}) EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
  const auto rows = rowsOf(table);
  for (std::size_t r = 1; r < rows.size(); ++r) EXPECT_LT(std::get<double>(rows[r - 1][0]), std::get<double>(rows[r][0]));
}

}  // namespace
}  // namespace orl::pdx
