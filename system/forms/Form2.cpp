#include "system/forms/Form2.h"

#include "platform/ado/Connection.h"
#include "platform/ado/RecordSet.h"
#include "platform/ui/DropDown.h"
#include "platform/ui/EventPump.h"
#include "platform/ui/Frame.h"
#include "platform/ui/ListView.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/Pointer.h"
#include "platform/ui/ProgramLifetime.h"
#include "platform/ui/ProgressBar.h"
#include "platform/ui/PushButton.h"
#include "system/forms/Fonts.h"
#include "system/forms/Form1.h"
#include "system/main/ErrorReport.h"
#include "system/main/Look.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"
#include "system/paradox/TableListing.h"

#include <QGuiApplication>

#include <optional>

namespace orl::forms {
namespace {

const QString ListToolTip = QStringLiteral("Move | line to right and out of window to reveal full names.");
const QString WaitForRun = QStringLiteral("Please wait until the case change has finished.");
constexpr int PreviewEntries = 100;

QRect twips(int left, int top, int width, int height) {
  return QRect(ui::TwipsToPixels(left), ui::TwipsToPixels(top), ui::TwipsToPixels(width),
               ui::TwipsToPixels(height));
}

// An object that a failed step left uncreated fails each later use, as an unset object would.
template <class Object>
Object& created(std::optional<Object>& object) {
  if (!object) throw Error(ErrorNumber::ObjectNotSet, QStringLiteral("Object variable not set"));
  return *object;
}

// Item counts are looped over in signed 16 bits.
int sixteenBitCount(int count) {
  if (count > 32767) throw Error::overflow();
  return count;
}

}  // namespace

Form2::Form2(const Services& services, Form1& setupWindow)
    : ui::Window(QStringLiteral("Form2"), QSize(ui::TwipsToPixels(9240), ui::TwipsToPixels(7545)), Arial(9, true)),
      services_(services),
      setupWindow_(setupWindow),
      pushButton1_(place<ui::PushButton>(*this, QStringLiteral("PushButton1"), QStringLiteral("Start Changing Case"),
                                         twips(120, 6555, 4440, 405), Arial(11.25, true))),
      pushButton5_(place<ui::PushButton>(*this, QStringLiteral("PushButton5"),
                                         QStringLiteral("Setup Paradox Connection"), twips(4680, 6555, 4440, 405),
                                         Arial(9, true))),
      progressBar1_(place<ui::ProgressBar>(*this, QStringLiteral("ProgressBar1"), QStringLiteral("Progress Bar"),
                                           twips(120, 7080, 9000, 405), Arial(9, true))),
      listView1_(place<ui::ListView>(*this, QStringLiteral("ListView1"), twips(120, 120, 4440, 2715),
                                     Arial(9, true), ui::ListView::Selection::Single)),
      listView2_(place<ui::ListView>(*this, QStringLiteral("ListView2"), twips(4680, 120, 4440, 2235),
                                     Arial(9, true), ui::ListView::Selection::Several)),
      frame1_(place<ui::Frame>(*this, QStringLiteral("Frame1"),
                               QStringLiteral("Change all records in selected field(s) to:"),
                               twips(120, 5640, 9000, 800), Arial(9, true))),
      combo1_(place<ui::DropDown>(frame1_.container(), QStringLiteral("Combo1"), twips(240, 300, 8520, 345),
                                  Arial(9, true))),
      pushButton2_(place<ui::PushButton>(*this, QStringLiteral("PushButton2"), QStringLiteral("Select All Fields"),
                                         twips(4680, 2415, 2055, 405), Arial(9, true))),
      pushButton3_(place<ui::PushButton>(*this, QStringLiteral("PushButton3"),
                                         QStringLiteral("Unselect All Fields"), twips(6840, 2415, 2280, 405),
                                         Arial(9, true))),
      listView3_(place<ui::ListView>(*this, QStringLiteral("ListView3"), twips(120, 2895, 9000, 2715),
                                     Arial(9, true), ui::ListView::Selection::Single)) {
  for (ui::ListView* list : {&listView1_, &listView2_, &listView3_}) {
    list->setToolTipText(ListToolTip);
    connect(list, &ui::ListView::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
  }
  connect(&listView1_, &ui::ListView::clicked, this, &Form2::Listview1_Click);
  connect(&listView2_, &ui::ListView::clicked, this, &Form2::Listview2_Click);
  connect(&pushButton1_, &ui::PushButton::clicked, this, &Form2::PushButton1_Click);
  connect(&pushButton2_, &ui::PushButton::clicked, this, &Form2::PushButton2_Click);
  connect(&pushButton3_, &ui::PushButton::clicked, this, &Form2::PushButton3_Click);
  connect(&pushButton5_, &ui::PushButton::clicked, this, &Form2::PushButton5_Click);
  for (ui::PushButton* button : {&pushButton1_, &pushButton2_, &pushButton3_, &pushButton5_})
    connect(button, &ui::PushButton::mouseMoved, this, [this] { hover(ui::PointerStyle::Custom); });
  connect(this, &ui::Window::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
  connect(&frame1_, &ui::Frame::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
}

void Form2::load() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("Form_Load"),
                     services_.boxes);
  report.step(100, [&] { Main::SetFormColors(*this); });
  report.step(102, [&] { setIcon(QGuiApplication::windowIcon()); });
  const QString pointerFile = services_.programFolder + QStringLiteral("/HAND-M.CUR");
  if (report.test(106, [&] { return Main::PathExists(pointerFile); }))
    report.step(108, [&] { setMouseIcon(ui::LoadPointerFile(pointerFile)); });
  report.step(110, [&] { setCaption(Main::ProductTitle); });
  // A large folder takes a while to walk: the window shows meanwhile, busy.
  showWhileLoading();
  report.step(112, [&] { listTables(); });
  report.step(114, [&] { Listview1_Click(); });
  report.step(116, [&] { combo1_.addItem(QStringLiteral("UPPER CASE")); });
  report.step(118, [&] { combo1_.addItem(QStringLiteral("lower case")); });
  report.step(120, [&] { combo1_.addItem(QStringLiteral("Proper Case")); });
  report.step(122, [&] { combo1_.addItem(QStringLiteral("Sentence case")); });
  report.step(124, [&] { combo1_.setListIndex(0); });
  report.step(126, [&] { listView1_.addColumn(QStringLiteral("Table(s)")); });
  report.step(128, [&] { listView1_.setColumnWidth(4000); });
  report.step(130, [&] { listView2_.addColumn(QStringLiteral("Field(s)")); });
  report.step(132, [&] { listView2_.setColumnWidth(4000); });
  report.step(134, [&] { listView3_.addColumn(QStringLiteral("First 100 Entries (Preview)")); });
  report.step(136, [&] { listView3_.setColumnWidth(8000); });
}

void Form2::showingAgain() {
  // The lists stay as they were unless the setup window now names another
  // folder; then they show that folder's tables.
  if (setupWindow_.folderText() == listedFolderText_) return;
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("Form_Activate"),
                     services_.boxes);
  report.step(100, [&] { listTables(); });
  report.step(102, [&] { Listview1_Click(); });
}

void Form2::listTables() {
  const int listing = ++listings_;
  listedFolderText_ = setupWindow_.folderText();
  setMousePointer(ui::PointerStyle::Hourglass);
  // Also when the walk fails, the pointer is not left busy.
  struct PointerBack {
    ~PointerBack() { window.setMousePointer(ui::PointerStyle::Default); }
    Form2& window;
  } pointerBack{*this};
  Paradox::ListParadoxTables(listView1_, listedFolderText_, services_.fileSystem, services_.pump, services_.boxes,
                             [this, listing] { return listing == listings_; });
}

QString Form2::selectedTableFolder() const {
  return listView1_.count() == 0 ? setupWindow_.folderText() : listView1_.selectedItemFolder();
}

void Form2::Listview1_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("Listview1_Click"),
                     services_.boxes);
  std::optional<ado::Connection> connection;
  std::optional<ado::RecordSet> records;
  report.step(100, [&] { connection.emplace(); });
  report.step(102, [&] { records.emplace(); });
  report.step(104, [&] { setMousePointer(ui::PointerStyle::Hourglass); });
  report.step(106, [&] { created(connection).setMode(ado::adModeReadWrite); });
  report.step(108, [&] { created(connection).open(Paradox::ParadoxConnectionString(selectedTableFolder())); });
  report.step(110, [&] {
    created(records).open(QStringLiteral("SELECT * FROM `") + listView1_.selectedItemText() + QStringLiteral("`"),
                          created(connection), ado::adOpenStatic, ado::adLockOptimistic);
  });
  report.step(112, [&] { listView2_.clear(); });
  report.step(114, [&] { listView3_.clear(); });
  int fieldCount = 0;
  report.step(116, [&] { fieldCount = created(records).fields().count(); });
  for (int i = 0; i < fieldCount; ++i) {
    report.step(118, [&] { services_.pump.pumpOnce(); });
    report.step(120, [&] { listView2_.add(created(records).fields().item(i).name()); });
  }
  report.step(124, [&] { setMousePointer(ui::PointerStyle::Default); });
  report.step(126, [&] { created(connection).close(); });
  if (report.test(128, [&] { return listView2_.count() >= 1; })) Listview2_Click();
}

