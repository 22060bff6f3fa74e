#include "platform/ui/QtFolderDialog.h"

#include <QFileDialog>

namespace orl::ui {

QString QtFolderDialog::chooseFolder(QWidget& owner, const QString& title, const QString& startFolder) {
  return QFileDialog::getExistingDirectory(&owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

}  // namespace orl::ui
