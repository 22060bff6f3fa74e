// makeart: draws the program icon and the hand pointer into a folder.

#include "tools/makeart/Art.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <cstdio>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size() && file.flush();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: makeart FOLDER\n", stderr);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "makeart: cannot make the folder %s\n", argv[1]);
    return 1;
  }
  // The sizes the desktop's icon theme is given; the program shows the largest.
  for (const int size : {256, 48}) {
    const QString name = folder.filePath(QStringLiteral("orlintide-%1.png").arg(size));
    if (!orl::art::DrawProgramIcon(size).save(name, "PNG")) {
      std::fprintf(stderr, "makeart: cannot write %s\n", qPrintable(name));
      return 1;
    }
  }
  const QString pointer = folder.filePath(QStringLiteral("HAND-M.CUR"));
  if (!writeFile(pointer, orl::art::CursorFile(orl::art::DrawHandPointer(), orl::art::HandPointerHotSpot()))) {
    std::fprintf(stderr, "makeart: cannot write %s\n", qPrintable(pointer));
    return 1;
  }
  return 0;
}