void Form2::Listview2_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("Listview2_Click"),
                     services_.boxes);
  std::optional<ado::Connection> connection;
  std::optional<ado::RecordSet> records;
  report.step(100, [&] { connection.emplace(); });
  report.step(102, [&] { records.emplace(); });
  report.step(104, [&] { setMousePointer(ui::PointerStyle::Hourglass); });
  report.step(106, [&] { created(connection).setMode(ado::adModeReadWrite); });
  report.step(108, [&] { created(connection).open(Paradox::ParadoxConnectionString(selectedTableFolder())); });
  report.step(110, [&] {
    created(records).open(QStringLiteral("SELECT `") + listView2_.selectedItemText() + QStringLiteral("` FROM `") +
                              listView1_.selectedItemText() + QStringLiteral("`"),
                          created(connection), ado::adOpenStatic, ado::adLockOptimistic);
  });
  report.step(112, [&] { listView3_.clear(); });
  int entries = 0;
  report.step(114, [&] { entries = 0; });
  report.step(116, [&] { services_.pump.pumpOnce(); });
  for (;;) {
    // A record set that can't say where it stands is reported once and ends
    // the preview, rather than failing every pass up to the hundredth.
    bool atEnd = true;
    if (!report.step(118, [&] { atEnd = created(records).eof(); }) || atEnd) break;
    report.step(120, [&] { services_.pump.pumpOnce(); });
    report.step(122, [&] {
      const ado::Value value = created(records).fields().item(0).value();
      listView3_.add(Main::NullToDefault(value, ado::Value::text(QString())).toText());
    });
    report.step(124, [&] { created(records).moveNext(); });
    report.step(126, [&] { ++entries; });
    if (report.test(128, [&] { return entries >= PreviewEntries; })) break;
  }
  report.step(130, [&] { created(records).close(); });
  report.step(132, [&] { setMousePointer(ui::PointerStyle::Default); });
}

