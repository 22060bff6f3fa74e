#pragma once

#include <QString>

class QWidget;

namespace orl::ui {

// The program's skin: a Qt style sheet read from a file and laid over a window and its controls.
class SkinFramework {
 public:
  // Reads the skin; a file that can't be read raises an error and leaves the skin as it was.
  void loadSkin(const QString& path);
  // Lays the loaded skin over the window.
  void applyWindow(QWidget& window) const;

 private:
  QString styleSheet_;
};

}  // namespace orl::ui
