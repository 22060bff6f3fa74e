#pragma once

#include "platform/common/TimeOfDayClock.h"
#include "platform/ui/EventPump.h"

#include <vector>

namespace orl::test {

// A clock that stands still until the pump that shares it lets time pass.
class FakeTime final : public TimeOfDayClock, public ui::EventPump {
 public:
  explicit FakeTime(double start) : now_(start) {}

  double secondsSinceMidnight() override { return now_; }
  void pumpOnce() override { ++pumps; }
  void pumpFor(int milliseconds) override {
    ++pumps;
    advance(milliseconds / 1000.0);
  }

  void advance(double seconds) {
    now_ += seconds;
    if (now_ >= 86400.0) now_ -= 86400.0;
  }
  double now() const { return now_; }

  int pumps = 0;

 private:
  double now_;
};

}  // namespace orl::test
