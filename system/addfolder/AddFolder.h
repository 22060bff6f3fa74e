#pragma once

#include "platform/fso/FileSystem.h"
#include "platform/ui/EventPump.h"
#include "platform/ui/MessageBoxes.h"

#include <QString>
#include <QStringList>

#include <utility>

namespace orl::AddFolder {

// Paths this long or longer are not entered.
inline constexpr qsizetype PathLimit = 260;

// Extends the folder list (paths ending in "/") with every folder below its
// entries, breadth first: all folders one level down, then two levels down,
// each parent's sub-folders in name order. With recurse clear only the
// immediate sub-folders are added. Folders that cannot be read are removed
// silently; each real folder is entered and listed once, whatever links lead
// to it. Unexpected failures are reported under the folder walk's own name.
void GetSubDirectories2016(QStringList& folders, bool recurse, fso::FileSystem& fileSystem,
                           ui::EventPump& pump, ui::MessageBoxes& boxes);

// The result of ListFilesInFolder: names at indexes 1 to upperBound(). When
// nothing matched, the single index 0 holds the empty text and the upper
// bound is 0, so a loop from 1 to the upper bound does nothing.
class FileNameArray {
 public:
  explicit FileNameArray(QStringList names) : names_(std::move(names)) {}

  int lowerBound() const { return names_.isEmpty() ? 0 : 1; }
  int upperBound() const { return static_cast<int>(names_.size()); }
  // Raises "Subscript out of range" (9) outside the bounds.
  QString at(int index) const;
  const QStringList& names() const { return names_; }

 private:
  QStringList names_;
};

// The bare names of the openable files in the folder (with or without a
// trailing "/") that match the pattern, hidden ones included, in the file
// system's order. A failure of the listing is passed to the caller.
FileNameArray ListFilesInFolder(const QString& folder, const QString& pattern, fso::FileSystem& fileSystem);

// Whether the path is an existing file that can be opened; never raises.
bool IsOpenableFile(const QString& path, fso::FileSystem& fileSystem);

// Whether the name holds a character the enumeration refuses: a control
// character, a code from 127 to 159, "?", or one that UTF-8 cannot carry.
bool HasUnusableCharacters(const QString& name);

}  // namespace orl::AddFolder
