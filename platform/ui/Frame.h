#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QGroupBox;
class QWidget;

namespace orl::ui {

// A frame with a caption that holds other controls; their positions are relative to it.
class Frame final : public QObject, public Control {
  Q_OBJECT

 public:
  Frame(QWidget& container, const QString& name, const QString& caption, const QRect& pixels,
        const QFont& font);

  ControlKind kind() const override { return ControlKind::Frame; }

  QString caption() const;
  void setBackColor(const BackColor& color);
  BackColor backColor() const { return backColor_; }
  // The frame as the container of the controls placed in it.
  QWidget& container();

 signals:
  void mouseMoved();

 private:
  QGroupBox* widget_;
  BackColor backColor_ = BackColor::buttonFace();
};

}  // namespace orl::ui
