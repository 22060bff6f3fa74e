#include "platform/common/TimeOfDayClock.h"

#include <QTime>

namespace orl {

double SystemTimeOfDayClock::secondsSinceMidnight() {
  return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

}  // namespace orl
