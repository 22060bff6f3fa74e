#include "system/forms/Form1.h"

#include "platform/ui/Frame.h"
#include "platform/ui/Label.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/Pointer.h"
#include "platform/ui/ProgramLifetime.h"
#include "platform/ui/PushButton.h"
#include "platform/ui/SettingsStore.h"
#include "platform/ui/TextBox.h"
#include "system/addfolder/BrowseForFolder.h"
#include "system/forms/Fonts.h"
#include "system/main/ErrorReport.h"
#include "system/main/Look.h"
#include "system/main/Main.h"
#include "system/paradox/SpaceFreeFolder.h"
#include "system/paradox/TableListing.h"

#include <QGuiApplication>

namespace orl::forms {
namespace {

const QString DatabaseKey = QStringLiteral("Database");
const QString LastFolderDotKey = QStringLiteral("LastFolderDot");
const ui::BackColor DesignWhite = ui::BackColor::fixed(QColor(255, 255, 255));

}  // namespace

Form1::Form1(const Services& services)
    : ui::Window(QStringLiteral("Form1"), QSize(536, 144), Arial(9, false)),
      services_(services),
      frame1_(place<ui::Frame>(*this, QStringLiteral("Frame1"), QStringLiteral("Paradox Database"),
                               QRect(8, 8, 520, 94), Arial(9, true))),
      label2_(place<ui::Label>(frame1_.container(), QStringLiteral("Label2"), QStringLiteral("Paradox Folder:"),
                               QRect(16, 27, 97, 17), Arial(9, true))),
      text1_(place<ui::TextBox>(frame1_.container(), QStringLiteral("Text1"), QRect(112, 24, 353, 23),
                                Arial(9, true))),
      pushButton5_(place<ui::PushButton>(frame1_.container(), QStringLiteral("PushButton5"), QStringLiteral("..."),
                                         QRect(472, 24, 32, 23), Arial(11.25, true))),
      pushButton1_(place<ui::PushButton>(frame1_.container(), QStringLiteral("PushButton1"),
                                         QStringLiteral("Load Sample/Example Database"), QRect(16, 56, 240, 27),
                                         Arial(11.25, true))),
      pushButton2_(place<ui::PushButton>(frame1_.container(), QStringLiteral("PushButton2"),
                                         QStringLiteral("Test Connection"), QRect(264, 56, 240, 27),
                                         Arial(11.25, true))),
      pushButton3_(place<ui::PushButton>(*this, QStringLiteral("PushButton3"), QStringLiteral("Next >"),
                                         QRect(8, 109, 520, 27), Arial(11.25, true))) {
  setBackColor(DesignWhite);
  frame1_.setBackColor(DesignWhite);
  label2_.setBackColor(DesignWhite);

  connect(&pushButton5_, &ui::PushButton::clicked, this, &Form1::PushButton5_Click);
  connect(&pushButton1_, &ui::PushButton::clicked, this, &Form1::PushButton1_Click);
  connect(&pushButton2_, &ui::PushButton::clicked, this, &Form1::PushButton2_Click);
  connect(&pushButton3_, &ui::PushButton::clicked, this, &Form1::PushButton3_Click);
  connect(&text1_, &ui::TextBox::changed, this, &Form1::Text1_Change);
  connect(&text1_, &ui::TextBox::gotFocus, this, &Form1::Text1_GotFocus);
  for (ui::PushButton* button : {&pushButton5_, &pushButton1_, &pushButton2_, &pushButton3_})
    connect(button, &ui::PushButton::mouseMoved, this, [this] { hover(ui::PointerStyle::Custom); });
  connect(this, &ui::Window::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
  connect(&frame1_, &ui::Frame::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
  connect(&text1_, &ui::TextBox::mouseMoved, this, [this] { hover(ui::PointerStyle::Default); });
}

QString Form1::folderText() const { return text1_.text(); }

void Form1::load() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("Form_Load"),
                     services_.boxes);
  report.step(100, [&] { Main::ApplySkin(*this, skinFramework1_, services_.programFolder); });
  report.step(104, [&] { setCaption(Main::ProductTitle); });
  report.step(104, [&] { setIcon(QGuiApplication::windowIcon()); });
  report.step(104, [&] { Main::SetApplicationTitle(); });
  const QString pointerFile = services_.programFolder + QStringLiteral("/HAND-M.CUR");
  if (report.test(124, [&] { return Main::PathExists(pointerFile); }))
    report.step(126, [&] { setMouseIcon(ui::LoadPointerFile(pointerFile)); });
  report.step(128, [&] { text1_.setText(services_.settings.read(DatabaseKey, QString())); });
  if (report.test(130, [&] { return Main::PathExists(text1_.text()); })) {
    report.step(132, [&] { mainWindow().showModeless(); });
    report.step(134, [&] { hideWindow(); });
  }
}

ui::Window& Form1::mainWindow() {
  if (mainWindow_ == nullptr)
    throw Error(ErrorNumber::InternalError, QStringLiteral("The setup window has no main window to show"));
  return *mainWindow_;
}

void Form1::unload() { services_.lifetime.endProgram(); }

void Form1::offerSpaceFreeFolder(bool sample) {
  Paradox::OfferSpaceFreeFolder(sample, text1_, services_.programDriveRoot, services_.fileSystem,
                                services_.boxes);
}

void Form1::PushButton5_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("PushButton5_Click"),
                     services_.boxes);
  QString browseStartFolder;
  QString chosen;
  report.step(100, [&] { browseStartFolder = services_.settings.read(LastFolderDotKey, QString()); });
  report.step(100, [&] {
    chosen = AddFolder::BrowseForFolder(services_.folderDialog, handle(), QStringLiteral("Please select folder:"),
                                        browseStartFolder);
  });
  if (report.test(102, [&] { return chosen.isEmpty(); })) return;
  report.step(104, [&] { text1_.setText(chosen); });
  report.step(106, [&] { offerSpaceFreeFolder(false); });
}

