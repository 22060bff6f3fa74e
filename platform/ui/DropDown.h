#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QComboBox;
class QFont;
class QWidget;

namespace orl::ui {

// A drop-down list box whose entries are only picked, never typed.
class DropDown final : public QObject, public Control {
 public:
  DropDown(QWidget& container, const QString& name, const QRect& pixels, const QFont& font);

  ControlKind kind() const override { return ControlKind::DropDown; }

  void addItem(const QString& text);
  // Chooses the entry at a 0-based index; an index with no entry raises error 380.
  void setListIndex(int index);
  // The chosen entry's text; empty while none is chosen.
  QString text() const;
  // A disabled drop-down takes no choice and shows that it does not.
  void setEnabled(bool enabled);

 private:
  QComboBox* widget_;
};

}  // namespace orl::ui
