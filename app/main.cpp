#include "app/CommandLine.h"
#include "platform/common/TimeOfDayClock.h"
#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/ProgramLifetime.h"
#include "platform/ui/QtEventPump.h"
#include "platform/ui/QtFolderDialog.h"
#include "platform/ui/QtMessageBoxes.h"
#include "platform/ui/QtSettingsStore.h"
#include "system/forms/Form1.h"
#include "system/forms/Form2.h"
#include "system/main/Main.h"
#include "system/main/ProgramFolder.h"

#include <QApplication>
#include <QIcon>

#include <unistd.h>

#include <cstdio>

namespace {

// The window program: the setup window's load is the start-up, which shows
// the main window at once when the remembered folder still exists.
int RunWindows(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // Closing either window ends the program, also while the other one is hidden.
  application.setQuitOnLastWindowClosed(false);
  const QString executableFolder = QCoreApplication::applicationDirPath();
  // The program icon the windows show lies beside the program; the desktop
  // entry of the same name gives it to the desktop's task list.
  QIcon icon;
  for (const int size : {256, 48}) icon.addFile(executableFolder + QStringLiteral("/orlintide-%1.png").arg(size));
  QApplication::setWindowIcon(icon);
  QGuiApplication::setDesktopFileName(QStringLiteral("orlintide"));
  orl::ui::QtMessageBoxes boxes;
  orl::ui::QtSettingsStore settings;
  orl::ui::QtFolderDialog folderDialog;
  orl::ui::QtEventPump pump;
  orl::SystemTimeOfDayClock clock;
  orl::fso::PosixFileSystem fileSystem;
  orl::ui::QtProgramLifetime lifetime;
  const orl::Main::ProgramFolderChoice choice = orl::Main::ChooseProgramFolder(executableFolder);
  if (!choice.problem.isEmpty()) boxes.inform(choice.problem);
  const QString& programFolder = choice.folder;
  const orl::forms::Services services{programFolder, orl::Main::ProgramDriveRoot(programFolder),
                                      boxes,         settings,
                                      folderDialog,  pump,
                                      clock,         fileSystem,
                                      lifetime};
  orl::forms::Form1 setupWindow(services);
  orl::forms::Form2 mainWindow(services, setupWindow);
  setupWindow.setMainWindow(mainWindow);
  setupWindow.showModeless();
  return application.exec();
}

// The command-line mode needs no display: it starts Qt without a window system.
int RunCommandLine(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  const orl::Main::ProgramFolderChoice choice =
      orl::Main::ChooseProgramFolder(QCoreApplication::applicationDirPath());
  if (!choice.problem.isEmpty()) std::fprintf(stderr, "%s\n", qUtf8Printable(choice.problem));
  return orl::app::RunCommandLine(QCoreApplication::arguments(), choice.folder, stdout, stderr,
                                  isatty(fileno(stderr)) != 0);
}

}  // namespace

int main(int argc, char* argv[]) {
  return orl::app::WantsCommandLine(argc) ? RunCommandLine(argc, argv) : RunWindows(argc, argv);
}
