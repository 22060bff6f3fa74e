#pragma once

namespace orl::ui {

// Ends the whole program, whichever window asks and whichever others are open or hidden.
class ProgramLifetime {
 public:
  virtual ~ProgramLifetime() = default;
  virtual void endProgram() = 0;
};

// Leaves the application's event loop, so that main returns.
class QtProgramLifetime final : public ProgramLifetime {
 public:
  void endProgram() override;
};

}  // namespace orl::ui
