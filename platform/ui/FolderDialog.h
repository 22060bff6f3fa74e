#pragma once

#include <QString>

class QWidget;

namespace orl::ui {

// The dialog in which the user chooses a folder.
class FolderDialog {
 public:
  virtual ~FolderDialog() = default;
  // Opens modal over the owner with the title, the start folder preselected
  // (none when empty or missing); the chosen folder, or empty when cancelled.
  virtual QString chooseFolder(QWidget& owner, const QString& title, const QString& startFolder) = 0;
};

}  // namespace orl::ui
