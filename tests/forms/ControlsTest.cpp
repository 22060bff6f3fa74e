// The control wrappers, the pointer file, the settings store, the folder
// picker and the window colours, on real Qt widgets.
#include "platform/common/Error.h"
#include "platform/ui/ApplicationTitle.h"
#include "platform/ui/DropDown.h"
#include "platform/ui/Frame.h"
#include "platform/ui/Label.h"
#include "platform/ui/ListView.h"
#include "platform/ui/Pointer.h"
#include "platform/ui/ProgressBar.h"
#include "platform/ui/PushButton.h"
#include "platform/ui/QtMessageBoxes.h"
#include "platform/ui/QtSettingsStore.h"
#include "platform/ui/SkinFramework.h"
#include "platform/ui/TextBox.h"
#include "platform/ui/Window.h"
#include "system/addfolder/BrowseForFolder.h"
#include "system/main/Look.h"
#include "tests/forms/WindowHarness.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <functional>

using namespace orl;

namespace {

int errorNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& error) {
    return error.number();
  }
  return 0;
}

// A bare window holding one control of each kind.
class TestWindow final : public ui::Window {
 public:
  TestWindow()
      : ui::Window(QStringLiteral("TestWindow"), QSize(400, 300), QFont()),
        list(place<ui::ListView>(*this, QStringLiteral("List"), QRect(0, 0, 200, 150), QFont(),
                                 ui::ListView::Selection::Several)),
        frame(place<ui::Frame>(*this, QStringLiteral("Frame"), QStringLiteral("Frame"), QRect(200, 0, 200, 100),
                               QFont())),
        label(place<ui::Label>(frame.container(), QStringLiteral("Label"), QStringLiteral("Label"),
                               QRect(10, 20, 80, 20), QFont())),
        box(place<ui::TextBox>(*this, QStringLiteral("Box"), QRect(200, 120, 150, 24), QFont())) {}

  int loads = 0;
  ui::ListView& list;
  ui::Frame& frame;
  ui::Label& label;
  ui::TextBox& box;

 protected:
  void load() override { ++loads; }
  bool mayUnload() override { return true; }
  void unload() override {}
};

QPoint centreOfRow(QTreeWidget& tree, int row) {
  return tree.visualItemRect(tree.topLevelItem(row)).center();
}

}  // namespace

class ControlsTest : public QObject {
  Q_OBJECT

