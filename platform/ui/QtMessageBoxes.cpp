#include "platform/ui/QtMessageBoxes.h"

#include "platform/ui/ApplicationTitle.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace orl::ui {
namespace {

// Room the title bar takes besides the title: the window's icon and its buttons.
constexpr int TitleBarFrame = 160;

// A box sizes itself to its text alone; a short text ("Done.") would cut
// its title. A spacer across the box's grid keeps it as wide as the title.
void FitTitle(QMessageBox& box) {
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  const int width = QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) + TitleBarFrame;
  grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                grid->columnCount());
}

QMessageBox* MakeBox(QMessageBox::Icon icon, const QString& title, const QString& text,
                     QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(icon, title, text, buttons, MessageBoxOwner());
  FitTitle(*box);
  return box;
}

int Ask(QMessageBox::Icon icon, const QString& title, const QString& text, QMessageBox::StandardButtons buttons) {
  QMessageBox* box = MakeBox(icon, title, text, buttons);
  const int answer = box->exec();
  delete box;
  return answer;
}

}  // namespace

QWidget* MessageBoxOwner() {
  if (QWidget* active = QApplication::activeWindow()) return active;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->isVisible() && qobject_cast<QMessageBox*>(widget) == nullptr) return widget;
  return nullptr;
}

void QtMessageBoxes::showErrorReport(const QString& text) {
  Ask(QMessageBox::Warning, QStringLiteral("Application Error"), text, QMessageBox::Ok);
}

void QtMessageBoxes::inform(const QString& text) {
  Ask(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
}

void QtMessageBoxes::notify(const QString& text) {
  if (notice_ && notice_->text() == text) {
    notice_->raise();
    notice_->activateWindow();
    return;
  }
  notice_ = MakeBox(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok);
  notice_->setAttribute(Qt::WA_DeleteOnClose);
  notice_->setWindowModality(Qt::NonModal);
  notice_->show();
}

bool QtMessageBoxes::askYesNo(const QString& text) {
  return Ask(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace orl::ui
