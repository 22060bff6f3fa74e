#include "platform/ui/QtEventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace orl::ui {

void QtEventPump::pumpOnce() {
  // Loops call this once a value, a row or a field; events run at most
  // every few milliseconds, which keeps the window alive at a fraction of
  // the cost of looking for events each time.
  constexpr qint64 Interval = 5;
  if (sinceEvents_.isValid() && sinceEvents_.elapsed() < Interval) return;
  QCoreApplication::processEvents();
  sinceEvents_.start();
}

void QtEventPump::pumpFor(int milliseconds) {
  // A local loop blocks in the event dispatcher until an event or the timer
  // comes, so a wait keeps the window alive without keeping a core busy.
  QEventLoop loop;
  QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace orl::ui
