#include "platform/ui/Frame.h"

#include "platform/ui/HoverWatch.h"

#include <QGroupBox>

namespace orl::ui {

Frame::Frame(QWidget& container, const QString& name, const QString& caption, const QRect& pixels,
             const QFont& font)
    : QObject(&container), widget_(new QGroupBox(caption, &container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  new HoverWatch(*widget_, [this] { emit mouseMoved(); });
}

QString Frame::caption() const { return widget_->title(); }

void Frame::setBackColor(const BackColor& color) {
  backColor_ = color;
  color.applyTo(*widget_);
}

QWidget& Frame::container() { return *widget_; }

}  // namespace orl::ui
