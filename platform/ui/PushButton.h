#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QPushButton;
class QWidget;

namespace orl::ui {

// A push button: caption and font fixed at design, a click and a mouse-move event.
class PushButton final : public QObject, public Control {
  Q_OBJECT

 public:
  PushButton(QWidget& container, const QString& name, const QString& caption, const QRect& pixels,
             const QFont& font);

  ControlKind kind() const override { return ControlKind::PushButton; }

  // A disabled button takes no click and shows that it does not.
  void setEnabled(bool enabled);

 signals:
  void clicked();
  void mouseMoved();

 private:
  QPushButton* widget_;
};

}  // namespace orl::ui
