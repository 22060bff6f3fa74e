#pragma once

#include "platform/ui/MessageBoxes.h"

class QWidget;

namespace orl::ui {

// Message boxes as modal Qt dialogs over an optional parent window.
class QtMessageBoxes final : public MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
  void showErrorReport(const QString& text) override;
  void inform(const QString& text) override;
  bool askYesNo(const QString& text) override;

 private:
  QWidget* parent_;
};

}  // namespace orl::ui
