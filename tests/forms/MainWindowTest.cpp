// The main window: its load, table and field browsing, the selection
// commands, the way back to the setup window, the pointer rule and runs
// started from the window, on real Paradox tables.
#include "platform/ado/Connection.h"
#include "platform/ado/RecordSet.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/Writer.h"
#include "platform/ui/Pointer.h"
#include "platform/ui/QtMessageBoxes.h"
#include "system/main/ErrorReport.h"
#include "system/paradox/Paradox.h"
#include "tests/forms/WindowHarness.h"

#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMap>
#include <QDir>
#include <QDirIterator>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTreeWidget>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

using namespace orl;

namespace {

using Row = std::vector<pdx::Value>;

void WriteTable(const QString& path, const std::vector<pdx::Field>& fields, const std::vector<Row>& rows) {
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = fields;
  pdx::TableWriter writer(files, path.toStdString(), settings);
  for (const Row& row : rows) writer.append(row);
  writer.finish();
}

bool MakeScratchDatabase(const QString& programFolder) {
  sqlite3* db = nullptr;
  const QByteArray file = (programFolder + QStringLiteral("/dbTemp.mdb")).toUtf8();
  const bool made = sqlite3_open(file.constData(), &db) == SQLITE_OK &&
                    sqlite3_exec(db, "CREATE TABLE made(x); DROP TABLE made;", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return made;
}

// The values of one field of a table on disk, read as the program reads them.
QStringList ValuesOnDisk(const QString& folder, const QString& table, const QString& field) {
  ado::Connection connection;
  connection.open(Paradox::ParadoxConnectionString(folder));
  ado::RecordSet records;
  records.open(QStringLiteral("SELECT `") + field + QStringLiteral("` FROM `") + table + QStringLiteral("`"),
               connection, ado::adOpenStatic, ado::adLockOptimistic);
  QStringList values;
  for (; !records.eof(); records.moveNext()) values << records.fields().item(0).value().toText();
  return values;
}

std::map<QString, QByteArray> FilesOf(const QString& folder) {
  std::map<QString, QByteArray> files;
  for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
    QFile file(info.filePath());
    if (file.open(QIODevice::ReadOnly)) files[info.fileName()] = file.readAll();
  }
  return files;
}

// Every file below the folder, by path, with its bytes.
std::map<QString, QByteArray> AllFilesOf(const QString& folder) {
  std::map<QString, QByteArray> files;
  QDirIterator entries(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (entries.hasNext()) {
    const QString path = entries.next();
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) files[path] = file.readAll();
  }
  return files;
}

// Notices go to the real message boxes, so that one stays open on screen;
// every other box is recorded.
class NoticesOnScreen final : public ui::MessageBoxes {
 public:
  explicit NoticesOnScreen(test::RecordingMessageBoxes& recorded) : recorded_(recorded) {}
  void showErrorReport(const QString& text) override { recorded_.showErrorReport(text); }
  void inform(const QString& text) override { recorded_.inform(text); }
  void notify(const QString& text) override { onScreen_.notify(text); }
  bool askYesNo(const QString& text) override { return recorded_.askYesNo(text); }

 private:
  test::RecordingMessageBoxes& recorded_;
  ui::QtMessageBoxes onScreen_;
};

QMessageBox* OpenNotice() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) return box;
  return nullptr;
}

// "in <location> at line <n>" of each report, in order.
QStringList WhereReported(const QStringList& reports) {
  static const QRegularExpression where(QStringLiteral("\r\n(in \\S+ at line \\d+)\r\r"));
  QStringList places;
  for (const QString& report : reports) places << where.match(report).captured(1);
  return places;
}

QTreeWidget& tree(QWidget& window, const char* name) {
  return *window.findChild<QTreeWidget*>(QString::fromLatin1(name));
}

QStringList texts(QTreeWidget& list) {
  QStringList result;
  for (int row = 0; row < list.topLevelItemCount(); ++row) result << list.topLevelItem(row)->text(0);
  return result;
}

void clickRow(QTreeWidget& list, int row) {
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualItemRect(list.topLevelItem(row)).center());
}

