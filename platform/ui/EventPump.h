#pragma once

namespace orl::ui {

// Lets pending window events run, so that long work keeps the window alive.
class EventPump {
 public:
  virtual ~EventPump() = default;
  // Runs the events that are pending now, then returns.
  virtual void pumpOnce() = 0;
  // Runs events as they come for up to the given time, sleeping while there are none.
  virtual void pumpFor(int milliseconds) = 0;
};

}  // namespace orl::ui
