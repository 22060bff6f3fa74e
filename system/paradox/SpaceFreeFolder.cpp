#include "system/paradox/SpaceFreeFolder.h"

#include "platform/common/Error.h"
#include "platform/fso/FileSystem.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/TextBox.h"

#include <QDir>

namespace orl::Paradox {
namespace {

// Only spaces count, as the folder box is trimmed of spaces alone.
QString trimSpaces(const QString& text) {
  qsizetype first = 0;
  qsizetype last = text.size();
  while (first < last && text[first] == QLatin1Char(' ')) ++first;
  while (last > first && text[last - 1] == QLatin1Char(' ')) --last;
  return text.mid(first, last - first);
}

// A copy into a folder inside its own source would copy its own copy.
bool liesWithin(const QString& folder, const QString& ancestor) {
  const QString inner = QDir::cleanPath(folder);
  const QString outer = QDir::cleanPath(ancestor);
  return inner == outer || inner.startsWith(outer.endsWith(QLatin1Char('/')) ? outer : outer + QLatin1Char('/'));
}

}  // namespace

QString SpaceFreeFolderTarget(const QString& programDriveRoot) {
  return programDriveRoot + QStringLiteral("TestDB");
}

void OfferSpaceFreeFolder(bool sample, ui::TextBox& folderBox, const QString& programDriveRoot,
                          fso::FileSystem& fileSystem, ui::MessageBoxes& boxes) {
  const QString source = folderBox.text();
  if (!trimSpaces(source).contains(QLatin1Char(' '))) return;
  const QString word = sample ? QStringLiteral("sample") : QStringLiteral("Your");
  const QString target = SpaceFreeFolderTarget(programDriveRoot);
  const QString question = QStringLiteral("In some cases the software needs to use a folder without spaces.") +
                           QStringLiteral("\r\n") + QStringLiteral("Is it OK to create the folder ") + target +
                           QStringLiteral(" and put ") + word + QStringLiteral(" db files in it?");
  if (!boxes.askYesNo(question)) return;
  if (liesWithin(target, source))
    throw Error(ErrorNumber::PermissionDenied,
                QStringLiteral("Permission denied: %1 lies inside %2 and can't take a copy of it. Answer No, or move "
                               "the tables to a folder without spaces.")
                    .arg(target, source));
  if (!fileSystem.folderExists(target)) fileSystem.createFolder(target);
  if (fileSystem.folderExists(target)) {
    fileSystem.copyFolder(source, target, true);
    folderBox.setText(target);
  }
}

}  // namespace orl::Paradox
