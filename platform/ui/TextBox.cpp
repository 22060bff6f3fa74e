#include "platform/ui/TextBox.h"

#include "platform/ui/HoverWatch.h"

#include <QEvent>
#include <QLineEdit>

namespace orl::ui {

TextBox::TextBox(QWidget& container, const QString& name, const QRect& pixels, const QFont& font)
    : QObject(&container), widget_(new QLineEdit(&container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  connect(widget_, &QLineEdit::textChanged, this, &TextBox::changed);
  widget_->installEventFilter(this);
  new HoverWatch(*widget_, [this] { emit mouseMoved(); });
}

bool TextBox::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) emit gotFocus();
  return QObject::eventFilter(watched, event);
}

QString TextBox::text() const { return widget_->text(); }

void TextBox::setText(const QString& text) { widget_->setText(text); }

void TextBox::setSelStart(int start) {
  selStart_ = start;
  widget_->setCursorPosition(start);
}

void TextBox::setSelLength(int length) { widget_->setSelection(selStart_, length); }

}  // namespace orl::ui
