#include "platform/ui/DropDown.h"

#include "platform/common/Error.h"

#include <QComboBox>

namespace orl::ui {

DropDown::DropDown(QWidget& container, const QString& name, const QRect& pixels, const QFont& font)
    : QObject(&container), widget_(new QComboBox(&container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  // A move over it is not a move over the frame or window it sits on.
  widget_->setAttribute(Qt::WA_NoMousePropagation);
  widget_->setEditable(false);
}

void DropDown::addItem(const QString& text) {
  // A plain combo box would choose its first entry by itself; the window chooses explicitly.
  const int chosen = widget_->currentIndex();
  widget_->addItem(text);
  widget_->setCurrentIndex(chosen);
}

void DropDown::setListIndex(int index) {
  if (index < 0 || index >= widget_->count())
    throw Error(ErrorNumber::InvalidPropertyValue, QStringLiteral("Invalid property value"));
  widget_->setCurrentIndex(index);
}

QString DropDown::text() const { return widget_->currentIndex() < 0 ? QString() : widget_->currentText(); }

void DropDown::setEnabled(bool enabled) { widget_->setEnabled(enabled); }

}  // namespace orl::ui
