#pragma once

namespace orl {

// The time of day in fractional seconds since local midnight. Waits read it
// through this seam so that a test can stand at any moment, midnight included.
class TimeOfDayClock {
 public:
  virtual ~TimeOfDayClock() = default;
  virtual double secondsSinceMidnight() = 0;
};

// The machine's own clock.
class SystemTimeOfDayClock final : public TimeOfDayClock {
 public:
  double secondsSinceMidnight() override;
};

}  // namespace orl