void Form1::PushButton1_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("PushButton1_Click"),
                     services_.boxes);
  report.step(100, [&] { text1_.setText(services_.programFolder + QStringLiteral("/Samples")); });
  report.step(102, [&] { offerSpaceFreeFolder(true); });
}

void Form1::PushButton2_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("PushButton2_Click"),
                     services_.boxes);
  report.step(102, [&] { offerSpaceFreeFolder(false); });
  report.step(104, [&] { setMousePointer(ui::PointerStyle::Hourglass); });
  // A test that fails is reported and then counts as no tables found, so a
  // folder that can't be listed is never announced as a working connection.
  bool hasTables = false;
  report.step(106, [&] { hasTables = Paradox::FolderHasTables(text1_.text(), services_.fileSystem); });
  if (hasTables)
    report.step(108, [&] { services_.boxes.inform(QStringLiteral("Connection successful.")); });
  else
    report.step(110, [&] { services_.boxes.inform(QStringLiteral("Could not connect.")); });
  report.step(112, [&] { setMousePointer(ui::PointerStyle::Default); });
}

void Form1::PushButton3_Click() {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("PushButton3_Click"),
                     services_.boxes);
  report.step(100, [&] { offerSpaceFreeFolder(false); });
  if (report.test(102, [&] { return Main::PathExists(text1_.text()); })) {
    report.step(104, [&] { mainWindow().showModeless(); });
    report.step(106, [&] { hideWindow(); });
  }
}

void Form1::Text1_Change() { services_.settings.write(DatabaseKey, text1_.text()); }

void Form1::Text1_GotFocus() {
  text1_.setSelStart(0);
  text1_.setSelLength(static_cast<int>(text1_.text().size()));
}

void Form1::hover(int style) {
  if (mousePointer() != ui::PointerStyle::Hourglass) setMousePointer(style);
}

}  // namespace orl::forms
