#include "system/addfolder/BrowseForFolder.h"

#include "platform/ui/FolderDialog.h"

namespace orl::AddFolder {

QString BrowseForFolder(ui::FolderDialog& dialog, QWidget& owner, const QString& title,
                        const QString& startFolder) {
  QString chosen = dialog.chooseFolder(owner, title, startFolder);
  while (chosen.size() > 1 && chosen.endsWith(QLatin1Char('/'))) chosen.chop(1);
  return chosen;
}

}  // namespace orl::AddFolder