void Form2::PushButton1_Click() {
  // The button takes no click during a run; a call from elsewhere is ignored as well.
  if (runInProgress_) return;
  struct RunInProgress {
    explicit RunInProgress(Form2& window) : window_(window) { window_.holdForRun(true); }
    ~RunInProgress() { window_.holdForRun(false); }
    Form2& window_;
  } inProgress(*this);
  Run::RunServices run{services_.boxes, services_.pump, services_.clock, services_.programFolder};
  Run::PushButton1_Click(runView_, run);
}

void Form2::holdForRun(bool held) {
  runInProgress_ = held;
  listView1_.setInputHeld(held);
  listView2_.setInputHeld(held);
  combo1_.setEnabled(!held);
  for (ui::PushButton* button : {&pushButton1_, &pushButton2_, &pushButton3_, &pushButton5_})
    button->setEnabled(!held);
}

bool Form2::RunView::tableShownSelected() const { return window_.listView1_.showsSelectedItem(); }

bool Form2::RunView::fieldShownSelected() const { return window_.listView2_.showsSelectedItem(); }

QString Form2::RunView::selectedTable() const { return window_.listView1_.selectedItemText(); }

QString Form2::RunView::selectedTableFolder() const { return window_.listView1_.selectedItemFolder(); }

QString Form2::RunView::selectedField() const { return window_.listView2_.selectedItemText(); }

QString Form2::RunView::caseChoice() const { return window_.combo1_.text(); }

ui::ListItems& Form2::RunView::preview() { return window_.listView3_; }

void Form2::RunView::setProgressValue(double percent) { window_.progressBar1_.setValue(percent); }

void Form2::RunView::setProgressText(const QString& text) { window_.progressBar1_.setText(text); }

void Form2::RunView::setMousePointer(int style) { window_.setMousePointer(style); }

void Form2::PushButton2_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton2_Click"),
                     services_.boxes);
  int count = 0;
  report.step(100, [&] { count = sixteenBitCount(listView2_.count()); });
  for (int i = 1; i <= count; ++i) report.step(102, [&] { listView2_.setSelected(i, true); });
}

void Form2::PushButton3_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton3_Click"),
                     services_.boxes);
  int count = 0;
  report.step(100, [&] { count = sixteenBitCount(listView2_.count()); });
  for (int i = 1; i <= count; ++i) report.step(102, [&] { listView2_.setSelected(i, false); });
}

void Form2::PushButton5_Click() {
  // Going back would let the folder change, or the program end, in the middle of a run.
  if (runInProgress_) return;
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton5_Click"),
                     services_.boxes);
  report.step(100, [&] { setupWindow_.showModeless(); });
  report.step(102, [&] { hideWindow(); });
}

bool Form2::mayUnload() {
  if (!runInProgress_) return true;
  // The run goes on while the notice is shown.
  services_.boxes.notify(WaitForRun);
  return false;
}

void Form2::unload() { services_.lifetime.endProgram(); }

void Form2::hover(int style) {
  if (mousePointer() != ui::PointerStyle::Hourglass) setMousePointer(style);
}

}  // namespace orl::forms
