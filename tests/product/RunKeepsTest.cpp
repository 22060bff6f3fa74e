// What a run keeps of a table and what it does not, checked against the
// list the user guide gives.

#include "app/CommandLine.h"
#include "platform/pdx/IndexCheck.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/IndexedTable.h"
#include "tests/support/TableFiles.h"
#include "tests/support/UnusualTables.h"

#include <gtest/gtest.h>

#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>

namespace orl::test {
namespace {

using pdx::FieldType;

// Runs the command line in-process; returns its exit status and what it wrote.
struct Outcome {
  int status;
  QString output, errors;
};

QString readBack(std::FILE* stream) {
  std::rewind(stream);
  QByteArray bytes;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, stream)) > 0;) bytes.append(chunk, static_cast<qsizetype>(n));
  std::fclose(stream);
  return QString::fromUtf8(bytes);
}

Outcome runCommandLine(const DataFolders& folders, const QStringList& arguments) {
  std::FILE* output = std::tmpfile();
  std::FILE* errors = std::tmpfile();
  const int status = app::RunCommandLine(QStringList{QStringLiteral("orlintide")} + arguments, folders.programFolder(),
                                         output, errors, false);
  return {status, readBack(output), readBack(errors)};
}

QStringList folderFiles(const DataFolders& folders) {
  return QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

pdx::Bytes bytes(std::initializer_list<int> values) {
  pdx::Bytes out;
  for (const int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// Every file of the data folder with its bytes.
std::map<QString, QByteArray> folderBytes(const DataFolders& folders) {
  std::map<QString, QByteArray> files;
  for (const QString& name : folderFiles(folders)) {
    QFile file(folders.path(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    files[name] = file.readAll();
  }
  return files;
}

Outcome changeCase(const DataFolders& folders, const QString& table, const QString& field, const QStringList& more) {
  return runCommandLine(folders, QStringList{QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                                             table, QStringLiteral("--field"), field, QStringLiteral("--case"),
                                             QStringLiteral("upper")} +
                                     more);
}

// A table with a field of every type, run with the case of its Name changed:
// every field keeps its type and size, and only Name's values change.
TEST(RunKeeps, EveryFieldKeepsItsTypeAndSize) {
  DataFolders folders;
  const std::vector<pdx::Field> fields = {
      {"Code", FieldType::Alpha, 8},          {"Name", FieldType::Alpha, 30},
      {"Notes", FieldType::Memo, 20},         {"Styled", FieldType::FormattedMemo, 10},
      {"Count", FieldType::Short, 2},         {"Total", FieldType::Long, 4},
      {"Serial", FieldType::Autoincrement, 4}, {"Ratio", FieldType::Number, 8},
      {"Price", FieldType::Money, 8},         {"Exact", FieldType::Bcd, 2},
      {"Since", FieldType::Date, 4},          {"Opens", FieldType::Time, 4},
      {"Stamp", FieldType::Timestamp, 8},     {"Member", FieldType::Logical, 1},
      {"Badge", FieldType::Bytes, 6},         {"Blob", FieldType::Binary, 10},
      {"Picture", FieldType::Graphic, 10},    {"Object", FieldType::Ole, 10},
  };
  const std::vector<std::vector<pdx::Value>> rows = {
      {std::string("A1"), std::string("smith"), std::string("first customer, with a long note"), bytes({'{', 'x', '}'}),
       std::int64_t{12}, std::int64_t{70000}, std::int64_t{1}, 0.5, 19.99, pdx::Decimal{"12.34"}, pdx::Date{2021, 8, 31},
       pdx::TimeOfDay{9 * 3600 * 1000}, pdx::Timestamp{{2021, 8, 31}, {1000}}, true, bytes({1, 2, 3, 4, 5, 6}),
       bytes({9, 8, 7}), bytes({'G', 'I', 'F', '8'}), bytes({0xd0, 0xcf})},
      {std::string("B2"), std::string("o'neill"), std::string("short"), bytes({'{', '}'}), std::int64_t{-3},
       std::int64_t{-1}, std::int64_t{2}, -2.25, 0.0, pdx::Decimal{"-0.50"}, pdx::Date{1999, 12, 31},
       pdx::TimeOfDay{0}, pdx::Timestamp{{2000, 1, 1}, {0}}, false, bytes({0, 0, 0, 0, 0, 1}), bytes({0}),
       bytes({'G'}), bytes({1})},
  };
  WriteTable(folders.path(QStringLiteral("EVERY.db")), fields, rows);
  const TableContent original = ReadTable(folders.path(QStringLiteral("EVERY.db")));
  const auto filesBefore = folderBytes(folders);

  for (const char* field : {"Name", "Count", "Member", "Since", "Exact", "Ratio"}) {
    SCOPED_TRACE(field);
    const Outcome run = changeCase(folders, QStringLiteral("EVERY"), QLatin1String(field), {});
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();
  }
  const pdx::Table after = pdx::Table::open(folders.path(QStringLiteral("EVERY.db")).toStdString());
  ASSERT_EQ(after.fields().size(), fields.size());
  for (std::size_t f = 0; f < fields.size(); ++f) {
    SCOPED_TRACE(fields[f].name);
    EXPECT_EQ(after.fields()[f].name, fields[f].name);
    EXPECT_EQ(after.fields()[f].type, fields[f].type);
    EXPECT_EQ(after.fields()[f].size, fields[f].size);
  }
  // Numbers, dates and logical values have no letter case: they keep their bytes.
  const auto filesAfter = folderBytes(folders);
  ASSERT_EQ(filesAfter.size(), filesBefore.size());
  const QByteArray& tableBefore = filesBefore.at(QStringLiteral("EVERY.db"));
  const QByteArray& tableAfter = filesAfter.at(QStringLiteral("EVERY.db"));
  ASSERT_EQ(tableAfter.size(), tableBefore.size());
  qsizetype differing = 0;
  for (qsizetype at = 0; at < tableBefore.size(); ++at) differing += tableBefore[at] != tableAfter[at];
  EXPECT_EQ(differing, 5 + 6);  // the letters of "smith" and "o'neill", now capitals
  EXPECT_EQ(filesAfter.at(QStringLiteral("EVERY.mb")), filesBefore.at(QStringLiteral("EVERY.mb")));

  const TableContent changed = ReadTable(folders.path(QStringLiteral("EVERY.db")));
  ASSERT_EQ(changed.rows.size(), original.rows.size());
  for (std::size_t r = 0; r < changed.rows.size(); ++r)
    for (std::size_t f = 0; f < fields.size(); ++f)
      EXPECT_EQ(Comparable(changed.rows[r][f]), f == 1 ? Comparable(original.rows[r][f]).toUpper()
                                                        : Comparable(original.rows[r][f]))
          << "row " << r << " field " << fields[f].name;
}

// Real keyed tables keep their primary index, secondary indexes and
// validity file byte for byte when the field changed is in none of them.
TEST(RunKeeps, KeysIndexesAndValidityChecksStay) {
  const struct {
    const char* corpusTable;
    const char* field;
  } tables[] = {
      {"db/CUSTOMER.DB", "Street"},   {"db/CUSTOMER.DB", "Comments"}, {"fields/logical.db", "BOOL"},
      {"fields/graphic.db", "Type"},  {"wdpl/Team.DB", "Contact"},    {"wdpl/Player.DB", "PlayerName"},
      {"db/HERCULES.DB", "HTML"},
  };
  for (const auto& table : tables) {
    SCOPED_TRACE(std::string(table.corpusTable) + " " + table.field);
    DataFolders folders;
    if (!folders.copyCorpusTable(QLatin1String(table.corpusTable))) GTEST_SKIP() << "corpus absent";
    const auto before = folderBytes(folders);
    const QString tableFile = QFileInfo(QLatin1String(table.corpusTable)).fileName();
    const QString name = QFileInfo(tableFile).completeBaseName().toUpper();
    const pdx::TableHeader headerBefore = pdx::Table::inspect(folders.path(tableFile).toStdString());

    const Outcome run = changeCase(folders, name, QLatin1String(table.field), {});
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    const auto after = folderBytes(folders);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [file, bytes] : before) {
      const QString extension = QFileInfo(file).suffix().toUpper();
      if (extension == QStringLiteral("DB") || extension == QStringLiteral("MB")) continue;
      EXPECT_EQ(after.at(file), bytes) << file.toStdString();
    }
    const QByteArray& tableBefore = before.at(tableFile);
    const QByteArray& tableAfter = after.at(tableFile);
    ASSERT_EQ(tableAfter.size(), tableBefore.size());
    EXPECT_EQ(tableAfter.left(headerBefore.headerSize), tableBefore.left(headerBefore.headerSize));
  }
}

// What real tables hold and the writer never writes (a date before year 1,
// a BCD value in bytes of its own, a code-page byte a converter lacks, a file
// cut after its last record) comes through a run on another field byte for
// byte: the file differs from before only in the changed field's bytes.
TEST(RunKeeps, UnusualValuesOfOtherFieldsKeepTheirBytes) {
  DataFolders folders;
  const std::vector<std::uint8_t> before = WriteUnusualTable(folders.path(QStringLiteral("ODD.db")).toStdString());
  const Outcome run = changeCase(folders, QStringLiteral("ODD"), QStringLiteral("City"), {});
  ASSERT_EQ(run.status, 0) << run.errors.toStdString();
  const QByteArray after = folderBytes(folders).at(QStringLiteral("ODD.db"));
  ASSERT_EQ(static_cast<std::size_t>(after.size()), before.size());
  const pdx::TableHeader header = pdx::Table::inspect(folders.path(QStringLiteral("ODD.db")).toStdString());
  const std::size_t firstRecord = static_cast<std::size_t>(header.headerSize) + 6;
  for (std::size_t at = 0; at < before.size(); ++at) {
    if (static_cast<std::uint8_t>(after[static_cast<qsizetype>(at)]) == before[at]) continue;
    ASSERT_GE(at, firstRecord) << "byte " << at;
    const std::size_t inRecord = (at - firstRecord) % static_cast<std::size_t>(header.recordSize);
    EXPECT_GE(inRecord, 49u) << "byte " << at << " lies outside City";
  }
  const TableContent changed = ReadTable(folders.path(QStringLiteral("ODD.db")));
  EXPECT_EQ(Comparable(changed.rows[1][4]), QStringLiteral("PRAHA"));
}

void lowerCase(const DataFolders& folders, const QString& table, const QString& field) {
  const Outcome outcome = runCommandLine(folders, {QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"), table,
                                                   QStringLiteral("--field"), field, QStringLiteral("--case"), QStringLiteral("lower")});
  EXPECT_EQ(outcome.status, 0) << outcome.errors.toStdString();
}

std::vector<std::string> checked(const DataFolders& folders, const QString& table) {
  return pdx::checkTable(folders.path(table).toStdString());
}

// A key or indexed field in a sort order the engine reproduces (CUSTOMER's
// City indexed and HERCULES keyed on TEMPLATE, both in ANSII850): no
// question; the index rebuilt, the records in the order of their new key,
// every other family file as it was, and the table passes the check.
TEST(RunKeeps, AKeyOrIndexedFieldInAReproducedOrderIsRebuiltWithoutAQuestion) {
  DataFolders folders;
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  const auto before = folderBytes(folders);
  const Outcome indexed = changeCase(folders, QStringLiteral("CUSTOMER"), QStringLiteral("City"), {});
  ASSERT_EQ(indexed.status, 0) << indexed.errors.toStdString();
  const auto after = folderBytes(folders);
  EXPECT_EQ(after.size(), before.size());
  for (const char* kept : {"CUSTOMER.PX", "CUSTOMER.MB"})
    EXPECT_EQ(after.at(QLatin1String(kept)), before.at(QLatin1String(kept))) << kept;
  EXPECT_EQ(checked(folders, QStringLiteral("CUSTOMER.DB")), std::vector<std::string>{});
  EXPECT_EQ(Comparable(ReadTable(folders.path(QStringLiteral("CUSTOMER.DB"))).rows[0][5]), QStringLiteral("SANTA CRUZ"));

  DataFolders keyed;
  if (!keyed.copyCorpusTable(QStringLiteral("db/HERCULES.DB"))) GTEST_SKIP() << "corpus absent";
  const TableContent original = ReadTable(keyed.path(QStringLiteral("HERCULES.DB")));
  lowerCase(keyed, QStringLiteral("HERCULES"), QStringLiteral("TEMPLATE"));
  EXPECT_EQ(checked(keyed, QStringLiteral("HERCULES.DB")), std::vector<std::string>{});
  const TableContent written = ReadTable(keyed.path(QStringLiteral("HERCULES.DB")));
  ASSERT_EQ(written.rows.size(), original.rows.size());
  QStringList was, is;
  for (const auto& row : original.rows) was << row[0].toText().toLower() + QLatin1Char('|') + Comparable(row[1]);
  for (const auto& row : written.rows) is << row[0].toText() + QLatin1Char('|') + Comparable(row[1]);
  was.sort();
  is.sort();
  EXPECT_EQ(is, was);
  EXPECT_TRUE(pdx::Table::inspect(keyed.path(QStringLiteral("HERCULES.DB")).toStdString()).keyed());
}

// A key or indexed field in an order the engine does not reproduce: the
// command line answers the question No unless told otherwise, and changes
// nothing; with --drop-indexes a secondary index goes and everything else
// stays, and a key field's table comes back unkeyed.
TEST(RunKeeps, AKeyOrIndexedFieldInAnotherOrderIsChangedOnlyWhenTheUserLetsItsIndexesGo) {
  DataFolders folders;
  const std::vector<Person> people{{"eve", "york", 31}, {"Bob", "Leeds", 40}, {"adam", "bath", 25}};
  WriteIndexedPeople(folders.dataFolder().toStdString(), people, "china");
  const auto before = folderBytes(folders);
  const Outcome refused = changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Town"), {});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.errors.contains(QStringLiteral("PEOPLE.X02"))) << refused.errors.toStdString();
  EXPECT_FALSE(refused.output.contains(QStringLiteral("Done.")));
  EXPECT_EQ(folderBytes(folders), before);

  const Outcome dropped =
      changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Town"), {QStringLiteral("--drop-indexes")});
  ASSERT_EQ(dropped.status, 0) << dropped.errors.toStdString();
  const auto after = folderBytes(folders);
  EXPECT_EQ(after.count(QStringLiteral("PEOPLE.X02")) + after.count(QStringLiteral("PEOPLE.Y02")), 0u);
  EXPECT_EQ(after.at(QStringLiteral("PEOPLE.PX")), before.at(QStringLiteral("PEOPLE.PX")));
  EXPECT_TRUE(pdx::Table::inspect(folders.path(QStringLiteral("PEOPLE.DB")).toStdString()).keyed());

  EXPECT_EQ(changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Name"), {}).status, 1);
  EXPECT_EQ(folderBytes(folders), after);
  const Outcome unkeyed =
      changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Name"), {QStringLiteral("--drop-indexes")});
  ASSERT_EQ(unkeyed.status, 0) << unkeyed.errors.toStdString();
  EXPECT_EQ(folderFiles(folders), QStringList{QStringLiteral("PEOPLE.DB")});
  const pdx::TableHeader written = pdx::Table::inspect(folders.path(QStringLiteral("PEOPLE.DB")).toStdString());
  EXPECT_FALSE(written.keyed());
  EXPECT_EQ(written.level, "5.x");
}

// A pipe in place of a table or its memo file is refused with a message, and
// nothing waits for a writer that never comes.
TEST(RunKeeps, APipeInPlaceOfATableFileIsRefusedAtOnce) {
  DataFolders folders;
  ASSERT_EQ(::mkfifo(folders.path(QStringLiteral("PIPE.db")).toLocal8Bit().constData(), 0600), 0);
  WriteTable(folders.path(QStringLiteral("MEMO.db")), {{"Notes", FieldType::Memo, 20}},
             {{std::string("a note longer than the record keeps")}});
  ASSERT_TRUE(QFile::remove(folders.path(QStringLiteral("MEMO.mb"))));
  ASSERT_EQ(::mkfifo(folders.path(QStringLiteral("MEMO.mb")).toLocal8Bit().constData(), 0600), 0);
  for (const char* table : {"PIPE", "MEMO"}) {
    SCOPED_TRACE(table);
    const Outcome listed = runCommandLine(folders, {QStringLiteral("--folder"), folders.dataFolder(),
                                                    QStringLiteral("--table"), QLatin1String(table),
                                                    QStringLiteral("--list-fields")});
    const Outcome run = changeCase(folders, QLatin1String(table), QStringLiteral("Notes"), {});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE((listed.errors + run.errors).contains(QStringLiteral("is not a regular file")))
        << (listed.errors + run.errors).toStdString();
  }
}

}  // namespace
}  // namespace orl::test

namespace orl::test {
namespace {

Outcome onTable(const DataFolders& folders, const QString& table, const QStringList& more) {
  return runCommandLine(folders, QStringList{QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                                             table} +
                                     more);
}

// Two runs, one of which dropped the secondary index, are undone one by one
// from the command line, back to the table's files byte for byte.
TEST(RunHistory, TwoRunsAreListedAndRestoredByteForByte) {
  DataFolders folders;
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  const QStringList keepTen{QStringLiteral("--history-entries"), QStringLiteral("10")};
  const auto original = folderBytes(folders);
  ASSERT_EQ(changeCase(folders, QStringLiteral("CUSTOMER"), QStringLiteral("City"),
                       QStringList{QStringLiteral("--drop-indexes")} + keepTen)
                .status,
            0);
  const auto afterFirst = folderBytes(folders);
  ASSERT_EQ(changeCase(folders, QStringLiteral("CUSTOMER"), QStringLiteral("Street"), keepTen).status, 0);

  const Outcome listed = onTable(folders, QStringLiteral("customer"), {QStringLiteral("--history")});
  ASSERT_EQ(listed.status, 0) << listed.errors.toStdString();
  const QStringList lines = listed.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("1\t")));
  EXPECT_TRUE(lines[0].contains(QStringLiteral("\tStreet\tUPPER CASE\t"))) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains(QStringLiteral("\tCity\tUPPER CASE\t"))) << lines[1].toStdString();

  ASSERT_EQ(onTable(folders, QStringLiteral("CUSTOMER"), QStringList{QStringLiteral("--restore"), QStringLiteral("1")} + keepTen).status, 0);
  EXPECT_EQ(folderBytes(folders), afterFirst);
  // The first run is entry 3 now, behind the restore and the second run.
  ASSERT_EQ(onTable(folders, QStringLiteral("CUSTOMER"), QStringList{QStringLiteral("--restore"), QStringLiteral("3")} + keepTen).status, 0);
  EXPECT_EQ(folderBytes(folders), original);
  EXPECT_EQ(onTable(folders, QStringLiteral("CUSTOMER"), {QStringLiteral("--restore"), QStringLiteral("9")}).status, 1);
  EXPECT_EQ(onTable(folders, QStringLiteral("CUSTOMER"), {QStringLiteral("--restore"), QStringLiteral("x")}).status, 2);
}

TEST(RunHistory, ATableChangedByAnotherProgramIsRestoredOnlyWhenTold) {
  DataFolders folders;
  WriteTable(folders.path(QStringLiteral("PEOPLE.db")), {{"Name", FieldType::Alpha, 20}},
             {{std::string("ann")}, {std::string("bob")}});
  const auto original = folderBytes(folders);
  ASSERT_EQ(changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Name"), {}).status, 0);
  {
    QFile table(folders.path(QStringLiteral("PEOPLE.db")));
    ASSERT_TRUE(table.open(QIODevice::Append));
    table.write("changed elsewhere");
  }
  const auto changed = folderBytes(folders);
  const Outcome refused = onTable(folders, QStringLiteral("PEOPLE"), {QStringLiteral("--restore"), QStringLiteral("1")});
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.errors.contains(QStringLiteral("changed by another program"))) << refused.errors.toStdString();
  EXPECT_EQ(folderBytes(folders), changed);
  const Outcome anyway = onTable(folders, QStringLiteral("PEOPLE"),
                                 {QStringLiteral("--restore"), QStringLiteral("1"), QStringLiteral("--even-if-changed")});
  ASSERT_EQ(anyway.status, 0) << anyway.errors.toStdString();
  EXPECT_EQ(folderBytes(folders), original);
}

TEST(RunHistory, NothingIsKeptWithHistoryOff) {
  DataFolders folders;
  WriteTable(folders.path(QStringLiteral("PEOPLE.db")), {{"Name", FieldType::Alpha, 20}}, {{std::string("ann")}});
  ASSERT_EQ(changeCase(folders, QStringLiteral("PEOPLE"), QStringLiteral("Name"),
                       {QStringLiteral("--history-entries"), QStringLiteral("0")})
                .status,
            0);
  EXPECT_FALSE(QFileInfo::exists(folders.path(QStringLiteral(".orlintide-history"))));
  const Outcome listed = onTable(folders, QStringLiteral("PEOPLE"), {QStringLiteral("--history")});
  EXPECT_EQ(listed.status, 0);
  EXPECT_TRUE(listed.output.isEmpty());
}

}  // namespace
}  // namespace orl::test
