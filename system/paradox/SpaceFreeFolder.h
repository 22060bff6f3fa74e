#pragma once

#include <QString>

namespace orl::fso {
class FileSystem;
}
namespace orl::ui {
class MessageBoxes;
class TextBox;
}  // namespace orl::ui

namespace orl::Paradox {

// The folder without spaces that a folder with spaces can be copied to.
QString SpaceFreeFolderTarget(const QString& programDriveRoot);

// When the folder box names a path with an inner space, asks whether to copy
// the folder's content into TestDB at the program drive's root; on Yes
// copies it there (merging, same-named files replaced) and points the box at
// TestDB. The question speaks of "sample" db files for the sample folder and
// "Your" db files otherwise. Failures raise and leave the box as it was.
void OfferSpaceFreeFolder(bool sample, ui::TextBox& folderBox, const QString& programDriveRoot,
                          fso::FileSystem& fileSystem, ui::MessageBoxes& boxes);

}  // namespace orl::Paradox
