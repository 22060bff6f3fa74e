#include "platform/ui/Label.h"

#include <QLabel>

namespace orl::ui {

Label::Label(QWidget& container, const QString& name, const QString& caption, const QRect& pixels,
             const QFont& font)
    : QObject(&container), widget_(new QLabel(caption, &container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  // A move over it is not a move over the frame or window it sits on.
  widget_->setAttribute(Qt::WA_NoMousePropagation);
}

QString Label::caption() const { return widget_->text(); }

void Label::setBackColor(const BackColor& color) {
  backColor_ = color;
  color.applyTo(*widget_);
}

}  // namespace orl::ui