void clickButton(QWidget& window, const char* name) {
  QTest::mouseClick(window.findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

const std::vector<pdx::Field> ClientFields{{"Name", pdx::FieldType::Alpha, 20}, {"City", pdx::FieldType::Alpha, 20}};

// A folder of two same-named tables: CLIENTS with 150 rows whose first two
// names are blank, and old/CLIENTS with one field and two rows.
QString MakeClientFolders(test::WindowHarness& harness) {
  const QString data = harness.folder(QStringLiteral("data"));
  std::vector<Row> rows;
  rows.push_back({pdx::Null{}, std::string("paris")});
  rows.push_back({std::string(), std::string("lyon")});
  for (int i = 2; i < 150; ++i)
    rows.push_back({std::string("smith ") + std::to_string(i), std::string(i % 2 ? "nice" : "metz")});
  WriteTable(data + QStringLiteral("/CLIENTS.db"), ClientFields, rows);
  harness.folder(QStringLiteral("data/old"));
  WriteTable(data + QStringLiteral("/old/CLIENTS.db"), {{"Legacy", pdx::FieldType::Alpha, 10}},
             {{std::string("ann o'neil")}, {std::string("bob")}});
  return data;
}

// Starts the program on a remembered folder, so that it opens on the main window.
void StartOn(test::Windows& windows, test::WindowHarness& harness, const QString& folder) {
  harness.settings.write(QStringLiteral("Database"), folder);
  windows.start();
  QVERIFY(windows.main.isVisible());
  QVERIFY(QTest::qWaitForWindowExposed(&windows.main));
}

QRect twips(int left, int top, int width, int height) {
  return QRect(left / 15, top / 15, width / 15, height / 15);
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void loadBuildsTheWindowAndPreviewsTheFirstField() {
    test::WindowHarness harness;
    const QString data = MakeClientFolders(harness);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    forms::Form2& form = windows.main;
    QCOMPARE(harness.boxes.shown.size(), std::size_t{0});
    QCOMPARE(form.caption(), QStringLiteral("Orlintide"));
    QCOMPARE(form.size(), QSize(616, 503));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    QCOMPARE(form.backColor(), ui::BackColor::buttonFace());

    QCOMPARE(texts(tree(form, "ListView1")), (QStringList{QStringLiteral("CLIENTS"), QStringLiteral("CLIENTS")}));
    QCOMPARE(texts(tree(form, "ListView2")), (QStringList{QStringLiteral("Name"), QStringLiteral("City")}));
    const QStringList preview = texts(tree(form, "ListView3"));
    QCOMPARE(preview.size(), 100);
    QCOMPARE(preview.mid(0, 3), (QStringList{QString(), QString(), QStringLiteral("smith 2")}));
    QCOMPARE(preview.last(), QStringLiteral("smith 99"));

    auto* combo = form.findChild<QComboBox*>(QStringLiteral("Combo1"));
    QCOMPARE(combo->currentText(), QStringLiteral("UPPER CASE"));
    QStringList entries;
    for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
    QCOMPARE(entries, (QStringList{QStringLiteral("UPPER CASE"), QStringLiteral("lower case"),
                                   QStringLiteral("Proper Case"), QStringLiteral("Sentence case")}));

    const std::map<const char*, std::pair<QString, int>> columns{
        {"ListView1", {QStringLiteral("Table(s)"), 266}},
        {"ListView2", {QStringLiteral("Field(s)"), 266}},
        {"ListView3", {QStringLiteral("First 100 Entries (Preview)"), 533}}};
    for (const auto& [name, column] : columns) {
      QTreeWidget& list = tree(form, name);
      QCOMPARE(list.headerItem()->text(0), column.first);
      QCOMPARE(list.columnWidth(0), column.second);
      QCOMPARE(list.toolTip(), QStringLiteral("Move | line to right and out of window to reveal full names."));
      QVERIFY(!list.rootIsDecorated());
    }
    QCOMPARE(tree(form, "ListView2").selectionMode(), QAbstractItemView::ExtendedSelection);
  }

  void layoutAndTabOrder() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    forms::Form2& form = windows.main;
    const std::vector<std::pair<QString, QRect>> layout{
        {QStringLiteral("PushButton1"), twips(120, 6555, 4440, 405)},
        {QStringLiteral("PushButton5"), twips(4680, 6555, 4440, 405)},
        {QStringLiteral("ProgressBar1"), twips(120, 7080, 9000, 405)},
        {QStringLiteral("ListView1"), twips(120, 120, 4440, 2715)},
        {QStringLiteral("ListView2"), twips(4680, 120, 4440, 2235)},
        {QStringLiteral("Frame1"), twips(120, 5640, 9000, 800)},
        {QStringLiteral("Combo1"), twips(240, 300, 8520, 345)},
        {QStringLiteral("PushButton2"), twips(4680, 2415, 2055, 405)},
        {QStringLiteral("PushButton3"), twips(6840, 2415, 2280, 405)},
        {QStringLiteral("ListView3"), twips(120, 2895, 9000, 2715)}};
    for (const auto& [name, where] : layout) {
      const QWidget* control = form.findChild<QWidget*>(name);
      QVERIFY2(control != nullptr, qPrintable(name));
      QCOMPARE(control->geometry(), where);
    }
    QCOMPARE(form.findChild<QWidget*>(QStringLiteral("Combo1"))->parentWidget()->objectName(),
             QStringLiteral("Frame1"));
    QCOMPARE(form.findChild<QPushButton*>(QStringLiteral("PushButton1"))->font().pointSizeF(), 11.25);
    QCOMPARE(form.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"))->text(), QStringLiteral("Progress Bar"));
    QCOMPARE(form.findChild<QGroupBox*>(QStringLiteral("Frame1"))->title(),
             QStringLiteral("Change all records in selected field(s) to:"));

    // The keyboard visits the controls that take the focus in this order.
    QStringList visited;
    QWidget* first = form.findChild<QWidget*>(QStringLiteral("PushButton1"));
    QWidget* next = first;
    do {
      if (next->focusPolicy() & Qt::TabFocus && !next->objectName().isEmpty()) visited << next->objectName();
      next = next->nextInFocusChain();
    } while (next != first);
    QCOMPARE(visited, (QStringList{QStringLiteral("PushButton1"), QStringLiteral("PushButton5"),
                                   QStringLiteral("ListView1"), QStringLiteral("ListView2"),
                                   QStringLiteral("Combo1"), QStringLiteral("PushButton2"),
                                   QStringLiteral("PushButton3"), QStringLiteral("ListView3")}));
  }

  void sameNamedTableOfASubFolderOpensFromItsOwnFolder() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    clickRow(tree(windows.main, "ListView1"), 1);
    QCOMPARE(texts(tree(windows.main, "ListView2")), QStringList{QStringLiteral("Legacy")});
    QCOMPARE(texts(tree(windows.main, "ListView3")),
             (QStringList{QStringLiteral("ann o'neil"), QStringLiteral("bob")}));
    clickRow(tree(windows.main, "ListView1"), 0);
    QCOMPARE(texts(tree(windows.main, "ListView2")), (QStringList{QStringLiteral("Name"), QStringLiteral("City")}));
    clickRow(tree(windows.main, "ListView2"), 1);
    QCOMPARE(texts(tree(windows.main, "ListView3")).mid(0, 3),
             (QStringList{QStringLiteral("paris"), QStringLiteral("lyon"), QStringLiteral("metz")}));
    QVERIFY(harness.boxes.shown.empty());
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
  }

  void emptyTableListIsReportedByTheTableClick() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, harness.folder(QStringLiteral("no tables")));
    QCOMPARE(WhereReported(harness.boxes.errorReports()),
             (QStringList{QStringLiteral("in Brennick2021/08/31.Form2.Listview1_Click at line 110"),
                          QStringLiteral("in Brennick2021/08/31.Form2.Listview1_Click at line 116")}));
    QCOMPARE(tree(windows.main, "ListView2").topLevelItemCount(), 0);
    QCOMPARE(tree(windows.main, "ListView3").topLevelItemCount(), 0);
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
    // The rest of the window is still built.
    QCOMPARE(windows.main.findChild<QComboBox*>(QStringLiteral("Combo1"))->currentText(), QStringLiteral("UPPER CASE"));
    QCOMPARE(tree(windows.main, "ListView3").headerItem()->text(0), QStringLiteral("First 100 Entries (Preview)"));
  }

  void folderThatCannotBeReadIsReportedByTheLoad() {
    test::WindowHarness harness;
    const QString data = MakeClientFolders(harness);
    harness.fileSystem.listingFails = true;
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    const QStringList reports = harness.boxes.errorReports();
    QCOMPARE(WhereReported(reports),
             (QStringList{QStringLiteral("in Brennick2021/08/31.Form2.Form_Load at line 112"),
                          QStringLiteral("in Brennick2021/08/31.Form2.Listview1_Click at line 110"),
                          QStringLiteral("in Brennick2021/08/31.Form2.Listview1_Click at line 116")}));
    QCOMPARE(reports.first(), ErrorReportText(QStringLiteral("Permission denied: ") + data + QLatin1Char('/'),
                                              QStringLiteral("in Brennick2021/08/31.Form2.Form_Load "), 112));
    QCOMPARE(tree(windows.main, "ListView1").headerItem()->text(0), QStringLiteral("Table(s)"));
  }

  void previewThatCannotBeReadIsReportedOnceNotPerEntry() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("data"));
    // A field name that no statement can quote: the driver refuses the preview's query.
    WriteTable(data + QStringLiteral("/ODD.db"), {{"Odd`Name", pdx::FieldType::Alpha, 10}}, {{std::string("x")}});
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    QCOMPARE(texts(tree(windows.main, "ListView2")), QStringList{QStringLiteral("Odd`Name")});
    QCOMPARE(WhereReported(harness.boxes.errorReports()),
             (QStringList{QStringLiteral("in Brennick2021/08/31.Form2.Listview2_Click at line 110"),
                          QStringLiteral("in Brennick2021/08/31.Form2.Listview2_Click at line 118"),
                          QStringLiteral("in Brennick2021/08/31.Form2.Listview2_Click at line 130")}));
    QCOMPARE(tree(windows.main, "ListView3").topLevelItemCount(), 0);
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
  }

  void selectAndUnselectAllFields() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, 1);
    clickButton(windows.main, "PushButton2");
    QCOMPARE(fields.selectedItems().size(), 2);
    clickButton(windows.main, "PushButton2");
    QCOMPARE(fields.selectedItems().size(), 2);
    clickButton(windows.main, "PushButton3");
    QCOMPARE(fields.selectedItems().size(), 0);
    clickButton(windows.main, "PushButton3");
    QCOMPARE(fields.selectedItems().size(), 0);
    // The list's selected item, the one a run changes, stays where it was.
    QCOMPARE(fields.currentItem()->text(0), QStringLiteral("City"));
    QVERIFY(harness.boxes.shown.empty());
  }

  void selectAllOnAnEmptyFieldListDoesNothing() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, harness.folder(QStringLiteral("empty")));
    harness.boxes.shown.clear();
    clickButton(windows.main, "PushButton2");
    clickButton(windows.main, "PushButton3");
    QVERIFY(harness.boxes.shown.empty());
  }

  void backToTheSetupWindowAndForwardKeepsTheLists() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    clickRow(tree(windows.main, "ListView1"), 1);
    windows.main.findChild<QComboBox*>(QStringLiteral("Combo1"))->setCurrentIndex(2);
    clickButton(windows.main, "PushButton5");
    QVERIFY(windows.setup.isVisible());
    QVERIFY(!windows.main.isVisible());
    clickButton(windows.setup, "PushButton3");
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
    QCOMPARE(tree(windows.main, "ListView1").currentIndex().row(), 1);
    QCOMPARE(texts(tree(windows.main, "ListView2")), QStringList{QStringLiteral("Legacy")});
    QCOMPARE(texts(tree(windows.main, "ListView3")).size(), 2);
    auto* combo = windows.main.findChild<QComboBox*>(QStringLiteral("Combo1"));
    QCOMPARE(combo->count(), 4);
    QCOMPARE(combo->currentText(), QStringLiteral("Proper Case"));
    QVERIFY(harness.boxes.shown.empty());
  }

  void anotherFolderChosenMeanwhileIsListedWhenShownAgain() {
    test::WindowHarness harness;
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    const QString other = harness.folder(QStringLiteral("other"));
    WriteTable(other + QStringLiteral("/PARTS.db"), {{"Part", pdx::FieldType::Alpha, 10}}, {{std::string("bolt")}});
    clickButton(windows.main, "PushButton5");
    windows.setup.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(other);
    clickButton(windows.setup, "PushButton3");
    QCOMPARE(texts(tree(windows.main, "ListView1")), QStringList{QStringLiteral("PARTS")});
    QCOMPARE(texts(tree(windows.main, "ListView3")), QStringList{QStringLiteral("bolt")});
  }

  void hoverShowsTheHandButNeverReplacesTheHourglass() {
    test::WindowHarness harness;
    QVERIFY(test::WriteCursorFile(harness.programFolder + QStringLiteral("/HAND-M.CUR"), 6, 1));
    test::Windows windows(harness);
    StartOn(windows, harness, MakeClientFolders(harness));
    forms::Form2& form = windows.main;
    QVERIFY(form.hasMouseIcon());
    for (const char* button : {"PushButton1", "PushButton2", "PushButton3", "PushButton5"}) {
      form.setMousePointer(ui::PointerStyle::Default);
      QTest::mouseMove(form.findChild<QPushButton*>(QString::fromLatin1(button)));
      QCOMPARE(form.mousePointer(), ui::PointerStyle::Custom);
    }
    QTest::mouseMove(tree(form, "ListView3").viewport());
    QCOMPARE(form.mousePointer(), ui::PointerStyle::Default);
    QTest::mouseMove(form.findChild<QPushButton*>(QStringLiteral("PushButton1")), QPoint(3, 3));
    QTest::mouseMove(form.findChild<QGroupBox*>(QStringLiteral("Frame1")), QPoint(4, 4));
    QCOMPARE(form.mousePointer(), ui::PointerStyle::Default);
    form.setMousePointer(ui::PointerStyle::Hourglass);
    QTest::mouseMove(form.findChild<QPushButton*>(QStringLiteral("PushButton2")), QPoint(5, 5));
    QTest::mouseMove(tree(form, "ListView1").viewport(), QPoint(6, 6));
    QCOMPARE(form.mousePointer(), ui::PointerStyle::Hourglass);
  }

  void runOnACorpusTableChangesItOnDisk() {
    const QString corpus = QStringLiteral(ORLINTIDE_CORPUS_DIR "/tables/db");
    if (!QFileInfo::exists(corpus + QStringLiteral("/CUSTOMER.DB"))) QSKIP("the corpus is not here");
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = harness.folder(QStringLiteral("data"));
    for (const char* name : {"CUSTOMER.DB", "CUSTOMER.MB", "CUSTOMER.PX", "CUSTOMER.X06", "CUSTOMER.Y06"}) {
      const QString target = data + QLatin1Char('/') + QString::fromLatin1(name);
      QVERIFY(QFile::copy(corpus + QLatin1Char('/') + QString::fromLatin1(name), target));
      QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    }
    const QStringList before = ValuesOnDisk(data, QStringLiteral("CUSTOMER"), QStringLiteral("Street"));
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, static_cast<int>(texts(fields).indexOf(QStringLiteral("Street"))));
    QStringList preview = texts(tree(windows.main, "ListView3"));
    QCOMPARE(preview, before);

    auto* bar = windows.main.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QList<int> progress;
    QList<int> pointers;
    harness.pump.duringPump = [&] {
      progress << bar->value();
      pointers << windows.main.mousePointer();
    };
    clickButton(windows.main, "PushButton1");
    harness.pump.duringPump = nullptr;

    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QVERIFY(progress.contains(100));
    QVERIFY(std::is_sorted(progress.begin(), progress.begin() + progress.indexOf(100)));
    QVERIFY(pointers.contains(ui::PointerStyle::Hourglass));
    QCOMPARE(bar->value(), 0);
    QCOMPARE(bar->text(), QStringLiteral("Progress Bar"));
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
    QStringList upper;
    for (const QString& city : before) upper << city.toUpper();
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CUSTOMER"), QStringLiteral("Street")), upper);
    QCOMPARE(texts(tree(windows.main, "ListView3")), upper);
    QVERIFY(!windows.main.runInProgress());
  }

  void theTableListsMenuRestoresTheLastRunAndReadsTheTableAgain() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    const auto filesOf = [&] {
      QMap<QString, QByteArray> files;
      for (const QString& name : QDir(data).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(data + QLatin1Char('/') + name);
        if (file.open(QIODevice::ReadOnly)) files[name] = file.readAll();
      }
      return files;
    };
    const auto before = filesOf();
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    QTreeWidget& tables = tree(windows.main, "ListView1");
    const int position = tables.currentIndex().row() + 1;
    QCOMPARE(windows.main.tableHistoryMenu(position)->actions().size(), 1);
    QVERIFY(!windows.main.tableHistoryMenu(position)->actions().front()->isEnabled());

    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, static_cast<int>(texts(fields).indexOf(QStringLiteral("City"))));
    const QStringList previewBefore = texts(tree(windows.main, "ListView3"));
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QVERIFY(filesOf() != before);
    QCOMPARE(texts(tables).size(), 2);  // the history folder is no table

    const auto menu = windows.main.tableHistoryMenu(position);
    QCOMPARE(menu->actions().size(), 1);
    QAction* restore = menu->actions().front();
    QVERIFY(restore->text().startsWith(QStringLiteral("Restore CLIENTS as before the last case change (")));
    QVERIFY(restore->text().endsWith(QStringLiteral(", City, UPPER CASE)...")));
    harness.boxes.shown.clear();
    restore->trigger();
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("CLIENTS is restored.")});
    QCOMPARE(filesOf(), before);
    // The fields and the preview are read again: the first field's entries, as they were.
    QCOMPARE(texts(fields), (QStringList{QStringLiteral("Name"), QStringLiteral("City")}));
    QCOMPARE(texts(tree(windows.main, "ListView3")),
             ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name")).mid(0, 100));
    QVERIFY(previewBefore.contains(QStringLiteral("paris")));
    // The restore is itself an entry, the last change now.
    const auto after = windows.main.tableHistoryMenu(position);
    QCOMPARE(after->actions().size(), 3);  // the restore, a separator, the run
    QVERIFY(after->actions().front()->text().contains(QStringLiteral("undo of City")));
  }

  // The folder's walk takes in its sub-folders: a table there keeps its
  // history beside it, and its restore gives back every file byte for byte
  // without touching the table of the same name in the folder above.
  void aTableInASubFolderIsRestoredThereAndItsNamesakeAboveIsLeftAlone() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    const QString sub = data + QStringLiteral("/old");
    const auto above = FilesOf(data);
    const auto before = FilesOf(sub);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    QTreeWidget& tables = tree(windows.main, "ListView1");
    clickRow(tables, 1);
    QTreeWidget& fields = tree(windows.main, "ListView2");
    QCOMPARE(texts(fields), QStringList{QStringLiteral("Legacy")});
    clickRow(fields, 0);
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QVERIFY(FilesOf(sub) != before);
    QVERIFY(QFileInfo::exists(sub + QStringLiteral("/.orlintide-history")));
    QVERIFY(!QFileInfo::exists(data + QStringLiteral("/.orlintide-history")));

    const auto menu = windows.main.tableHistoryMenu(2);
    QVERIFY(menu->actions().front()->text().endsWith(QStringLiteral(", Legacy, UPPER CASE)...")));
    harness.boxes.shown.clear();
    menu->actions().front()->trigger();
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("CLIENTS is restored.")});
    QCOMPARE(FilesOf(sub), before);
    QCOMPARE(FilesOf(data), above);
    QCOMPARE(tables.currentIndex().row(), 1);
  }

  // Three runs leave three history entries beside the table, and another
  // user's history folder lies there too: none of their copies is listed
  // as a table, neither after the runs nor when the program starts again.
  void theHistoryFoldersCopiesAreNeverListedAsTables() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    QVERIFY(test::WriteFile(data + QStringLiteral("/.orlintide-history-1000/CLIENTS.db/000001/CLIENTS.db"),
                            FilesOf(data)[QStringLiteral("CLIENTS.db")]));
    const QStringList listed{QStringLiteral("CLIENTS"), QStringLiteral("CLIENTS")};  // data and data/old
    {
      test::Windows windows(harness);
      StartOn(windows, harness, data);
      QTreeWidget& fields = tree(windows.main, "ListView2");
      for (int run = 0; run < 3; ++run) {
        clickRow(fields, run % 2);
        clickButton(windows.main, "PushButton1");
      }
      QCOMPARE(harness.boxes.errorReports(), QStringList());
      QCOMPARE(harness.boxes.informs().size(), qsizetype{3});
      QCOMPARE(QDir(data + QStringLiteral("/.orlintide-history/CLIENTS.db")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
               qsizetype{3});
      QCOMPARE(texts(tree(windows.main, "ListView1")), listed);
    }
    test::Windows again(harness);
    StartOn(again, harness, data);
    QCOMPARE(texts(tree(again.main, "ListView1")), listed);
    QTreeWidget& tables = tree(again.main, "ListView1");
    for (int row = 0; row < tables.topLevelItemCount(); ++row)
      QVERIFY(!tables.topLevelItem(row)->data(0, Qt::UserRole).toString().contains(QStringLiteral(".orlintide-")));
  }

  void runWithEveryFieldSelectedChangesOnlyTheListsSelectedItem() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    const QStringList namesBefore = ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name"));
    const QStringList citiesBefore = ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("City"));
    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, 1);
    clickButton(windows.main, "PushButton2");
    QCOMPARE(fields.selectedItems().size(), 2);
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QStringList upper;
    for (const QString& city : citiesBefore) upper << city.toUpper();
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("City")), upper);
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name")), namesBefore);
  }

  void runChangesTheSameNamedTableOfTheChosenEntryOnly() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    const QString old = data + QStringLiteral("/old");
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    const auto topBefore = FilesOf(data);

    clickRow(tree(windows.main, "ListView1"), 1);
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.errorReports(), QStringList());
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(ValuesOnDisk(old, QStringLiteral("CLIENTS"), QStringLiteral("Legacy")),
             (QStringList{QStringLiteral("ANN O'NEIL"), QStringLiteral("BOB")}));
    QVERIFY(FilesOf(data) == topBefore);

    clickRow(tree(windows.main, "ListView1"), 0);
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.informs(), (QStringList{QStringLiteral("Done."), QStringLiteral("Done.")}));
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name")).mid(0, 3),
             (QStringList{QString(), QString(), QStringLiteral("SMITH 2")}));
    QCOMPARE(texts(tree(windows.main, "ListView3")).at(2), QStringLiteral("SMITH 2"));
  }

  void runInProgressTakesNoInputThatWouldLookLikeAChangeOfIt() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    QVERIFY(test::WriteCursorFile(harness.programFolder + QStringLiteral("/HAND-M.CUR"), 6, 1));
    const QString data = MakeClientFolders(harness);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    QTreeWidget& fields = tree(windows.main, "ListView2");
    clickRow(fields, 1);
    auto* combo = windows.main.findChild<QComboBox*>(QStringLiteral("Combo1"));
    bool tried = false;
    bool closed = true;
    int pointerWhileHovering = -1;
    QString choiceDuringRun;
    int fieldsSelectedDuringRun = -1;
    harness.pump.duringPump = [&] {
      if (tried || !windows.main.runInProgress()) return;
      tried = true;
      clickButton(windows.main, "PushButton1");
      clickButton(windows.main, "PushButton2");
      clickRow(tree(windows.main, "ListView1"), 1);
      clickRow(fields, 0);
      QTest::keyClick(&fields, Qt::Key_Up);
      QTest::keyClick(combo, Qt::Key_Down);
      QTest::mouseClick(combo, Qt::LeftButton);
      QTest::keyClick(combo, Qt::Key_Down);
      QTest::keyClick(combo, Qt::Key_Return);
      clickButton(windows.main, "PushButton3");
      clickButton(windows.main, "PushButton5");
      closed = windows.main.close();
      choiceDuringRun = combo->currentText();
      fieldsSelectedDuringRun = static_cast<int>(fields.selectedItems().size());
      QTest::mouseMove(windows.main.findChild<QPushButton*>(QStringLiteral("PushButton2")));
      pointerWhileHovering = windows.main.mousePointer();
    };
    clickButton(windows.main, "PushButton1");
    harness.pump.duringPump = nullptr;
    QVERIFY(tried);
    QVERIFY(!closed);
    QCOMPARE(choiceDuringRun, QStringLiteral("UPPER CASE"));
    QCOMPARE(fieldsSelectedDuringRun, 1);
    QCOMPARE(pointerWhileHovering, ui::PointerStyle::Hourglass);
    // Only closing asks for patience; the rest simply takes no input.
    QCOMPARE(harness.boxes.notices(), QStringList{QStringLiteral("Please wait until the case change has finished.")});
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QCOMPARE(harness.lifetime.ends, 0);
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
    QCOMPARE(tree(windows.main, "ListView1").currentIndex().row(), 0);
    QCOMPARE(fields.currentItem()->text(0), QStringLiteral("City"));
    // The one run changed the field it was started on, in the case shown.
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("City")).at(0), QStringLiteral("PARIS"));
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name")).at(2), QStringLiteral("smith 2"));
    // Once the run is over the window takes input again.
    clickButton(windows.main, "PushButton2");
    QCOMPARE(fields.selectedItems().size(), 2);
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(combo->currentText(), QStringLiteral("lower case"));
    clickRow(tree(windows.main, "ListView1"), 1);
    QCOMPARE(texts(fields), QStringList{QStringLiteral("Legacy")});
  }

  void runWithoutATableOrAFieldShownAsChosenChangesNoFile() {
    struct Situation {
      const char* name;
      std::function<void(test::Windows&)> arrange;
      QString message;
    };
    const std::vector<Situation> situations{
        {"after Unselect All Fields",
         [](test::Windows& windows) {
           clickRow(tree(windows.main, "ListView2"), 1);
           clickButton(windows.main, "PushButton3");
         },
         QStringLiteral("Please select a field.")},
        {"after a click below the table names",
         [](test::Windows& windows) {
           QTreeWidget& tables = tree(windows.main, "ListView1");
           clickRow(tree(windows.main, "ListView2"), 1);
           QTest::mouseClick(tables.viewport(), Qt::LeftButton, {}, QPoint(10, tables.viewport()->height() - 4));
         },
         QStringLiteral("Please select a table.")},
        {"with the table unselected",
         [](test::Windows& windows) {
           QTreeWidget& tables = tree(windows.main, "ListView1");
           QTest::mouseClick(tables.viewport(), Qt::LeftButton, Qt::ControlModifier,
                             tables.visualItemRect(tables.topLevelItem(0)).center());
         },
         QStringLiteral("Please select a table.")},
    };
    for (const Situation& situation : situations) {
      test::WindowHarness harness;
      QVERIFY(MakeScratchDatabase(harness.programFolder));
      const QString data = MakeClientFolders(harness);
      test::Windows windows(harness);
      StartOn(windows, harness, data);
      const auto before = AllFilesOf(harness.root.path());
      situation.arrange(windows);
      harness.boxes.shown.clear();
      clickButton(windows.main, "PushButton1");
      QVERIFY2(harness.boxes.informs() == QStringList{situation.message}, situation.name);
      QVERIFY2(harness.boxes.errorReports().isEmpty(), situation.name);
      QVERIFY2(AllFilesOf(harness.root.path()) == before, situation.name);
      QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
    }
  }

  void runInAFolderWithoutTablesAsksForATable() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    test::Windows windows(harness);
    StartOn(windows, harness, harness.folder(QStringLiteral("no tables")));
    const auto before = AllFilesOf(harness.root.path());
    harness.boxes.shown.clear();
    clickButton(windows.main, "PushButton1");
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Please select a table.")});
    QVERIFY(AllFilesOf(harness.root.path()) == before);
  }

  void aNoticeShownDuringARunDoesNotStopIt() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    // The notice is the real one on screen; everything else is recorded.
    NoticesOnScreen boxes(harness.boxes);
    test::Windows windows(forms::Services{harness.programFolder, harness.driveRoot, boxes, harness.settings,
                                          harness.dialog, harness.pump, harness.time, harness.fileSystem,
                                          harness.lifetime});
    StartOn(windows, harness, data);
    bool closed = true;
    double noticeShownAt = -1;
    harness.pump.duringPump = [&] {
      if (noticeShownAt >= 0 || !windows.main.runInProgress()) return;
      closed = windows.main.close();
      noticeShownAt = harness.time.now();
    };
    clickButton(windows.main, "PushButton1");
    harness.pump.duringPump = nullptr;
    QVERIFY(!closed);
    QVERIFY(noticeShownAt >= 0);
    // The run went through its pauses and ended while the notice stayed open.
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QVERIFY(harness.time.now() - noticeShownAt >= 1.4);
    QMessageBox* notice = OpenNotice();
    QVERIFY(notice != nullptr);
    QCOMPARE(notice->text(), QStringLiteral("Please wait until the case change has finished."));
    QVERIFY(!notice->isModal());
    QCOMPARE(ValuesOnDisk(data, QStringLiteral("CLIENTS"), QStringLiteral("Name")).at(2), QStringLiteral("SMITH 2"));
    notice->close();
  }

  void theBarRisesThroughStagingLoopAndWriteBack() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    auto* bar = windows.main.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
    QList<int> seen, duringWriteBack;
    harness.pump.duringPump = [&] {
      if (!windows.main.runInProgress()) return;
      seen << bar->value();
      // The write-back writes its new table under a hidden name beside the old one.
      if (!QDir(data).entryList({QStringLiteral(".orlintide-new.*")}, QDir::Files | QDir::Hidden).isEmpty())
        duringWriteBack << bar->value();
    };
    clickButton(windows.main, "PushButton1");
    harness.pump.duringPump = nullptr;
    QCOMPARE(harness.boxes.informs(), QStringList{QStringLiteral("Done.")});
    QVERIFY(!seen.isEmpty());
    QVERIFY(!duringWriteBack.isEmpty());
    QVERIFY2(std::is_sorted(seen.begin(), seen.end()), qPrintable(QString::number(seen.size())));
    QVERIFY(*std::min_element(seen.begin(), seen.end()) > 0);
    // The staging has a share of its own below the loop's, the write-back one above it.
    QVERIFY(seen.front() <= 20);
    QVERIFY(*std::min_element(duringWriteBack.begin(), duringWriteBack.end()) >= 80);
    QCOMPARE(seen.last(), 100);
    // Once the run is over the bar is empty again.
    QCOMPARE(bar->value(), 0);
  }

  void aSecondNextDuringALongWalkListsTheNewFolderOnly() {
    test::WindowHarness harness;
    const QString data = MakeClientFolders(harness);
    const QString other = harness.folder(QStringLiteral("other"));
    WriteTable(other + QStringLiteral("/PARTS.db"), {{"Part", pdx::FieldType::Alpha, 10}}, {{std::string("bolt")}});
    harness.settings.write(QStringLiteral("Database"), data);
    test::Windows windows(harness);
    bool wentBack = false;
    bool mainShownDuringWalk = false;
    int pointerDuringWalk = -1;
    harness.pump.duringPump = [&] {
      if (wentBack) return;
      wentBack = true;
      // The walk of the first folder is under way: the main window shows it is busy.
      mainShownDuringWalk = windows.main.isVisible();
      pointerDuringWalk = windows.main.mousePointer();
      clickButton(windows.main, "PushButton5");
      windows.setup.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(other);
      clickButton(windows.setup, "PushButton3");
    };
    windows.start();
    harness.pump.duringPump = nullptr;
    QVERIFY(wentBack);
    QVERIFY(mainShownDuringWalk);
    QCOMPARE(pointerDuringWalk, ui::PointerStyle::Hourglass);
    QVERIFY(windows.main.isVisible());
    QVERIFY(!windows.setup.isVisible());
    QCOMPARE(texts(tree(windows.main, "ListView1")), QStringList{QStringLiteral("PARTS")});
    QCOMPARE(texts(tree(windows.main, "ListView2")), QStringList{QStringLiteral("Part")});
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
    QVERIFY(harness.boxes.shown.empty());
  }

  void runOnATableThatFailsToStageIsReportedAndChangesNothing() {
    test::WindowHarness harness;
    QVERIFY(MakeScratchDatabase(harness.programFolder));
    const QString data = MakeClientFolders(harness);
    test::Windows windows(harness);
    StartOn(windows, harness, data);
    // The table goes away between its listing and the run.
    QVERIFY(QFile::remove(data + QStringLiteral("/CLIENTS.db")));
    const auto before = FilesOf(data);
    clickButton(windows.main, "PushButton1");
    const QStringList places = WhereReported(harness.boxes.errorReports());
    QVERIFY(!places.isEmpty());
    QCOMPARE(places.first(), QStringLiteral("in Brennick2021/08/31.Form2.PushButton1_Click at line 108"));
    QVERIFY(!harness.boxes.informs().contains(QStringLiteral("Done.")));
    QVERIFY(FilesOf(data) == before);
    QCOMPARE(windows.main.mousePointer(), ui::PointerStyle::Default);
    QVERIFY(!windows.main.runInProgress());
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
