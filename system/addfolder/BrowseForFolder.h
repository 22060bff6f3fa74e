#pragma once

#include <QString>

class QWidget;

namespace orl::ui {
class FolderDialog;
}

namespace orl::AddFolder {

// Lets the user choose a folder in the folder dialog, modal over the owner,
// with the title and the start folder preselected (none when it is empty or
// missing). Returns the chosen folder without a trailing "/" (the root stays
// "/"), or the empty text when the user cancels.
QString BrowseForFolder(ui::FolderDialog& dialog, QWidget& owner, const QString& title,
                        const QString& startFolder);

}  // namespace orl::AddFolder
