#include "platform/ui/Pointer.h"

#include "platform/common/Error.h"

#include <QFile>
#include <QImageReader>
#include <QPixmap>

namespace orl::ui {
namespace {

constexpr int InvalidPicture = 481;
// A cursor file starts with a directory: reserved word 0, type word 2, image
// count; the first entry's hot spot is the two words at offsets 10 and 12.
constexpr qsizetype HotSpotOffset = 10;
constexpr qsizetype DirectoryAndEntrySize = 22;

int littleEndianWord(const QByteArray& bytes, qsizetype offset) {
  return static_cast<unsigned char>(bytes[offset]) | (static_cast<unsigned char>(bytes[offset + 1]) << 8);
}

Error invalidPicture(const QString& path) {
  return Error(InvalidPicture, QStringLiteral("Invalid picture: %1").arg(path));
}

}  // namespace

QCursor LoadPointerFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) throw Error::fileNotFound(path);
  const QByteArray bytes = file.read(DirectoryAndEntrySize);
  if (bytes.size() < DirectoryAndEntrySize || littleEndianWord(bytes, 0) != 0 ||
      littleEndianWord(bytes, 2) != 2 || littleEndianWord(bytes, 4) < 1)
    throw invalidPicture(path);
  file.seek(0);
  QImageReader reader(&file, "cur");
  const QImage image = reader.read();
  if (image.isNull()) throw invalidPicture(path);
  const int hotX = littleEndianWord(bytes, HotSpotOffset);
  const int hotY = littleEndianWord(bytes, HotSpotOffset + 2);
  if (hotX >= image.width() || hotY >= image.height()) throw invalidPicture(path);
  return QCursor(QPixmap::fromImage(image), hotX, hotY);
}

}  // namespace orl::ui
