#pragma once

#include "platform/ui/EventPump.h"

namespace orl::ui {

// The Qt event loop of the running application.
class QtEventPump final : public EventPump {
 public:
  void pumpOnce() override;
  void pumpFor(int milliseconds) override;
};

}  // namespace orl::ui
