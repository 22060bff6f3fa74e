// The table list's naming rules and kept folders, the folder test behind
// "Test Connection", and the offer to work in a folder without spaces.
#include "platform/common/Error.h"
#include "platform/ui/ListView.h"
#include "platform/ui/TextBox.h"
#include "system/paradox/SpaceFreeFolder.h"
#include "system/paradox/TableListing.h"
#include "tests/forms/WindowHarness.h"
#include "tests/support/TableFiles.h"

#include <QTest>
#include <QTreeWidget>

#include <unistd.h>

using namespace orl;

namespace {

QStringList textsOf(ui::ListView& list) {
  QStringList texts;
  for (int position = 1; position <= list.count(); ++position) texts << list.text(position);
  return texts;
}

const QString Question = QStringLiteral(
    "In some cases the software needs to use a folder without spaces.\r\nIs it OK to create the folder %1 and put "
    "%2 db files in it?");

}  // namespace

class TablesAndFoldersTest : public QObject {
  Q_OBJECT

 private slots:
  void tableNamesAreUpperCasedWithEveryDbRemoved() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("data"));
    for (const char* name : {"orders.db", "Orders.DB", "ORDERS.Db", "A.DB.BAK.db", "~Orders.db", "Orders~.db",
                             ".hidden.db", "notes.txt", "parts.dbf"})
      QVERIFY(test::WriteFile(data + QLatin1Char('/') + QString::fromLatin1(name)));
    QDir().mkpath(data + QStringLiteral("/x.db"));
    QWidget container;
    ui::ListView list(container, QStringLiteral("ListView1"), QRect(), QFont(), ui::ListView::Selection::Single);
    list.add(QStringLiteral("left over"));
    Paradox::ListParadoxTables(list, data, harness.fileSystem, harness.pump, harness.boxes);
    QStringList texts = textsOf(list);
    texts.sort();
    QCOMPARE(texts, (QStringList{QStringLiteral(".HIDDEN"), QStringLiteral("A.BAK"), QStringLiteral("ORDERS"),
                                 QStringLiteral("ORDERS"), QStringLiteral("ORDERS"), QStringLiteral("ORDERS~")}));
    QVERIFY(harness.boxes.shown.empty());
  }

  void linksToFoldersAboveTheChosenOneAddNoTablesFromOutsideIt() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("outer/data"));
    QVERIFY(test::WriteFile(harness.root.filePath(QStringLiteral("outer/OUTSIDE.db"))));
    QVERIFY(test::WriteFile(harness.root.filePath(QStringLiteral("outer/beside/BESIDE.db"))));
    QVERIFY(test::WriteFile(data + QStringLiteral("/INSIDE.db")));
    QVERIFY(QFile::link(QStringLiteral(".."), data + QStringLiteral("/up")));
    QVERIFY(QFile::link(harness.root.path(), data + QStringLiteral("/top")));
    QWidget container;
    ui::ListView list(container, QStringLiteral("ListView1"), QRect(), QFont(), ui::ListView::Selection::Single);
    Paradox::ListParadoxTables(list, data, harness.fileSystem, harness.pump, harness.boxes);
    QCOMPARE(textsOf(list), QStringList{QStringLiteral("INSIDE")});
    QVERIFY(harness.boxes.shown.empty());
  }

  void eachEntryKeepsTheFolderItsTableLiesIn() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("data"));
    harness.folder(QStringLiteral("data/b/deeper"));
    QVERIFY(test::WriteFile(data + QStringLiteral("/Orders.db")));
    QVERIFY(test::WriteFile(data + QStringLiteral("/a/Orders.db")));
    QVERIFY(test::WriteFile(data + QStringLiteral("/b/deeper/Parts.db")));
    QVERIFY(test::WriteFile(data + QStringLiteral("/b/Clients.db")));
    QWidget container;
    ui::ListView list(container, QStringLiteral("ListView1"), QRect(), QFont(), ui::ListView::Selection::Single);
    Paradox::ListParadoxTables(list, data, harness.fileSystem, harness.pump, harness.boxes);
    // Breadth first: the folder itself, then a and b, then b/deeper.
    QCOMPARE(textsOf(list), (QStringList{QStringLiteral("ORDERS"), QStringLiteral("ORDERS"),
                                         QStringLiteral("CLIENTS"), QStringLiteral("PARTS")}));
    QCOMPARE(list.selectedItemFolder(), data);
    QTreeWidget* tree = container.findChild<QTreeWidget*>(QStringLiteral("ListView1"));
    QStringList folders;
    for (int row = 0; row < tree->topLevelItemCount(); ++row) {
      tree->setCurrentItem(tree->topLevelItem(row));
      folders << list.selectedItemFolder();
    }
    QCOMPARE(folders, (QStringList{data, data + QStringLiteral("/a"), data + QStringLiteral("/b"),
                                   data + QStringLiteral("/b/deeper")}));
  }

  void anInterruptedReplacementIsPutRightBeforeTheTablesAreListed() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("data"));
    // Killed after the old family went aside and before the new one came
    // in: the journal says the new table is whole, so it takes its place.
    QVERIFY(test::WriteFile(data + QStringLiteral("/.orlintide-old.ORDERS.db")));
    test::WriteTable(data + QStringLiteral("/.orlintide-new.ORDERS.db"), {{"Name", pdx::FieldType::Alpha, 10}}, {});
    QFile journal(data + QStringLiteral("/.orlintide-replace.ORDERS.db"));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write("orlintide family replacement 1\nold ORDERS.db\nnew ORDERS.db\nend\n");
    journal.close();
    // A staged table of another run that never committed goes.
    QVERIFY(test::WriteFile(data + QStringLiteral("/.orlintide-new.PARTS.db")));
    QVERIFY(test::WriteFile(data + QStringLiteral("/PARTS.db")));
    QWidget container;
    ui::ListView list(container, QStringLiteral("ListView1"), QRect(), QFont(), ui::ListView::Selection::Single);
    Paradox::ListParadoxTables(list, data, harness.fileSystem, harness.pump, harness.boxes);
    QStringList texts = textsOf(list);
    texts.sort();
    QCOMPARE(texts, (QStringList{QStringLiteral("ORDERS"), QStringLiteral("PARTS")}));
    QCOMPARE(QDir(data).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{QStringLiteral("ORDERS.db"), QStringLiteral("PARTS.db")}));
    QVERIFY(harness.boxes.notices().isEmpty());

    // A journal somebody else put there is left alone, and the listing says so, naming it.
    if (::geteuid() != 0) QSKIP("only the super-user can give a file to somebody else");
    const QString planted = data + QStringLiteral("/.orlintide-replace.PARTS.db");
    QVERIFY(test::WriteFile(planted, "orlintide family replacement 1\nold PARTS.db\nnew PARTS.db\nend\n"));
    QCOMPARE(::chown(planted.toUtf8().constData(), 65534, 65534), 0);
    Paradox::ListParadoxTables(list, data, harness.fileSystem, harness.pump, harness.boxes);
    QCOMPARE(harness.boxes.notices().size(), 1);
    QVERIFY2(harness.boxes.notices().front().contains(QStringLiteral("\"%1\" (owned by another user)").arg(planted)),
             qPrintable(harness.boxes.notices().front()));
    QVERIFY(QFile::exists(planted));
  }

  void folderTextIsUsedAsTyped() {
    test::WindowHarness harness;
    const QString data = harness.folder(QStringLiteral("data"));
    QVERIFY(test::WriteFile(data + QStringLiteral("/sub/Orders.db")));
    QWidget container;
    ui::ListView list(container, QStringLiteral("ListView1"), QRect(), QFont(), ui::ListView::Selection::Single);
    Paradox::ListParadoxTables(list, data + QLatin1Char('/'), harness.fileSystem, harness.pump, harness.boxes);
    QCOMPARE(textsOf(list), QStringList{QStringLiteral("ORDERS")});
    QCOMPARE(list.selectedItemFolder(), data + QStringLiteral("//sub"));

    Paradox::ListParadoxTables(list, QString(), harness.fileSystem, harness.pump, harness.boxes);
    QCOMPARE(list.count(), 0);
    Paradox::ListParadoxTables(list, harness.folder(QStringLiteral("empty")), harness.fileSystem, harness.pump,
                               harness.boxes);
    QCOMPARE(list.count(), 0);
    QVERIFY(harness.boxes.shown.empty());
  }

  void folderHasTablesCountsHiddenFilesButNotFolders() {
    test::WindowHarness harness;
    QVERIFY(!Paradox::FolderHasTables(QString(), harness.fileSystem));
    QVERIFY(!Paradox::FolderHasTables(harness.root.filePath(QStringLiteral("missing")), harness.fileSystem));
    const QString onlyFolder = harness.folder(QStringLiteral("onlyfolder"));
    QDir().mkpath(onlyFolder + QStringLiteral("/x.db"));
    QVERIFY(!Paradox::FolderHasTables(onlyFolder, harness.fileSystem));
    const QString dotFile = harness.folder(QStringLiteral("dotfile"));
    QVERIFY(test::WriteFile(dotFile + QStringLiteral("/.secret.DB")));
    QVERIFY(Paradox::FolderHasTables(dotFile, harness.fileSystem));
    // Tables of sub-folders don't count for the folder itself.
    QVERIFY(test::WriteFile(onlyFolder + QStringLiteral("/sub/Orders.db")));
    QVERIFY(!Paradox::FolderHasTables(onlyFolder, harness.fileSystem));
  }

  void noQuestionWithoutAnInnerSpace() {
    test::WindowHarness harness;
    QWidget container;
    ui::TextBox box(container, QStringLiteral("Text1"), QRect(), QFont());
    for (const QString& text : {QString(), harness.folder(QStringLiteral("plain")),
                                QStringLiteral("  ") + harness.folder(QStringLiteral("padded")) + QStringLiteral(" ")}) {
      box.setText(text);
      Paradox::OfferSpaceFreeFolder(false, box, harness.driveRoot, harness.fileSystem, harness.boxes);
      QCOMPARE(box.text(), text);
    }
    QVERIFY(harness.boxes.shown.empty());
    QVERIFY(!QFileInfo::exists(harness.driveRoot + QStringLiteral("TestDB")));
  }

  void answeredNoChangesNothing() {
    test::WindowHarness harness;
    const QString spaced = harness.folder(QStringLiteral("My Tables"));
    QWidget container;
    ui::TextBox box(container, QStringLiteral("Text1"), QRect(), QFont());
    box.setText(spaced);
    harness.boxes.answers = {false};
    Paradox::OfferSpaceFreeFolder(true, box, harness.driveRoot, harness.fileSystem, harness.boxes);
    QCOMPARE(harness.boxes.questions(),
             QStringList{Question.arg(harness.driveRoot + QStringLiteral("TestDB"), QStringLiteral("sample"))});
    QCOMPARE(box.text(), spaced);
    QVERIFY(!QFileInfo::exists(harness.driveRoot + QStringLiteral("TestDB")));
  }

  void answeredYesCopiesIntoTestDbAndMerges() {
    test::WindowHarness harness;
    const QString spaced = harness.folder(QStringLiteral("My Tables"));
    QVERIFY(test::WriteFile(spaced + QStringLiteral("/Orders.db"), "new orders"));
    QVERIFY(test::WriteFile(spaced + QStringLiteral("/old/Parts.db"), "parts"));
    const QString target = harness.driveRoot + QStringLiteral("TestDB");
    QVERIFY(test::WriteFile(target + QStringLiteral("/Orders.db"), "old orders"));
    QVERIFY(test::WriteFile(target + QStringLiteral("/Clients.db"), "clients"));
    QWidget container;
    ui::TextBox box(container, QStringLiteral("Text1"), QRect(), QFont());
    box.setText(spaced);
    harness.boxes.answers = {true};
    Paradox::OfferSpaceFreeFolder(false, box, harness.driveRoot, harness.fileSystem, harness.boxes);
    QCOMPARE(harness.boxes.questions(), QStringList{Question.arg(target, QStringLiteral("Your"))});
    QCOMPARE(box.text(), target);
    QFile orders(target + QStringLiteral("/Orders.db"));
    QVERIFY(orders.open(QIODevice::ReadOnly));
    QCOMPARE(orders.readAll(), QByteArray("new orders"));
    QVERIFY(QFileInfo::exists(target + QStringLiteral("/old/Parts.db")));
    QVERIFY(QFileInfo::exists(target + QStringLiteral("/Clients.db")));
    QVERIFY(!QFileInfo::exists(target + QStringLiteral("/My Tables")));
  }

  void missingSourceFailsAfterTestDbIsMade() {
    test::WindowHarness harness;
    const QString missing = harness.root.filePath(QStringLiteral("Gone Away"));
    QWidget container;
    ui::TextBox box(container, QStringLiteral("Text1"), QRect(), QFont());
    box.setText(missing);
    harness.boxes.answers = {true};
    bool raised = false;
    try {
      Paradox::OfferSpaceFreeFolder(false, box, harness.driveRoot, harness.fileSystem, harness.boxes);
    } catch (const Error&) {
      raised = true;
    }
    QVERIFY(raised);
    QCOMPARE(box.text(), missing);
    QVERIFY(QFileInfo(harness.driveRoot + QStringLiteral("TestDB")).isDir());
  }

  void aFolderHoldingTestDbIsNotCopiedIntoItself() {
    test::WindowHarness harness;
    // The program's drive root itself has a space, and is the folder offered.
    const QString spacedRoot = harness.folder(QStringLiteral("my drive"));
    QVERIFY(test::WriteFile(spacedRoot + QStringLiteral("/Orders.db")));
    QWidget container;
    ui::TextBox box(container, QStringLiteral("Text1"), QRect(), QFont());
    box.setText(spacedRoot);
    harness.boxes.answers = {true};
    int number = 0;
    try {
      Paradox::OfferSpaceFreeFolder(false, box, spacedRoot + QLatin1Char('/'), harness.fileSystem, harness.boxes);
    } catch (const Error& error) {
      number = error.number();
    }
    QCOMPARE(number, ErrorNumber::PermissionDenied);
    QCOMPARE(box.text(), spacedRoot);
    QVERIFY(!QFileInfo::exists(spacedRoot + QStringLiteral("/TestDB")));
  }
};

QTEST_MAIN(TablesAndFoldersTest)
#include "TablesAndFoldersTest.moc"
