#include "platform/ui/QtMessageBoxes.h"

#include <QApplication>
#include <QMessageBox>

namespace orl::ui {

namespace {

// None while no window of the program is active; the box then stands alone.
QWidget* owner() { return QApplication::activeWindow(); }

}  // namespace

void QtMessageBoxes::showErrorReport(const QString& text) {
  QMessageBox::warning(owner(), QStringLiteral("Application Error"), text, QMessageBox::Ok);
}

void QtMessageBoxes::inform(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, owner());
  box.exec();
}

bool QtMessageBoxes::askYesNo(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text,
                  QMessageBox::Yes | QMessageBox::No, owner());
  return box.exec() == QMessageBox::Yes;
}

}  // namespace orl::ui
