#pragma once

#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/FolderDialog.h"
#include "platform/ui/ProgramLifetime.h"
#include "platform/ui/QtSettingsStore.h"
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
                           time,          time,      fileSystem, lifetime};
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
  fso::PosixFileSystem fileSystem;
  RecordingLifetime lifetime;
};

}  // namespace orl::test
