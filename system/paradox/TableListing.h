#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace orl::fso {
class FileSystem;
}
namespace orl::ui {
class EventPump;
class ListView;
class MessageBoxes;
}  // namespace orl::ui

namespace orl::Paradox {

// Fills the list with the tables of the folder and of every folder below it,
// folder by folder breadth first, each folder's tables in the file system's
// order. An entry's text is the table file's name upper-cased with every
// ".DB" removed (names beginning with "~" are left out); each entry keeps
// the folder its file lies in, so same-named tables of different folders
// stay apart. An empty folder text leaves the list empty. A failure ends the
// listing with the entries found so far left in the list. The walk lets
// window events run, so another listing may begin meanwhile: once
// `stillWanted` says no, this one leaves the list to it. Leftovers of
// interrupted replacements that are left alone are shown in one message.
void ListParadoxTables(ui::ListView& list, const QString& folderText, fso::FileSystem& fileSystem,
                       ui::EventPump& pump, ui::MessageBoxes& boxes,
                       const std::function<bool()>& stillWanted = [] { return true; });

// The tables of one folder, named and chosen as the list above shows them,
// in the file system's order. Leftovers of an interrupted replacement are
// put right first; what is left alone (files this program did not leave
// there, say) is added to `leftAlone`, one line per table, naming the files.
QStringList TableNamesInFolder(const QString& folder, fso::FileSystem& fileSystem, QStringList* leftAlone = nullptr);

// Whether the folder holds at least one "*.db" file (hidden ones count).
// Opens no database; an empty or missing folder gives false.
bool FolderHasTables(const QString& folderText, fso::FileSystem& fileSystem);

}  // namespace orl::Paradox
