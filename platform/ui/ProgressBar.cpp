#include "platform/ui/ProgressBar.h"

#include "platform/common/Error.h"

#include <QProgressBar>

#include <cmath>

namespace orl::ui {
namespace {

// Shows its caption as given; the plain bar would read "%" as the start of a placeholder.
class CaptionedBar final : public QProgressBar {
 public:
  explicit CaptionedBar(QWidget& container) : QProgressBar(&container) {}
  QString text() const override { return caption; }
  QString caption;
};

}  // namespace

ProgressBar::ProgressBar(QWidget& container, const QString& name, const QString& text,
                         const QRect& pixels, const QFont& font)
    : QObject(&container), widget_(new CaptionedBar(container)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  // A move over it is not a move over the frame or window it sits on.
  widget_->setAttribute(Qt::WA_NoMousePropagation);
  widget_->setRange(0, 100);
  widget_->setValue(0);
  widget_->setTextVisible(true);
  widget_->setAlignment(Qt::AlignCenter);
  setText(text);
}

void ProgressBar::setValue(double percentage) {
  if (!(percentage >= 0.0 && percentage <= 100.0))
    throw Error(ErrorNumber::InvalidPropertyValue, QStringLiteral("Invalid property value"));
  value_ = percentage;
  widget_->setValue(static_cast<int>(std::lround(percentage)));
}

void ProgressBar::setText(const QString& text) {
  text_ = text;
  static_cast<CaptionedBar*>(widget_)->caption = text;
  widget_->update();
}

}  // namespace orl::ui
