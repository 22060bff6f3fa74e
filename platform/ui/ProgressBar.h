#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QProgressBar;
class QWidget;

namespace orl::ui {

// A progress bar from 0 to 100 with a caption drawn on it.
class ProgressBar final : public QObject, public Control {
 public:
  ProgressBar(QWidget& container, const QString& name, const QString& text, const QRect& pixels,
              const QFont& font);

  ControlKind kind() const override { return ControlKind::ProgressBar; }

  // A percentage from 0 to 100; anything else raises error 380.
  void setValue(double percentage);
  double value() const { return value_; }
  void setText(const QString& text);
  QString text() const { return text_; }

 private:
  QProgressBar* widget_;
  double value_ = 0;
  QString text_;
};

}  // namespace orl::ui
