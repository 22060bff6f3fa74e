// The titles of the message boxes and the folder dialog as the window
// system shows them, on a virtual X display of the test's own: Qt may add
// to a title on its way to the screen what the widget itself never shows.
#include "platform/ui/QtFolderDialog.h"
#include "platform/ui/QtMessageBoxes.h"
#include "system/main/Main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetrics>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

// The title the X server holds for a window, as the desktop's title bar reads it.
QString TitleOnScreen(const QWidget& window) {
  QProcess xprop;
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                        QStringLiteral("_NET_WM_NAME")});
  if (!xprop.waitForFinished(5000)) return QString();
  static const QRegularExpression quoted(QStringLiteral("= \"(.*)\"$"));
  return quoted.match(QString::fromUtf8(xprop.readAllStandardOutput()).trimmed()).captured(1);
}

// Waits for the modal dialog the call opens to reach the screen, reads its
// title there, then closes it with `close`.
template <class Dialog>
QString TitleOfModal(const std::function<void()>& open, const std::function<void(Dialog&)>& close,
                     int* width = nullptr) {
  QString title;
  QElapsedTimer waited;
  waited.start();
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    title = TitleOnScreen(*dialog);
    if (title.isEmpty() && waited.elapsed() < 5000) return;
    if (width) *width = dialog->width();
    poll.stop();
    close(*dialog);
  });
  poll.start(50);
  open();
  return title;
}

}  // namespace

class TitlesOnScreenTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // As the program's start-up sets it.
    orl::Main::SetApplicationTitle();
    owner_.setWindowTitle(QStringLiteral("Orlintide"));
    owner_.resize(300, 200);
    owner_.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner_));
  }

  void errorReportIsTitledExactlyApplicationError() {
    orl::ui::QtMessageBoxes boxes;
    const QString title = TitleOfModal<QMessageBox>(
        [&] { boxes.showErrorReport(QStringLiteral("Disk full: /data/T.db")); },
        [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); });
    QCOMPARE(title, QStringLiteral("Application Error"));
  }

  void plainMessageIsTitledWithTheProgramAndWideEnoughForIt() {
    orl::ui::QtMessageBoxes boxes;
    int width = 0;
    const QString title = TitleOfModal<QMessageBox>([&] { boxes.inform(QStringLiteral("Done.")); },
                                                    [](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); },
                                                    &width);
    QCOMPARE(title, QStringLiteral("Orlintide"));
    QVERIFY(width > QFontMetrics(QApplication::font()).horizontalAdvance(title) + 100);
  }

  void folderDialogKeepsItsOwnTitle() {
    orl::ui::QtFolderDialog dialog;
    const QString title = TitleOfModal<QFileDialog>(
        [&] { dialog.chooseFolder(owner_, QStringLiteral("Please select folder:"), QString()); },
        [](QFileDialog& shown) { shown.reject(); });
    QCOMPARE(title, QStringLiteral("Please select folder:"));
  }

 private:
  QWidget owner_;
};

// The X platform brings the desktop bus library, which keeps a buffer for
// the life of the process; the leak checker of the sanitizer build is told so.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\n"; }

// Starts a virtual X display for the test; without Xvfb the test is skipped.
int main(int argc, char* argv[]) {
  int fds[2];
  if (::pipe(fds) != 0) return 1;
  const pid_t server = ::fork();
  if (server == 0) {
    ::close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  // Xvfb writes its display number once it takes connections.
  std::string display;
  pollfd ready{fds[0], POLLIN, 0};
  char c = 0;
  while (::poll(&ready, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') display += c;
  ::close(fds[0]);
  if (display.empty()) {
    if (server > 0) ::kill(server, SIGTERM);
    std::printf("SKIP: no virtual X display (Xvfb) to show the titles on\n");
    return 0;
  }
  ::setenv("DISPLAY", (":" + display).c_str(), 1);
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  int result = 0;
  {
    QApplication application(argc, argv);
    TitlesOnScreenTest test;
    result = QTest::qExec(&test, argc, argv);
  }
  ::kill(server, SIGTERM);
  ::waitpid(server, nullptr, 0);
  return result;
}

#include "TitlesOnScreenTest.moc"
