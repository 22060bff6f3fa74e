#include "tests/system/run/RunFixture.h"

#include <QFile>

namespace orl::test {
namespace {

using pdx::FieldType;

class BadInputTest : public RunTest {
 protected:
  // The rows of a table as comparable texts.
  std::vector<std::vector<QString>> rowsOf(const QString& file) const {
    std::vector<std::vector<QString>> rows;
    for (const auto& row : ReadTable(folders.path(file)).rows) {
      std::vector<QString> values;
      for (const auto& value : row) values.push_back(Comparable(value));
      rows.push_back(std::move(values));
    }
    return rows;
  }
  // A run that must fail with a report and leave the folder as it was.
  void expectRefusedAndUntouched(const QString& mentioned) {
    const auto before = folders.snapshot();
    EXPECT_FALSE(run());
    ASSERT_FALSE(boxes.errorReports().isEmpty());
    EXPECT_TRUE(boxes.errorReports().join(QLatin1Char('\n')).contains(mentioned))
        << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(boxes.informs().contains(QStringLiteral("Done.")));
    EXPECT_EQ(folders.snapshot(), before);
  }
};

TEST_F(BadInputTest, NamesWithQuotesSpacesAndLettersBeyondAsciiWork) {
  // The longest field name a Paradox table holds is 25 characters.
  const std::string longest(25, 'L');
  struct Case {
    const char* table;
    std::string field;
  };
  const Case cases[] = {{"O'Neil", "Customer's \"Name\""},
                        {"Two Words", "Straße Nr"},
                        {"Zürich", "Ünïcödé Fïéld"},
                        {"LONGNAME", longest}};
  for (const Case& c : cases) {
    const QString table = QString::fromUtf8(c.table);
    const QString field = QString::fromStdString(c.field);
    SCOPED_TRACE(table.toStdString() + " / " + c.field);
    WriteTable(folders.path(table + QStringLiteral(".db")),
               {{"Keep", FieldType::Alpha, 10}, {c.field, FieldType::Alpha, 40}},
               {{std::string("it's"), std::string("o'hara's café")}, {std::string("x"), pdx::Null{}}});
    useTable(table, field);
    boxes = RecordingMessageBoxes();
    EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(boxes.errorReports().isEmpty()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    const auto content = ReadTable(folders.path(table + QStringLiteral(".db")));
    ASSERT_EQ(content.fields.size(), 2u);
    EXPECT_EQ(content.fields[1].name, c.field);
    EXPECT_EQ(rowsOf(table + QStringLiteral(".db")),
              (std::vector<std::vector<QString>>{{"it's", QStringLiteral("O'HARA'S CAFÉ")}, {"x", "(blank)"}}));
  }
}

TEST_F(BadInputTest, NamesNoStatementCanQuoteAreRefusedBeforeAnythingIsTouched) {
  for (const char* field : {"Back`tick", "Square[Bracket", "Closing]"}) {
    SCOPED_TRACE(field);
    QFile::remove(folders.path(QStringLiteral("T.db")));
    WriteTable(folders.path(QStringLiteral("T.db")), {{field, FieldType::Alpha, 10}}, {{std::string("abc")}});
    useTable(QStringLiteral("T"), QString::fromLatin1(field));
    boxes = RecordingMessageBoxes();
    expectRefusedAndUntouched(QString::fromLatin1(field));
  }
}

TEST_F(BadInputTest, LongValuesKeepEveryByte) {
  // A full 255-byte alpha value, quotes and all, and a 64 KB memo.
  std::string alpha;
  while (alpha.size() < 255) alpha += "o'k ";
  alpha.resize(255);
  std::string memo;
  while (memo.size() < 65536) memo += "line with 'quotes'\r\n";
  memo.resize(65536);
  WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 255}, {"M", FieldType::Memo, 20}},
             {{alpha, memo}, {alpha, std::string("short")}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  EXPECT_TRUE(run());
  EXPECT_TRUE(boxes.errorReports().isEmpty()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  auto content = ReadTable(folders.path(QStringLiteral("T.db")));
  ASSERT_EQ(content.rows.size(), 2u);
  EXPECT_EQ(content.rows[0][0].toText(), QString::fromLatin1(alpha).toUpper());
  EXPECT_EQ(content.rows[0][1].toText(), QString::fromLatin1(memo));

  // The memo itself under upper case.
  useTable(QStringLiteral("T"), QStringLiteral("M"));
  boxes = RecordingMessageBoxes();
  EXPECT_TRUE(run());
  EXPECT_TRUE(boxes.errorReports().isEmpty()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  content = ReadTable(folders.path(QStringLiteral("T.db")));
  EXPECT_EQ(content.rows[0][1].toText(), QString::fromLatin1(memo).toUpper());
  EXPECT_EQ(content.rows[1][1].toText(), QStringLiteral("SHORT"));
  EXPECT_EQ(content.rows[0][0].toText(), QString::fromLatin1(alpha).toUpper());
}

TEST_F(BadInputTest, ATableWhoseEveryFieldIsBlankIsWrittenBackBlank) {
  WriteTable(folders.path(QStringLiteral("T.db")),
             {{"A", FieldType::Alpha, 10}, {"N", FieldType::Long, 4}, {"D", FieldType::Date, 4}, {"M", FieldType::Memo, 20}},
             {{pdx::Null{}, pdx::Null{}, pdx::Null{}, pdx::Null{}}, {pdx::Null{}, pdx::Null{}, pdx::Null{}, pdx::Null{}}});
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  EXPECT_TRUE(run());
  EXPECT_TRUE(boxes.errorReports().isEmpty()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
  const std::vector<QString> blank(4, QStringLiteral("(blank)"));
  EXPECT_EQ(rowsOf(QStringLiteral("T.db")), (std::vector<std::vector<QString>>{blank, blank}));
}

TEST_F(BadInputTest, DamagedTablesAreReportedAndLeftAsTheyWere) {
  const auto write = [&] {
    for (const char* name : {"T.db", "T.mb"}) QFile::remove(folders.path(QLatin1String(name)));
    std::vector<std::vector<pdx::Value>> rows;
    for (int r = 0; r < 500; ++r) rows.push_back({std::string("name ") + std::to_string(r), std::string(300, 'm')});
    WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 20}, {"M", FieldType::Memo, 20}}, rows);
  };
  useTable(QStringLiteral("T"), QStringLiteral("A"));
  {
    SCOPED_TRACE("truncated table");
    write();
    QFile file(folders.path(QStringLiteral("T.db")));
    ASSERT_TRUE(file.resize(file.size() - 3000));
    expectRefusedAndUntouched(QStringLiteral("T"));
  }
  {
    SCOPED_TRACE("memo file missing");
    write();
    ASSERT_TRUE(QFile::remove(folders.path(QStringLiteral("T.mb"))));
    boxes = RecordingMessageBoxes();
    expectRefusedAndUntouched(QStringLiteral(".mb"));
  }
}

}  // namespace
}  // namespace orl::test
