#pragma once

#include <QString>

namespace orl {
class TimeOfDayClock;
}
namespace orl::fso {
class FileSystem;
}
namespace orl::ui {
class EventPump;
class FolderDialog;
class MessageBoxes;
class ProgramLifetime;
class SettingsStore;
}  // namespace orl::ui

namespace orl::forms {

// What the windows need from outside; the program passes the real ones, tests their own.
struct Services {
  // The folder of the executable, without a trailing "/".
  QString programFolder;
  // The root of the program's file system, ending in "/": where TestDB goes.
  QString programDriveRoot;
  ui::MessageBoxes& boxes;
  ui::SettingsStore& settings;
  ui::FolderDialog& folderDialog;
  ui::EventPump& pump;
  TimeOfDayClock& clock;
  fso::FileSystem& fileSystem;
  ui::ProgramLifetime& lifetime;
};

}  // namespace orl::forms
