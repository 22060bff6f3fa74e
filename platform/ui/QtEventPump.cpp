#include "platform/ui/QtEventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace orl::ui {

void QtEventPump::pumpOnce() { QCoreApplication::processEvents(); }

void QtEventPump::pumpFor(int milliseconds) {
  // A local loop blocks in the event dispatcher until an event or the timer
  // comes, so a wait keeps the window alive without keeping a core busy.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace orl::ui
