#include "system/paradox/TableListing.h"

#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/WorkingNames.h"
#include "platform/ui/ListView.h"
#include "system/addfolder/AddFolder.h"
#include "system/case/Case.h"
#include "system/main/Main.h"

#include <QStringList>

namespace orl::Paradox {
namespace {

const QString TablePattern = QStringLiteral("*.db");

}  // namespace

void ListParadoxTables(ui::ListView& list, const QString& folderText, fso::FileSystem& fileSystem,
                       ui::EventPump& pump, ui::MessageBoxes& boxes, const std::function<bool()>& stillWanted) {
  list.clear();
  if (folderText.isEmpty()) return;
  QStringList folders{folderText + QLatin1Char('/')};
  AddFolder::GetSubDirectories2016(folders, true, fileSystem, pump, boxes);
  // Listing the files runs no window events, so nothing overtakes it after this.
  if (!stillWanted()) return;
  QStringList leftAlone;
  for (const QString& listed : folders) {
    const QString folder = listed.chopped(1);
    for (const QString& table : TableNamesInFolder(folder, fileSystem, &leftAlone)) list.add(table, folder);
  }
  if (!leftAlone.isEmpty())
    boxes.notify(QStringLiteral("Some files of interrupted table replacements were left as they are:\r\n") +
                 leftAlone.join(QStringLiteral("\r\n")));
}

QStringList TableNamesInFolder(const QString& folder, fso::FileSystem& fileSystem, QStringList* leftAlone) {
  // A run that was interrupted while replacing a table is finished or
  // undone first, so that the table is listed under its own name. What
  // cannot be put right now stays as it is, and is tried again when the
  // table is opened.
  // A history or working folder given as the folder itself lists nothing either.
  if (!pdx::workingFolderOn(folder.toStdString()).empty()) return {};
  pdx::PosixFileOps files;
  try {
    for (const auto& failure : pdx::FamilyReplacement::recoverFolder(files, folder.toStdString()))
      if (leftAlone) *leftAlone << QString::fromStdString(failure);
  } catch (const pdx::Error&) {
    // The folder cannot be read; the listing below says so.
  }
  QStringList tables;
  const AddFolder::FileNameArray names = AddFolder::ListFilesInFolder(folder, TablePattern, fileSystem);
  for (int index = 1; index <= names.upperBound(); ++index) {
    const QString name = names.at(index);
    if (name.startsWith(QLatin1Char('~'))) continue;
    if (pdx::isWorkingName(name.toStdString())) continue;
    const QString fileName = Main::GetFileNameFromPath(folder + QLatin1Char('/') + name);
    tables << Case::Upper(fileName).remove(QStringLiteral(".DB"));
  }
  return tables;
}

bool FolderHasTables(const QString& folderText, fso::FileSystem& fileSystem) {
  if (folderText.isEmpty()) return false;
  return AddFolder::ListFilesInFolder(folderText, TablePattern, fileSystem).upperBound() > 0;
}

}  // namespace orl::Paradox
