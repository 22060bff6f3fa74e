#pragma once

#include "platform/ui/MessageBoxes.h"

class QWidget;

namespace orl::ui {

// Message boxes as modal Qt dialogs over the program's active window, so
// that they stand over the window they answer and not anywhere on screen.
class QtMessageBoxes final : public MessageBoxes {
 public:
  void showErrorReport(const QString& text) override;
  void inform(const QString& text) override;
  bool askYesNo(const QString& text) override;
};

}  // namespace orl::ui
