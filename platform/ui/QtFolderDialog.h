#pragma once

#include "platform/ui/FolderDialog.h"

namespace orl::ui {

// Qt's own folder dialog; it only lets a real folder be confirmed.
class QtFolderDialog final : public FolderDialog {
 public:
  QString chooseFolder(QWidget& owner, const QString& title, const QString& startFolder) override;
};

}  // namespace orl::ui
