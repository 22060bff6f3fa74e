#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QLabel;
class QWidget;

namespace orl::ui {

// A caption on a window or in a frame.
class Label final : public QObject, public Control {
 public:
  Label(QWidget& container, const QString& name, const QString& caption, const QRect& pixels,
        const QFont& font);

  ControlKind kind() const override { return ControlKind::Label; }

  QString caption() const;
  void setBackColor(const BackColor& color);
  BackColor backColor() const { return backColor_; }

 private:
  QLabel* widget_;
  BackColor backColor_ = BackColor::buttonFace();
};

}  // namespace orl::ui
