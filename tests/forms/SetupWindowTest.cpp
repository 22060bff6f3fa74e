// The start-up and the setup window, driven through the real windows.
#include "platform/ui/ApplicationTitle.h"
#include "platform/ui/Pointer.h"
#include "system/main/ErrorReport.h"
#include "tests/forms/WindowHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <tuple>
#include <vector>

using namespace orl;

namespace {

const QString Question = QStringLiteral(
    "In some cases the software needs to use a folder without spaces.\r\nIs it OK to create the folder %1 and put "
    "%2 db files in it?");

QString remembered(test::WindowHarness& harness) {
  return ui::QtSettingsStore(harness.settingsFile).read(QStringLiteral("Database"), QStringLiteral("<unset>"));
}

void click(QWidget& window, const char* button) {
  auto* widget = window.findChild<QPushButton*>(QString::fromLatin1(button));
  QVERIFY(widget != nullptr);
  QTest::mouseClick(widget, Qt::LeftButton);
}

QLineEdit& folderBox(test::Windows& windows) { return *windows.setup.findChild<QLineEdit*>(QStringLiteral("Text1")); }

}  // namespace

class SetupWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartShowsTheEmptySetupWindow() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.setup.isVisible());
    QVERIFY(!windows.main.isLoaded());
    QCOMPARE(windows.setup.caption(), QStringLiteral("Orlintide"));
    QCOMPARE(ui::ApplicationTitle(), QStringLiteral("Orlintide"));
    // Qt would add its display name to every title, the error box's too.
    QCOMPARE(QGuiApplication::applicationDisplayName(), QGuiApplication::applicationName());
    QCOMPARE(windows.setup.folderText(), QString());
    QCOMPARE(windows.setup.size(), QSize(536, 144));
    QVERIFY(!windows.setup.hasMouseIcon());
    QVERIFY(harness.boxes.shown.empty());
    // Without the skin file the design's white stays.
    QCOMPARE(windows.setup.backColor(), ui::BackColor::fixed(QColor(255, 255, 255)));
    const std::vector<std::tuple<const char*, QRect, double>> layout{
        {"Frame1", QRect(8, 8, 520, 94), 9},          {"Label2", QRect(16, 27, 97, 17), 9},
        {"Text1", QRect(112, 24, 353, 23), 9},        {"PushButton5", QRect(472, 24, 32, 23), 11.25},
        {"PushButton1", QRect(16, 56, 240, 27), 11.25}, {"PushButton2", QRect(264, 56, 240, 27), 11.25},
        {"PushButton3", QRect(8, 109, 520, 27), 11.25}};
    for (const auto& [name, where, points] : layout) {
      const QWidget* control = windows.setup.findChild<QWidget*>(QString::fromLatin1(name));
      QCOMPARE(control->geometry(), where);
      QCOMPARE(control->font().pointSizeF(), points);
      QVERIFY(control->font().bold());
    }
  }

  void staleRememberedFolderStaysInTheBox() {
    test::WindowHarness harness;
    const QString gone = harness.root.filePath(QStringLiteral("moved away"));
    harness.settings.write(QStringLiteral("Database"), gone);
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.setup.isVisible());
    QVERIFY(!windows.main.isLoaded());
    QCOMPARE(windows.setup.folderText(), gone);
    QCOMPARE(remembered(harness), gone);
    QVERIFY(harness.boxes.shown.empty());
  }

  void rememberedFolderWithSpacesOpensTheMainWindowWithoutAsking() {
    test::WindowHarness harness;
    const QString folder = harness.folder(QStringLiteral("My Tables"));
    harness.settings.write(QStringLiteral("Database"), folder);
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
    QVERIFY(harness.boxes.questions().isEmpty());
  }

  void rememberedFilePathOpensTheMainWindow() {
    test::WindowHarness harness;
    const QString file = harness.root.filePath(QStringLiteral("notes.txt"));
    QVERIFY(test::WriteFile(file));
    harness.settings.write(QStringLiteral("Database"), file);
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
  }

  void handPointerFromTheProgramFolder() {
    test::WindowHarness harness;
    QVERIFY(test::WriteCursorFile(harness.programFolder + QStringLiteral("/HAND-M.CUR"), 6, 1));
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.setup.hasMouseIcon());
    QVERIFY(harness.boxes.shown.empty());
  }

  void brokenPointerFileIsReportedAndStartUpGoesOn() {
    test::WindowHarness harness;
    QVERIFY(test::WriteFile(harness.programFolder + QStringLiteral("/HAND-M.CUR"), "plain text"));
    const QString folder = harness.folder(QStringLiteral("data"));
    harness.settings.write(QStringLiteral("Database"), folder);
    test::Windows windows(harness);
    windows.start();
    // (The folder holds no tables, so the main window's table click reports too; see its own tests.)
    QVERIFY(harness.boxes.errorReports().size() >= 2);
    QVERIFY(harness.boxes.errorReports().at(0).contains(QStringLiteral("\r\nin Brennick2021/08/31.Form1.Form_Load at line 126\r\r")));
    // The main window's own load tries the same file.
    QVERIFY(harness.boxes.errorReports().at(1).contains(QStringLiteral("\r\nin Brennick2021/08/31.Form2.Form_Load at line 108\r\r")));
    QVERIFY(!windows.setup.hasMouseIcon());
    QCOMPARE(windows.setup.folderText(), folder);
    QVERIFY(windows.main.isVisible());
  }

  void browseCancelledKeepsTheFolder() {
    test::WindowHarness harness;
    harness.settings.write(QStringLiteral("LastFolderDot"), QStringLiteral("/start here"));
    test::Windows windows(harness);
    windows.start();
    folderBox(windows).setText(QStringLiteral("/old folder"));
    harness.dialog.answer = QString();
    click(windows.setup, "PushButton5");
    QCOMPARE(harness.dialog.titles, QStringList{QStringLiteral("Please select folder:")});
    QCOMPARE(harness.dialog.startFolders, QStringList{QStringLiteral("/start here")});
    QCOMPARE(windows.setup.folderText(), QStringLiteral("/old folder"));
    QCOMPARE(remembered(harness), QStringLiteral("/old folder"));
    QVERIFY(harness.boxes.shown.empty());
  }

  void browseChoosesAFolderAndOffersTheSpaceFreeCopy() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    const QString chosen = harness.folder(QStringLiteral("Chosen Tables"));
    harness.dialog.answer = chosen;
    click(windows.setup, "PushButton5");
    QCOMPARE(harness.dialog.startFolders, QStringList{QString()});
    QCOMPARE(windows.setup.folderText(), chosen);
    QCOMPARE(remembered(harness), chosen);
    QCOMPARE(harness.boxes.questions(),
             QStringList{Question.arg(harness.driveRoot + QStringLiteral("TestDB"), QStringLiteral("Your"))});
  }

  void sampleFolderWithSpacesBothAnswers() {
    test::WindowHarness harness;
    // The program installed in a folder whose path holds a space.
    harness.programFolder = harness.folder(QStringLiteral("Program Files/Orlintide"));
    QVERIFY(test::WriteFile(harness.programFolder + QStringLiteral("/Samples/CLIENTS.db")));
    const QString samples = harness.programFolder + QStringLiteral("/Samples");
    const QString target = harness.driveRoot + QStringLiteral("TestDB");
    test::Windows windows(harness);
    windows.start();

    harness.boxes.answers = {false};
    click(windows.setup, "PushButton1");
    QCOMPARE(harness.boxes.questions(), QStringList{Question.arg(target, QStringLiteral("sample"))});
    QCOMPARE(windows.setup.folderText(), samples);
    QCOMPARE(remembered(harness), samples);

    harness.boxes.answers = {true};
    click(windows.setup, "PushButton1");
    QCOMPARE(windows.setup.folderText(), target);
    QCOMPARE(remembered(harness), target);
    QVERIFY(QFileInfo::exists(target + QStringLiteral("/CLIENTS.db")));
    // Loading the samples neither tests the folder nor moves on.
    QVERIFY(!windows.main.isLoaded());
    QVERIFY(harness.boxes.informs().isEmpty());
  }

  void spaceFreeCopyCopiesLinksAsLinksAndNothingFromOutside() {
    test::WindowHarness harness;
    const QString tables = harness.folder(QStringLiteral("My Tables"));
    QVERIFY(test::WriteFile(tables + QStringLiteral("/CLIENTS.db")));
    QVERIFY(test::WriteFile(harness.root.filePath(QStringLiteral("PARENT.db"))));
    QVERIFY(QFile::link(QStringLiteral("/"), tables + QStringLiteral("/everything")));
    QVERIFY(QFile::link(QStringLiteral(".."), tables + QStringLiteral("/parent")));
    test::Windows windows(harness);
    windows.start();
    windows.setup.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(tables);
    harness.boxes.answers = {true};
    click(windows.setup, "PushButton2");
    const QString target = harness.driveRoot + QStringLiteral("TestDB");
    QCOMPARE(windows.setup.folderText(), target);
    QCOMPARE(QFileInfo(target + QStringLiteral("/everything")).symLinkTarget(), QStringLiteral("/"));
    QVERIFY(QFileInfo(target + QStringLiteral("/parent")).isSymLink());
    QCOMPARE(QDir(target).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("CLIENTS.db"), QStringLiteral("everything"), QStringLiteral("parent")}));
    QVERIFY(!QFileInfo::exists(target + QStringLiteral("/PARENT.db")));
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Connection successful.")});
  }

  void sampleFolderWithoutSpacesAsksNothing() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    click(windows.setup, "PushButton1");
    QCOMPARE(windows.setup.folderText(), harness.programFolder + QStringLiteral("/Samples"));
    QVERIFY(harness.boxes.shown.empty());
  }

  void testConnectionSucceedsOnADotFileAlone() {
    test::WindowHarness harness;
    const QString folder = harness.folder(QStringLiteral("dotonly"));
    QVERIFY(test::WriteFile(folder + QStringLiteral("/.orders.db")));
    test::Windows windows(harness);
    windows.start();
    folderBox(windows).setText(folder);
    click(windows.setup, "PushButton2");
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Connection successful.")});
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Default);
    QVERIFY(!windows.main.isLoaded());
  }

  void testConnectionOnAnEmptyBoxCannotConnect() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    click(windows.setup, "PushButton2");
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Could not connect.")});
    QVERIFY(harness.boxes.questions().isEmpty());
    QVERIFY(harness.boxes.errorReports().isEmpty());
  }

  void testConnectionThatFailsIsReportedAndNotCalledASuccess() {
    test::WindowHarness harness;
    const QString folder = harness.folder(QStringLiteral("data"));
    QVERIFY(test::WriteFile(folder + QStringLiteral("/ORDERS.db")));
    test::Windows windows(harness);
    windows.start();
    folderBox(windows).setText(folder);
    harness.fileSystem.listingFails = true;
    click(windows.setup, "PushButton2");
    QCOMPARE(harness.boxes.errorReports(),
             QStringList{ErrorReportText(QStringLiteral("Permission denied: ") + folder + QLatin1Char('/'),
                                         QStringLiteral("in Brennick2021/08/31.Form1.PushButton2_Click "), 106)});
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Could not connect.")});
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Default);
  }

  void nextMovesOnOnlyForAnExistingPath() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    folderBox(windows).setText(harness.root.filePath(QStringLiteral("nowhere")));
    click(windows.setup, "PushButton3");
    QVERIFY(windows.setup.isVisible());
    QVERIFY(!windows.main.isLoaded());
    QVERIFY(harness.boxes.shown.empty());

    const QString file = harness.root.filePath(QStringLiteral("a file"));
    QVERIFY(test::WriteFile(file));
    folderBox(windows).setText(file);
    harness.boxes.answers = {false};
    click(windows.setup, "PushButton3");
    QCOMPARE(harness.boxes.questions().size(), 1);
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
  }

  void everyKeystrokeIsRemembered() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    QLineEdit& box = folderBox(windows);
    box.setFocus();
    QStringList seen;
    for (const QChar letter : QStringLiteral("/db")) {
      QTest::keyClick(&box, letter.toLatin1());
      seen << remembered(harness);
    }
    QCOMPARE(seen, (QStringList{QStringLiteral("/"), QStringLiteral("/d"), QStringLiteral("/db")}));
    box.clear();
    QCOMPARE(remembered(harness), QString());
  }

  void focusSelectsTheWholeFolder() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    QVERIFY(QTest::qWaitForWindowExposed(&windows.setup));
    QLineEdit& box = folderBox(windows);
    box.setText(QStringLiteral("/data/tables"));
    windows.setup.findChild<QPushButton*>(QStringLiteral("PushButton3"))->setFocus();
    box.setFocus(Qt::OtherFocusReason);
    QCOMPARE(box.selectedText(), QStringLiteral("/data/tables"));
  }

  void hoverShowsTheHandButNeverReplacesTheHourglass() {
    test::WindowHarness harness;
    QVERIFY(test::WriteCursorFile(harness.programFolder + QStringLiteral("/HAND-M.CUR"), 6, 1));
    test::Windows windows(harness);
    windows.start();
    QVERIFY(QTest::qWaitForWindowExposed(&windows.setup));
    auto* button = windows.setup.findChild<QPushButton*>(QStringLiteral("PushButton2"));
    QTest::mouseMove(button);
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Custom);
    QCOMPARE(windows.setup.cursor().shape(), Qt::BitmapCursor);
    QTest::mouseMove(&folderBox(windows));
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Default);
    QTest::mouseMove(button, QPoint(5, 5));
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Custom);
    QTest::mouseMove(&windows.setup, QPoint(300, 140));
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Default);

    windows.setup.setMousePointer(ui::PointerStyle::Hourglass);
    QTest::mouseMove(button, QPoint(8, 8));
    QTest::mouseMove(&folderBox(windows), QPoint(8, 8));
    QCOMPARE(windows.setup.mousePointer(), ui::PointerStyle::Hourglass);
  }

  void closingEitherWindowEndsTheProgram() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    windows.start();
    QVERIFY(windows.setup.close());
    QCOMPARE(harness.lifetime.ends, 1);

    test::WindowHarness second;
    second.settings.write(QStringLiteral("Database"), second.folder(QStringLiteral("data")));
    test::Windows advanced(second);
    advanced.start();
    QVERIFY(advanced.main.close());
    QCOMPARE(second.lifetime.ends, 1);
  }
};

QTEST_MAIN(SetupWindowTest)
#include "SetupWindowTest.moc"