 private slots:
  void messageBoxesStandOverTheActiveWindow() {
    TestWindow window;
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ui::QtMessageBoxes boxes;
    QWidget* owner = nullptr;
    QString shown;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      owner = box->parentWidget();
      shown = box->text();
      box->button(QMessageBox::Yes)->click();
    });
    QVERIFY(boxes.askYesNo(QStringLiteral("Go on?")));
    QCOMPARE(shown, QStringLiteral("Go on?"));
    QCOMPARE(owner, static_cast<QWidget*>(&window));
  }

  void aNoticeDoesNotWaitAndIsShownOnceWhileOpen() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ui::SetApplicationTitle(QStringLiteral("Orlintide"));
    ui::QtMessageBoxes boxes;
    const QString wait = QStringLiteral("Please wait until the case change has finished.");
    boxes.notify(wait);
    boxes.notify(wait);
    QList<QMessageBox*> open;
    for (QWidget* widget : QApplication::topLevelWidgets())
      if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) open << box;
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.front()->text(), wait);
    QCOMPARE(open.front()->windowTitle(), QStringLiteral("Orlintide"));
    QCOMPARE(open.front()->parentWidget(), static_cast<QWidget*>(&window));
    QVERIFY(!open.front()->isModal());
    open.front()->button(QMessageBox::Ok)->click();
    QTRY_VERIFY(QApplication::topLevelWidgets().indexOf(open.front()) < 0);
  }

  void everyBoxIsWideEnoughForItsTitle() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ui::SetApplicationTitle(QStringLiteral("A program title long enough to be cut off"));
    ui::QtMessageBoxes boxes;
    QStringList titles;
    QList<int> spare;
    const auto measureAndClose = [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      titles << box->windowTitle();
      spare << box->width() - QFontMetrics(box->font()).horizontalAdvance(box->windowTitle());
      box->buttons().front()->click();
    };
    QTimer::singleShot(0, measureAndClose);
    boxes.inform(QStringLiteral("Done."));
    QTimer::singleShot(0, measureAndClose);
    boxes.showErrorReport(QStringLiteral("x"));
    QCOMPARE(titles, (QStringList{QStringLiteral("A program title long enough to be cut off"),
                                  QStringLiteral("Application Error")}));
    // Room beside the title for the title bar's icon and buttons.
    for (int room : spare) QVERIFY2(room >= 150, qPrintable(QString::number(room)));
    ui::SetApplicationTitle(QString());
  }

  void aBoxStandsOverTheProgramsWindowAlsoWhenNoneIsActive() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(nullptr);
    QCOMPARE(ui::MessageBoxOwner(), static_cast<QWidget*>(&window));
  }

  void listViewCountsFromOneAndSelectsItsFirstEntry() {
    TestWindow window;
    ui::ListView& list = window.list;
    QCOMPARE(errorNumberOf([&] { list.selectedItemText(); }), ErrorNumber::ObjectNotSet);
    list.add(QStringLiteral("ORDERS"), QStringLiteral("/data"));
    list.add(QStringLiteral("CUSTOMER"), QStringLiteral("/data/old"));
    list.add(QStringLiteral("PARTS"));
    QCOMPARE(list.count(), 3);
    QCOMPARE(list.selectedItemText(), QStringLiteral("ORDERS"));
    QCOMPARE(list.selectedItemFolder(), QStringLiteral("/data"));
    QCOMPARE(list.text(3), QStringLiteral("PARTS"));
    list.setText(2, QStringLiteral("Customer"));
    QCOMPARE(list.text(2), QStringLiteral("Customer"));
    QCOMPARE(errorNumberOf([&] { list.text(0); }), ErrorNumber::SubscriptOutOfRange);
    QCOMPARE(errorNumberOf([&] { list.setText(4, QString()); }), ErrorNumber::SubscriptOutOfRange);
    list.clear();
    QCOMPARE(list.count(), 0);
    QCOMPARE(errorNumberOf([&] { list.selectedItemFolder(); }), ErrorNumber::ObjectNotSet);
  }

  void listViewClickSelectsTheEntryAndItsFolder() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.list.addColumn(QStringLiteral("Table(s)"));
    window.list.setColumnWidth(3000);
    window.list.add(QStringLiteral("ORDERS"), QStringLiteral("/data"));
    window.list.add(QStringLiteral("ORDERS"), QStringLiteral("/data/sub"));
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("List"));
    QCOMPARE(tree->columnWidth(0), 200);
    QSignalSpy clicks(&window.list, &ui::ListView::clicked);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centreOfRow(*tree, 1));
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(window.list.selectedItemFolder(), QStringLiteral("/data/sub"));
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(clicks.count(), 2);
    QCOMPARE(window.list.selectedItemFolder(), QStringLiteral("/data"));
  }

  void listViewSelectsSeveralWithoutMovingItsSelectedItem() {
    TestWindow window;
    for (const char* name : {"Name", "City", "Street"}) window.list.add(QString::fromLatin1(name));
    for (int i = 1; i <= 3; ++i) window.list.setSelected(i, true);
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("List"));
    QCOMPARE(tree->selectedItems().size(), 3);
    QCOMPARE(window.list.selectedItemText(), QStringLiteral("Name"));
    for (int i = 1; i <= 3; ++i) window.list.setSelected(i, false);
    QCOMPARE(tree->selectedItems().size(), 0);
    QCOMPARE(window.list.selectedItemText(), QStringLiteral("Name"));
  }

  void heldListRefusesClicksAndKeysSilently() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.list.add(QStringLiteral("ORDERS"));
    window.list.add(QStringLiteral("CUSTOMER"));
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("List"));
    QSignalSpy clicks(&window.list, &ui::ListView::clicked);
    window.list.setInputHeld(true);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centreOfRow(*tree, 1));
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(window.list.selectedItemText(), QStringLiteral("ORDERS"));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(5, tree->viewport()->height() - 3));
    QVERIFY(window.list.showsSelectedItem());
    QCOMPARE(clicks.count(), 0);
    window.list.setInputHeld(false);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, centreOfRow(*tree, 1));
    QCOMPARE(window.list.selectedItemText(), QStringLiteral("CUSTOMER"));
    QCOMPARE(clicks.count(), 1);
  }

  void progressBarTakesPercentagesAndShowsItsCaption() {
    QWidget container;
    ui::ProgressBar bar(container, QStringLiteral("Bar"), QStringLiteral("Progress Bar"), QRect(0, 0, 300, 27),
                        QFont());
    auto* widget = container.findChild<QProgressBar*>(QStringLiteral("Bar"));
    QCOMPARE(widget->text(), QStringLiteral("Progress Bar"));
    bar.setValue(100.0 / 3.0);
    QCOMPARE(bar.value(), 100.0 / 3.0);
    QCOMPARE(widget->value(), 33);
    QCOMPARE(errorNumberOf([&] { bar.setValue(100.5); }), ErrorNumber::InvalidPropertyValue);
    QCOMPARE(errorNumberOf([&] { bar.setValue(-1); }), ErrorNumber::InvalidPropertyValue);
    QCOMPARE(bar.value(), 100.0 / 3.0);
    bar.setText(QStringLiteral("50% done"));
    QCOMPARE(widget->text(), QStringLiteral("50% done"));
  }

  void dropDownChoosesOnlyWhenTold() {
    QWidget container;
    ui::DropDown drop(container, QStringLiteral("Drop"), QRect(0, 0, 200, 23), QFont());
    for (const char* entry : {"UPPER CASE", "lower case", "Proper Case", "Sentence case"})
      drop.addItem(QString::fromLatin1(entry));
    QCOMPARE(drop.text(), QString());
    drop.setListIndex(2);
    QCOMPARE(drop.text(), QStringLiteral("Proper Case"));
    QCOMPARE(errorNumberOf([&] { drop.setListIndex(4); }), ErrorNumber::InvalidPropertyValue);
    QCOMPARE(drop.text(), QStringLiteral("Proper Case"));
    QVERIFY(!container.findChild<QComboBox*>(QStringLiteral("Drop"))->isEditable());
  }

  void textBoxSignalsEveryChangeTypedOrSet() {
    TestWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QSignalSpy changes(&window.box, &ui::TextBox::changed);
    window.box.setText(QStringLiteral("/data"));
    QCOMPARE(changes.count(), 1);
    auto* edit = window.findChild<QLineEdit*>(QStringLiteral("Box"));
    edit->setFocus();
    edit->end(false);
    QTest::keyClicks(edit, QStringLiteral("/db"));
    QCOMPARE(changes.count(), 4);
    QCOMPARE(window.box.text(), QStringLiteral("/data/db"));
    window.box.setSelStart(1);
    window.box.setSelLength(4);
    QCOMPARE(edit->selectedText(), QStringLiteral("data"));
  }

  void pointerFileKeepsItsHotSpot() {
    test::WindowHarness harness;
    const QString file = harness.programFolder + QStringLiteral("/HAND-M.CUR");
    QVERIFY(test::WriteCursorFile(file, 9, 3));
    const QCursor pointer = ui::LoadPointerFile(file);
    QCOMPARE(pointer.hotSpot(), QPoint(9, 3));
    QCOMPARE(pointer.pixmap().size(), QSize(32, 32));

    const QString notACursor = harness.programFolder + QStringLiteral("/text.cur");
    QVERIFY(test::WriteFile(notACursor, QByteArray("not a picture at all, just text")));
    QCOMPARE(errorNumberOf([&] { ui::LoadPointerFile(notACursor); }), 481);
    QCOMPARE(errorNumberOf([&] { ui::LoadPointerFile(harness.programFolder + QStringLiteral("/none.cur")); }),
             ErrorNumber::FileNotFound);
  }

  void windowPointerStyles() {
    TestWindow window;
    window.setMousePointer(ui::PointerStyle::Hourglass);
    QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
    // The custom style without a picture shows the default pointer.
    window.setMousePointer(ui::PointerStyle::Custom);
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(window.mousePointer(), ui::PointerStyle::Custom);
    test::WindowHarness harness;
    const QString file = harness.programFolder + QStringLiteral("/HAND-M.CUR");
    QVERIFY(test::WriteCursorFile(file, 4, 5));
    window.setMouseIcon(ui::LoadPointerFile(file));
    QCOMPARE(window.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(window.cursor().hotSpot(), QPoint(4, 5));
    window.setMousePointer(ui::PointerStyle::Default);
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(errorNumberOf([&] { window.setMousePointer(1); }), ErrorNumber::InvalidPropertyValue);
    QCOMPARE(window.mousePointer(), ui::PointerStyle::Default);
  }

  void windowLoadsOnceAndIsCentredAndFixed() {
    TestWindow window;
    QVERIFY(!window.isLoaded());
    window.showModeless();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.loads, 1);
    const QRect screen = window.screen()->availableGeometry();
    // The client area is centred; the frame the platform adds may shift it by its border.
    QVERIFY(qAbs(window.geometry().center().x() - screen.center().x()) <= 4);
    QVERIFY(qAbs(window.geometry().center().y() - screen.center().y()) <= 4);
    QCOMPARE(window.minimumSize(), window.maximumSize());
    window.hideWindow();
    window.showModeless();
    QCOMPARE(window.loads, 1);
    QVERIFY(window.isVisible());
  }

  void settingsStoreReadsBackWhatItWrote() {
    test::WindowHarness harness;
    QCOMPARE(harness.settings.read(QStringLiteral("Database"), QStringLiteral("none")), QStringLiteral("none"));
    harness.settings.write(QStringLiteral("Database"), QStringLiteral("/data/My Tables"));
    harness.settings.write(QStringLiteral("LastFolderDot"), QString());
    ui::QtSettingsStore again(harness.settingsFile);
    QCOMPARE(again.read(QStringLiteral("Database"), QString()), QStringLiteral("/data/My Tables"));
    QCOMPARE(again.read(QStringLiteral("LastFolderDot"), QStringLiteral("none")), QString());
    QFile file(harness.settingsFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("[Orlintide]"));
  }

  void browseForFolderHandsBackThePathOrNothing() {
    test::RecordingFolderDialog dialog;
    QWidget owner;
    dialog.answer = QStringLiteral("/data/tables/");
    QCOMPARE(AddFolder::BrowseForFolder(dialog, owner, QStringLiteral("Please select folder:"),
                                        QStringLiteral("/data")),
             QStringLiteral("/data/tables"));
    QCOMPARE(dialog.titles, QStringList{QStringLiteral("Please select folder:")});
    QCOMPARE(dialog.startFolders, QStringList{QStringLiteral("/data")});
    dialog.answer = QStringLiteral("/");
    QCOMPARE(AddFolder::BrowseForFolder(dialog, owner, QString(), QString()), QStringLiteral("/"));
    dialog.answer = QString();
    QCOMPARE(AddFolder::BrowseForFolder(dialog, owner, QString(), QString()), QString());
  }

  void formColoursReachFramesAndLabelsOnly() {
    TestWindow window;
    const ui::BackColor white = ui::BackColor::fixed(Qt::white);
    window.setBackColor(white);
    window.frame.setBackColor(white);
    window.label.setBackColor(white);
    Main::SetFormColors(window);
    QCOMPARE(window.backColor(), ui::BackColor::buttonFace());
    QCOMPARE(window.frame.backColor(), ui::BackColor::buttonFace());
    QCOMPARE(window.label.backColor(), ui::BackColor::buttonFace());
    QCOMPARE(window.findChild<QWidget*>(QStringLiteral("Label"))->backgroundRole(), QPalette::Button);
  }

  void skinOnlyWhenItsFileIsThere() {
    test::WindowHarness harness;
    TestWindow window;
    const ui::BackColor white = ui::BackColor::fixed(Qt::white);
    window.setBackColor(white);
    window.frame.setBackColor(white);
    ui::SkinFramework skin;
    Main::ApplySkin(window, skin, harness.programFolder);
    QCOMPARE(window.backColor(), white);
    QCOMPARE(window.frame.backColor(), white);
    QVERIFY(window.styleSheet().isEmpty());

    const QByteArray sheet("QPushButton { color: navy; }");
    QVERIFY(test::WriteFile(harness.programFolder + QStringLiteral("/x/o.cjs"), sheet));
    Main::ApplySkin(window, skin, harness.programFolder);
    QCOMPARE(window.backColor(), ui::BackColor::buttonFace());
    QCOMPARE(window.frame.backColor(), ui::BackColor::buttonFace());
    QCOMPARE(window.styleSheet(), QString::fromUtf8(sheet));
  }
};

QTEST_MAIN(ControlsTest)
#include "ControlsTest.moc"
