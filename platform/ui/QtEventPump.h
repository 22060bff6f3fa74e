#pragma once

#include "platform/ui/EventPump.h"

#include <QElapsedTimer>

namespace orl::ui {

// The Qt event loop of the running application.
class QtEventPump final : public EventPump {
 public:
  // Runs the pending events unless it did so a few milliseconds ago.
  void pumpOnce() override;
  void pumpFor(int milliseconds) override;

 private:
  QElapsedTimer sinceEvents_;
  unsigned calls_ = 0;
};

}  // namespace orl::ui
