#pragma once

#include "platform/common/Error.h"
#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/FolderDialog.h"
#include "platform/ui/ProgramLifetime.h"
#include "platform/ui/QtSettingsStore.h"
#include "system/forms/Form1.h"
#include "system/forms/Form2.h"
#include "system/forms/Services.h"
#include "tests/support/FakeTime.h"
#include "tests/support/RecordingMessageBoxes.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

namespace orl::test {

// A folder dialog that answers with a prepared folder and remembers how it was opened.
class RecordingFolderDialog final : public ui::FolderDialog {
 public:
  QString chooseFolder(QWidget&, const QString& title, const QString& startFolder) override {
    titles << title;
    startFolders << startFolder;
    return answer;
  }
  QString answer;
  QStringList titles;
  QStringList startFolders;
};

class RecordingLifetime final : public ui::ProgramLifetime {
 public:
  void endProgram() override { ++ends; }
  int ends = 0;
};

// The machine's file system, except that listing a folder can be made to fail.
class SwitchableFileSystem final : public fso::FileSystem {
 public:
  int attributes(const QString& path) override { return real_.attributes(path); }
  fso::Folder getFolder(const QString& path) override { return real_.getFolder(path); }
  bool isRootFolder(const QString& path) override { return real_.isRootFolder(path); }
  QString realPath(const QString& path) override { return real_.realPath(path); }
  QStringList subFolderNames(const QString& folder) override { return real_.subFolderNames(folder); }
  QStringList listNames(const QString& folder, const QString& pattern) override {
    if (listingFails) throw Error::permissionDenied(folder);
    return real_.listNames(folder, pattern);
  }
  bool isOpenableFile(const QString& path) override { return real_.isOpenableFile(path); }
  bool folderExists(const QString& path) override { return real_.folderExists(path); }
  void createFolder(const QString& path) override { real_.createFolder(path); }
  void copyFolder(const QString& source, const QString& destination, bool overwrite) override {
    real_.copyFolder(source, destination, overwrite);
  }

  bool listingFails = false;

 private:
  fso::PosixFileSystem real_;
};

// The clock stands still until a wait lets time pass; each time the windows
// let events run, the test's own step (if any) runs once in their place.
class ScriptedPump final : public ui::EventPump {
 public:
  explicit ScriptedPump(FakeTime& time) : time_(time) {}
  void pumpOnce() override {
    ++pumps;
    if (duringPump) duringPump();
  }
  void pumpFor(int milliseconds) override {
    pumpOnce();
    time_.advance(milliseconds / 1000.0);
  }

  std::function<void()> duringPump;
  int pumps = 0;

 private:
  FakeTime& time_;
};

// Writes a 32 by 32 cursor file with the given hot spot.
inline bool WriteCursorFile(const QString& path, int hotX, int hotY) {
  QImage image(32, 32, QImage::Format_ARGB32);
  image.fill(Qt::black);
  QByteArray bytes;
  {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "ico")) return false;
  }
  // An icon file becomes a cursor file by its type word and the hot spot in its entry.
  bytes[2] = 2;
  bytes[10] = static_cast<char>(hotX);
  bytes[11] = 0;
  bytes[12] = static_cast<char>(hotY);
  bytes[13] = 0;
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline bool WriteFile(const QString& path, const QByteArray& bytes = QByteArray("x")) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Everything the windows take from outside, inside one temporary folder:
// the program folder, a drive root for TestDB, the settings file, and
// recorders for the message boxes, the folder dialog and the program's end.
class WindowHarness {
 public:
  WindowHarness()
      : programFolder(root.filePath(QStringLiteral("program"))),
        driveRoot(root.filePath(QStringLiteral("drive")) + QLatin1Char('/')),
        settingsFile(root.filePath(QStringLiteral("settings.ini"))),
        settings(settingsFile) {
    QDir().mkpath(programFolder);
    QDir().mkpath(driveRoot);
  }

  forms::Services services() {
    return forms::Services{programFolder, driveRoot, boxes,      settings, dialog,
                           pump,          time,      fileSystem, lifetime};
  }

  // A folder below the temporary root, created.
  QString folder(const QString& relative) {
    const QString path = root.filePath(relative);
    QDir().mkpath(path);
    return path;
  }

  QTemporaryDir root;
  QString programFolder;
  QString driveRoot;
  QString settingsFile;
  ui::QtSettingsStore settings;
  RecordingMessageBoxes boxes;
  RecordingFolderDialog dialog;
  FakeTime time{36000.0};
  ScriptedPump pump{time};
  SwitchableFileSystem fileSystem;
  RecordingLifetime lifetime;
};

// Both windows, joined as the program joins them.
class Windows {
 public:
  explicit Windows(WindowHarness& harness) : Windows(harness.services()) {}
  explicit Windows(const forms::Services& services) : setup(services), main(services, setup) {
    setup.setMainWindow(main);
  }
  // The program's start: the setup window's load, then it shows unless the load moved on.
  void start() { setup.showModeless(); }

  forms::Form1 setup;
  forms::Form2 main;
};

}  // namespace orl::test
