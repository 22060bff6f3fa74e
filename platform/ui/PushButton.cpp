#include "platform/ui/PushButton.h"

#include "platform/ui/HoverWatch.h"

#include <QPushButton>

namespace orl::ui {

PushButton::PushButton(QWidget& container, const QString& name, const QString& caption,
                       const QRect& pixels, const QFont& font)
    : QObject(&container), widget_(new QPushButton(caption, &container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  widget_->setAutoDefault(false);
  connect(widget_, &QPushButton::clicked, this, &PushButton::clicked);
  new HoverWatch(*widget_, [this] { emit mouseMoved(); });
}

void PushButton::setEnabled(bool enabled) { widget_->setEnabled(enabled); }

}  // namespace orl::ui
