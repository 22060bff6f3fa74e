#include "platform/ui/QtMessageBoxes.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace orl::ui {

void QtMessageBoxes::showErrorReport(const QString& text) {
  QMessageBox::warning(parent_, QStringLiteral("Application Error"), text, QMessageBox::Ok);
}

void QtMessageBoxes::inform(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Ok, parent_);
  box.exec();
}

bool QtMessageBoxes::askYesNo(const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), text,
                  QMessageBox::Yes | QMessageBox::No, parent_);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace orl::ui
