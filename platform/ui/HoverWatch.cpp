#include "platform/ui/HoverWatch.h"

#include <QEvent>
#include <QWidget>

namespace orl::ui {

HoverWatch::HoverWatch(QWidget& watched, std::function<void()> moved)
    : QObject(&watched), moved_(std::move(moved)) {
  watched.setMouseTracking(true);
  watched.setAttribute(Qt::WA_NoMousePropagation);
  watched.installEventFilter(this);
}

bool HoverWatch::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseMove && moved_) moved_();
  return QObject::eventFilter(watched, event);
}

}  // namespace orl::ui
