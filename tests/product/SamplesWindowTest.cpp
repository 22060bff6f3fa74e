// The first thing a new user does: load the samples in the setup window, go
// on to the main window and change a field of a sample table, with the
// program folder the build lays out.

#include "platform/pdx/Table.h"
#include "tests/forms/WindowHarness.h"

#include <QComboBox>
#include <QDirIterator>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString BuiltProgramFolder = QStringLiteral(ORLINTIDE_BUILT_PROGRAM_FOLDER);

// The build's program folder, less the programs, copied into the harness's.
bool CopyProgramFolder(const QString& target) {
  const QString samples = QStringLiteral(ORLINTIDE_BUILT_SAMPLES);
  for (const char* name : {"dbTemp.mdb", "HAND-M.CUR"})
    if (!QFile::copy(BuiltProgramFolder + QLatin1Char('/') + QLatin1String(name),
                     target + QLatin1Char('/') + QLatin1String(name)))
      return false;
  QDirIterator walk(samples, QDir::Files, QDirIterator::Subdirectories);
  while (walk.hasNext()) {
    const QString file = walk.next();
    const QString copy = target + QStringLiteral("/Samples") + file.mid(samples.size());
    QDir().mkpath(QFileInfo(copy).absolutePath());
    if (!QFile::copy(file, copy)) return false;
    QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
  return true;
}

QTreeWidget& tree(QWidget& window, const char* name) {
  return *window.findChild<QTreeWidget*>(QString::fromLatin1(name));
}

QStringList texts(QTreeWidget& list) {
  QStringList result;
  for (int row = 0; row < list.topLevelItemCount(); ++row) result << list.topLevelItem(row)->text(0);
  return result;
}

void clickRow(QTreeWidget& list, qsizetype row) {
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {},
                    list.visualItemRect(list.topLevelItem(static_cast<int>(row))).center());
}

void clickButton(QWidget& window, const char* name) {
  QTest::mouseClick(window.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

QStringList valuesOnDisk(const QString& table, const std::string& field) {
  const orl::pdx::Table opened = orl::pdx::Table::open(table.toStdString());
  std::size_t index = 0;
  while (opened.fields()[index].name != field) ++index;
  QStringList values;
  orl::pdx::Cursor cursor = opened.cursor();
  std::vector<orl::pdx::Value> row;
  while (cursor.next(row)) {
    const auto* text = std::get_if<std::string>(&row[index]);
    values << (text ? QString::fromStdString(*text) : QString());
  }
  return values;
}

}  // namespace

class SamplesWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void loadTheSamplesAndChangeTheCaseOfASubFoldersTable() {
    orl::test::WindowHarness harness;
    QVERIFY(CopyProgramFolder(harness.programFolder));
    orl::test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.setup.isVisible());
    // The hand pointer the build drew loads without a report.
    QVERIFY(windows.setup.hasMouseIcon());

    clickButton(windows.setup, "PushButton1");
    const QString samples = harness.programFolder + QStringLiteral("/Samples");
    QCOMPARE(windows.setup.findChild<QLineEdit*>(QStringLiteral("Text1"))->text(), samples);
    clickButton(windows.setup, "PushButton2");
    clickButton(windows.setup, "PushButton3");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Connection successful.")});
    QVERIFY(windows.main.isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(&windows.main));
    QVERIFY(windows.main.hasMouseIcon());

    QTreeWidget& tables = tree(windows.main, "ListView1");
    QCOMPARE(texts(tables), (QStringList{QStringLiteral("CUSTOMER"), QStringLiteral("VENDORS")}));
    clickRow(tables, 1);
    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, texts(fields).indexOf(QStringLiteral("Name")));
    const QString vendors = samples + QStringLiteral("/Archive/VENDORS.db");
    const QStringList before = valuesOnDisk(vendors, "Name");
    QCOMPARE(texts(tree(windows.main, "ListView3")), before);

    auto* choice = windows.main.findChild<QComboBox*>(QStringLiteral("Combo1"));
    choice->setCurrentIndex(choice->findText(QStringLiteral("Proper Case")));
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QCOMPARE(harness.boxes.informs(),
             (QStringList{QStringLiteral("Connection successful."), QStringLiteral("Done.")}));

    // The sub-folder's table was changed in its own folder, code page 850 and all.
    const QStringList after = valuesOnDisk(samples + QStringLiteral("/Archive/VENDORS.db"), "Name");
    QCOMPARE(after.size(), before.size());
    QVERIFY(after.contains(QStringLiteral("Nordisk Papir A/s")));
    QVERIFY(after.contains(QStringLiteral("Fábrica De Cerámica López")));
    QVERIFY(after.contains(QStringLiteral("Smørrebrød Supplies")));
    QCOMPARE(texts(tree(windows.main, "ListView3")), after);
    QVERIFY(!QFileInfo::exists(samples + QStringLiteral("/VENDORS.db")));
    QCOMPARE(orl::pdx::Table::inspect(vendors.toStdString()).codePage, 850);
  }
};

QTEST_MAIN(SamplesWindowTest)
#include "SamplesWindowTest.moc"
