#pragma once

#include "platform/common/TimeOfDayClock.h"
#include "platform/ui/EventPump.h"

#include <QString>

#include <optional>

namespace orl::fso {
class FileSystem;
}

namespace orl::Main {

// The product's name: the setup window's caption and the settings section.
inline const QString ProductTitle = QStringLiteral("Orlintide");

// True when the file system reports a last-modified time for the path, file
// or folder alike; false on any failure. Never raises.
bool PathExists(const QString& path);

// The fallback when the value is null, otherwise the value unchanged; one
// of the two itself, so it is for use within the expression that gave them.
template <class Value>
const Value& NullToDefault(const Value& value, const Value& fallback) {
  return value.isNull() ? fallback : value;
}

// Waits the given seconds on the time-of-day clock, counting across
// midnight, while the window's events go on running.
void WaitSeconds(double seconds, TimeOfDayClock& clock, ui::EventPump& pump);

// Collapses doubled separators; a leading pair (a network path) stays a pair.
QString CollapseBackslashes(const QString& path);

// The text after the last separator; the whole path when it holds none.
QString GetFileNameFromPath(const QString& path);

// The application title from the product title, cut back word by word to at most 40 characters.
QString ApplicationTitleFor(const QString& productTitle);

// Sets the application title that untitled message boxes show.
void SetApplicationTitle();

// The mount point of the file system that holds the folder, ending in one "/".
QString ProgramDriveRoot(const QString& programFolder);

// Whether the path is a folder (links followed); no value when its
// attributes cannot be read, which callers take as false. Never raises.
std::optional<bool> IsFolder(const QString& path, fso::FileSystem& fileSystem);

}  // namespace orl::Main
