// Builds two trees of about the same number of folders, one flat and one
// six levels deep, and times the walk the table list makes over each:
// every folder found, then every folder's "*.db" files listed.
#include "platform/fso/PosixFileSystem.h"
#include "platform/ui/EventPump.h"
#include "platform/ui/MessageBoxes.h"
#include "system/addfolder/AddFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <cstdio>
#include <vector>

namespace {

class NoPump final : public orl::ui::EventPump {
 public:
  void pumpOnce() override {}
  void pumpFor(int) override {}
};

class PrintedBoxes final : public orl::ui::MessageBoxes {
 public:
  void showErrorReport(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  void inform(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
  void notify(const QString& text) override { inform(text); }
  bool askYesNo(const QString&) override { return false; }
};

// Makes `branches` sub-folders in each folder of the level, `depth` levels deep; the number made.
int MakeTree(const QByteArray& root, int branches, int depth) {
  std::vector<QByteArray> level{root};
  int made = 0;
  for (int d = 0; d < depth; ++d) {
    std::vector<QByteArray> next;
    for (const QByteArray& parent : level)
      for (int b = 0; b < branches; ++b) {
        next.push_back(parent + "/f" + QByteArray::number(b));
        if (::mkdir(next.back().constData(), 0777) != 0) return -1;
        ++made;
      }
    level.swap(next);
  }
  return made;
}

double SecondsToWalk(const QString& root, int* folders) {
  orl::fso::PosixFileSystem fileSystem;
  NoPump pump;
  PrintedBoxes boxes;
  QElapsedTimer timer;
  timer.start();
  QStringList found{root + QLatin1Char('/')};
  orl::AddFolder::GetSubDirectories2016(found, true, fileSystem, pump, boxes);
  for (const QString& folder : found) orl::AddFolder::ListFilesInFolder(folder, QStringLiteral("*.db"), fileSystem);
  *folders = static_cast<int>(found.size());
  return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  QTemporaryDir work(argc > 1 ? QString::fromLocal8Bit(argv[1]) + QStringLiteral("/walk-XXXXXX")
                              : QDir::tempPath() + QStringLiteral("/walk-XXXXXX"));
  const QByteArray flat = QFile::encodeName(work.filePath(QStringLiteral("flat")));
  const QByteArray deep = QFile::encodeName(work.filePath(QStringLiteral("deep")));
  if (!work.isValid() || ::mkdir(flat.constData(), 0777) != 0 || ::mkdir(deep.constData(), 0777) != 0) return 1;
  // 50,000 folders below one, and 6 + 36 + ... + 46,656 = 55,986 folders six levels deep.
  const int flatMade = MakeTree(flat, 50000, 1);
  const int deepMade = MakeTree(deep, 6, 6);
  if (flatMade < 0 || deepMade < 0) return 1;
  int flatFound = 0, deepFound = 0;
  const double flatSeconds = SecondsToWalk(QFile::decodeName(flat), &flatFound);
  const double deepSeconds = SecondsToWalk(QFile::decodeName(deep), &deepFound);
  std::printf("one level:  %6d folders  %.2f s  %.1f us a folder\n", flatFound, flatSeconds,
              flatSeconds * 1e6 / flatFound);
  std::printf("six levels: %6d folders  %.2f s  %.1f us a folder\n", deepFound, deepSeconds,
              deepSeconds * 1e6 / deepFound);
  std::printf("six levels over one level: %.2f\n", deepSeconds / flatSeconds);
  return 0;
}
