#include "platform/ui/QtEventPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace orl::ui {

void QtEventPump::pumpOnce() {
  // Loops call this once a value, a row or a field; events run at most
  // every few milliseconds, which keeps the window alive at a fraction of
  // the cost of looking for events each time.
  // The clock itself is read only every few calls: a call costs less than a
  // microsecond, and reading the clock each time cost more than the call.
  constexpr qint64 Interval = 5;
  constexpr unsigned CallsBetweenLooks = 32;
  if (sinceEvents_.isValid() && (++calls_ % CallsBetweenLooks != 0 || sinceEvents_.elapsed() < Interval)) return;
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
