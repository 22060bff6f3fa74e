#pragma once

#include "platform/ui/Control.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QLineEdit;
class QWidget;

namespace orl::ui {

// A one-line text box. Its change event fires on every change of the text,
// typed or set by the program.
class TextBox final : public QObject, public Control {
  Q_OBJECT

 public:
  TextBox(QWidget& container, const QString& name, const QRect& pixels, const QFont& font);

  ControlKind kind() const override { return ControlKind::TextBox; }

  QString text() const;
  void setText(const QString& text);
  void setSelStart(int start);
  void setSelLength(int length);

 signals:
  void changed();
  void gotFocus();
  void mouseMoved();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLineEdit* widget_;
  int selStart_ = 0;
};

}  // namespace orl::ui
