// What a run keeps of a table and what it does not, checked against the
// list the user guide gives.

#include "app/CommandLine.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/TableFiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

namespace orl::test {
namespace {

using pdx::FieldType;

// The names the user guide gives the field types.
const std::map<FieldType, QString> TypeNames = {
    {FieldType::Alpha, QStringLiteral("Alpha")},
    {FieldType::Memo, QStringLiteral("Memo")},
    {FieldType::FormattedMemo, QStringLiteral("Formatted memo")},
    {FieldType::Short, QStringLiteral("Short")},
    {FieldType::Long, QStringLiteral("Long")},
    {FieldType::Autoincrement, QStringLiteral("Autoincrement")},
    {FieldType::Number, QStringLiteral("Number")},
    {FieldType::Money, QStringLiteral("Money")},
    {FieldType::Bcd, QStringLiteral("BCD")},
    {FieldType::Date, QStringLiteral("Date")},
    {FieldType::Time, QStringLiteral("Time")},
    {FieldType::Timestamp, QStringLiteral("Timestamp")},
    {FieldType::Logical, QStringLiteral("Logical")},
    {FieldType::Bytes, QStringLiteral("Bytes")},
    {FieldType::Binary, QStringLiteral("Binary")},
    {FieldType::Graphic, QStringLiteral("Graphic")},
    {FieldType::Ole, QStringLiteral("OLE")},
};

// The rows of the user guide's table "| before | after |" under the heading
// "Field types after a run", by the type before.
std::map<QString, QString> guideTypeTable() {
  QFile guide(QStringLiteral(ORLINTIDE_README));
  EXPECT_TRUE(guide.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(guide.readAll()).split(QLatin1Char('\n'));
  std::map<QString, QString> rows;
  qsizetype at = lines.indexOf(QRegularExpression(QStringLiteral("^#+ Field types after a run$")));
  EXPECT_GE(at, 0) << "the user guide has no section \"Field types after a run\"";
  if (at < 0) return rows;
  while (++at < lines.size() && !lines[at].startsWith(QLatin1Char('|'))) {
  }
  static const QRegularExpression row(QStringLiteral("^\\| *([^|]*?) *\\| *([^|]*?) *\\|$"));
  for (at += 2; at < lines.size(); ++at) {  // past the header and its rule
    const auto match = row.match(lines[at]);
    if (!match.hasMatch()) break;
    rows[match.captured(1)] = match.captured(2);
  }
  return rows;
}

QString describe(const pdx::Field& field) {
  return TypeNames.at(field.type) + (field.type == FieldType::Alpha ? QStringLiteral(", %1 wide").arg(field.size) : QString());
}

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

Outcome changeCase(const DataFolders& folders, const QString& table, const QString& field) {
  return runCommandLine(folders, {QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"), table,
                                  QStringLiteral("--field"), field, QStringLiteral("--case"), QStringLiteral("upper")});
}

QStringList folderFiles(const DataFolders& folders) {
  return QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

pdx::Bytes bytes(std::initializer_list<int> values) {
  pdx::Bytes out;
  for (const int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

// A table with a field of every type the engine writes, run with the case
// of its Name changed: each type becomes what the user guide says.
TEST(RunKeeps, EveryFieldTypeBecomesWhatTheUserGuideLists) {
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

  const Outcome run = changeCase(folders, QStringLiteral("EVERY"), QStringLiteral("Name"));
  ASSERT_EQ(run.status, 0) << run.errors.toStdString();
  const pdx::Table after = pdx::Table::open(folders.path(QStringLiteral("EVERY.db")).toStdString());
  ASSERT_EQ(after.fields().size(), fields.size());

  const std::map<QString, QString> guide = guideTypeTable();
  std::set<QString> shown;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    SCOPED_TRACE(fields[f].name);
    EXPECT_EQ(after.fields()[f].name, fields[f].name);
    const QString before = TypeNames.at(fields[f].type);
    ASSERT_TRUE(guide.count(before)) << "the user guide does not say what becomes of " << before.toStdString();
    EXPECT_EQ(describe(after.fields()[f]), guide.at(before));
    shown.insert(before);
  }
  // The guide lists no type that this table does not show.
  for (const auto& [before, afterType] : guide) EXPECT_TRUE(shown.count(before)) << before.toStdString();

  // Every value survives its field's change of type; only Name is in capitals now.
  const TableContent changed = ReadTable(folders.path(QStringLiteral("EVERY.db")));
  ASSERT_EQ(changed.rows.size(), original.rows.size());
  for (std::size_t r = 0; r < changed.rows.size(); ++r)
    for (std::size_t f = 0; f < fields.size(); ++f)
      EXPECT_EQ(Comparable(changed.rows[r][f]), f == 1 ? Comparable(original.rows[r][f]).toUpper()
                                                        : Comparable(original.rows[r][f]))
          << "row " << r << " field " << fields[f].name;
}

// Real keyed tables (a primary index, secondary indexes, a validity file)
// come back unkeyed, alone with their memo file, in capitals.
TEST(RunKeeps, KeysIndexesAndValidityChecksAreNotRebuilt) {
  const struct {
    const char* corpusTable;
    const char* field;
    QStringList familyBefore;
  } tables[] = {
      {"db/CUSTOMER.DB", "City", {"CUSTOMER.DB", "CUSTOMER.MB", "CUSTOMER.PX", "CUSTOMER.X06", "CUSTOMER.Y06"}},
      {"fields/logical.db", "BOOL", {"logical.db", "logical.val"}},
      {"fields/graphic.db", "Type", {"graphic.db", "graphic.mb", "graphic.px"}},
  };
  for (const auto& table : tables) {
    SCOPED_TRACE(table.corpusTable);
    DataFolders folders;
    if (!folders.copyCorpusTable(QLatin1String(table.corpusTable))) GTEST_SKIP() << "corpus absent";
    ASSERT_EQ(folderFiles(folders), table.familyBefore);
    const QString name = QFileInfo(QLatin1String(table.corpusTable)).completeBaseName().toUpper();
    const pdx::TableHeader before =
        pdx::Table::inspect(folders.path(table.familyBefore.front()).toStdString());

    const Outcome run = changeCase(folders, name, QLatin1String(table.field));
    ASSERT_EQ(run.status, 0) << run.errors.toStdString();

    const bool memo = std::any_of(before.fields.begin(), before.fields.end(), [](const pdx::Field& f) {
      return f.type == FieldType::Memo || f.type == FieldType::Graphic || f.type == FieldType::Binary;
    });
    // The new table keeps the file name of the old one, letter case included.
    const QString tableFile = table.familyBefore.front();
    QStringList familyAfter{tableFile};
    if (memo) familyAfter << tableFile.chopped(2) + (tableFile.endsWith(QStringLiteral("DB")) ? QStringLiteral("MB") : QStringLiteral("mb"));
    EXPECT_EQ(folderFiles(folders), familyAfter);
    const pdx::TableHeader after = pdx::Table::inspect(folders.path(tableFile).toStdString());
    EXPECT_TRUE(before.keyed() || before.fields.front().type == FieldType::Logical);
    EXPECT_FALSE(after.keyed());
    EXPECT_EQ(after.keyFieldCount, 0);
    EXPECT_EQ(after.level, "5.x");
    EXPECT_EQ(after.recordCount, before.recordCount);
    EXPECT_EQ(after.codePage, before.codePage);
  }
}

}  // namespace
}  // namespace orl::test
