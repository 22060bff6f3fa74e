#pragma once

#include "platform/ui/MessageBoxes.h"

#include <QPointer>

class QMessageBox;
class QWidget;

namespace orl::ui {

// Message boxes as Qt dialogs over the program's window they belong to (the
// active one, or else the program's window on screen), each wide enough to
// show its whole title. A notice shows without waiting; while one with the
// same text is open, it is raised instead of opening a second.
class QtMessageBoxes final : public MessageBoxes {
 public:
  void showErrorReport(const QString& text) override;
  void inform(const QString& text) override;
  void notify(const QString& text) override;
  bool askYesNo(const QString& text) override;

 private:
  QPointer<QMessageBox> notice_;
};

// The window a message box opens over: the program's active window, or
// else its first window on screen; none when nothing is shown.
QWidget* MessageBoxOwner();

}  // namespace orl::ui
