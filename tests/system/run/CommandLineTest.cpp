#include "tests/system/run/RunFixture.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace orl::test {
namespace {

// The program as a user starts it from a plain terminal: no display, no
// platform plugin named, in a program folder of its own with dbTemp.mdb.
class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program = folders.programFolder() + QStringLiteral("/orlintide");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ORLINTIDE_PROGRAM), program));
    QFile(program).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  int runProgram(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) environment.remove(QLatin1String(name));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    EXPECT_TRUE(process.waitForFinished(120000));
    output = QString::fromUtf8(process.readAllStandardOutput());
    errors = QString::fromUtf8(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  }
  DataFolders folders;
  QString program, output, errors;
};

TEST_F(CommandLineTest, ChangesAFieldOfACorpusCopyWithoutADisplay) {
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  const QString folder = folders.dataFolder();
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folder, QStringLiteral("--list-tables")}), 0) << errors.toStdString();
  EXPECT_EQ(output, QStringLiteral("CUSTOMER\n"));
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folder, QStringLiteral("--table"), QStringLiteral("customer"),
                        QStringLiteral("--list-fields")}),
            0);
  EXPECT_TRUE(output.contains(QStringLiteral("City\tadVarChar\n")));
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folder, QStringLiteral("--table"), QStringLiteral("CUSTOMER"),
                        QStringLiteral("--field"), QStringLiteral("city"), QStringLiteral("--case"),
                        QStringLiteral("Sentence case"), QStringLiteral("--drop-indexes")}),
            0)
      << errors.toStdString();
  EXPECT_EQ(output, QStringLiteral("Done.\n"));
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folder, QStringLiteral("--table"), QStringLiteral("CUSTOMER"),
                        QStringLiteral("--field"), QStringLiteral("City"), QStringLiteral("--preview")}),
            0);
  EXPECT_TRUE(output.startsWith(QStringLiteral("Santa cruz\nLos gatos\n"))) << output.toStdString();
}

TEST_F(CommandLineTest, TablesWithNonAsciiNamesAreListedAndChangedAsTheTableListNamesThem) {
  using pdx::FieldType;
  WriteTable(folders.path(QStringLiteral("Straße.db")), {{"Name", FieldType::Alpha, 10}}, {{std::string("anna")}});
  WriteTable(folders.path(QStringLiteral("Strasse.db")), {{"Name", FieldType::Alpha, 10}}, {{std::string("bert")}});
  // What a run killed while writing its new table leaves.
  QFile leftover(folders.path(QStringLiteral(".orlintide-new.Strasse.db")));
  ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
  leftover.close();
  const QByteArray other = folders.snapshot().at(QStringLiteral("Strasse.db"));

  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--list-tables")}), 0)
      << errors.toStdString();
  EXPECT_EQ(output, QStringLiteral("STRASSE\nSTRAßE\n"));
  EXPECT_FALSE(QFile::exists(folders.path(QStringLiteral(".orlintide-new.Strasse.db"))));

  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                        QStringLiteral("straße"), QStringLiteral("--field"), QStringLiteral("Name"),
                        QStringLiteral("--case"), QStringLiteral("upper")}),
            0)
      << errors.toStdString();
  EXPECT_EQ(QDir(folders.dataFolder()).entryList(QDir::Files | QDir::Hidden),
            (QStringList{QStringLiteral("Strasse.db"), QStringLiteral("Straße.db")}));
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("Straße.db"))).rows[0][0], ado::Value::text(QStringLiteral("ANNA")));
  EXPECT_EQ(folders.snapshot().at(QStringLiteral("Strasse.db")), other);
}

TEST_F(CommandLineTest, ExitsNonZeroAfterAnyReportedError) {
  if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  const auto before = folders.snapshot();
  QFile::remove(folders.scratchFile());
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                        QStringLiteral("CUSTOMER"), QStringLiteral("--field"), QStringLiteral("Street"),
                        QStringLiteral("--case"), QStringLiteral("upper")}),
            1);
  EXPECT_TRUE(errors.contains(QStringLiteral("dbTemp.mdb"))) << errors.toStdString();
  EXPECT_TRUE(errors.contains(QStringLiteral("at line 108")));
  EXPECT_EQ(folders.snapshot(), before);
  EXPECT_EQ(runProgram({QStringLiteral("--folder"), folders.dataFolder(), QStringLiteral("--table"),
                        QStringLiteral("CUSTOMER"), QStringLiteral("--field"), QStringLiteral("City"),
                        QStringLiteral("--case"), QStringLiteral("title")}),
            2);
  EXPECT_EQ(runProgram({QStringLiteral("--help")}), 0);
  EXPECT_TRUE(output.contains(QStringLiteral("--list-tables")));
}

TEST_F(CommandLineTest, TwoModesTogetherAreRefusedWithTheUsageAndChangeNothing) {
  using pdx::FieldType;
  WriteTable(folders.path(QStringLiteral("T.db")), {{"Name", FieldType::Alpha, 10}}, {{std::string("anna")}});
  const auto before = folders.snapshot();
  const QString folder = folders.dataFolder();
  const QStringList table{QStringLiteral("--folder"), folder, QStringLiteral("--table"), QStringLiteral("T"),
                          QStringLiteral("--field"), QStringLiteral("Name")};
  for (const QStringList& modes :
       {QStringList{QStringLiteral("--case"), QStringLiteral("upper"), QStringLiteral("--preview")},
        QStringList{QStringLiteral("--list-tables"), QStringLiteral("--list-fields")},
        QStringList{QStringLiteral("--list-fields"), QStringLiteral("--case"), QStringLiteral("lower")}}) {
    EXPECT_EQ(runProgram(table + modes), 2) << modes.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(output.isEmpty()) << output.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("cannot be given together"))) << errors.toStdString();
    EXPECT_TRUE(errors.contains(QStringLiteral("Usage:")));
  }
  EXPECT_EQ(folders.snapshot(), before);
  // Each mode alone still does its work.
  EXPECT_EQ(runProgram(table + QStringList{QStringLiteral("--preview")}), 0);
  EXPECT_EQ(output, QStringLiteral("anna\n"));
  EXPECT_EQ(runProgram(table + QStringList{QStringLiteral("--case"), QStringLiteral("upper")}), 0);
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("ANNA")));
}

}  // namespace
}  // namespace orl::test
