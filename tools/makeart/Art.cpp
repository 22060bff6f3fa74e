#include "tools/makeart/Art.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <array>
#include <stdexcept>

namespace orl::art {
namespace {

// The hand, pixel by pixel: '#' outline, '.' fill, anything else clear.
constexpr std::array<const char*, 22> HandRows = {
    "      ##",
    "     #..#",
    "     #..#",
    "     #..#",
    "     #..#",
    "     #..###",
    "     #..#..###",
    "     #..#..#..##",
    "     #..#..#..#.#",
    " ### #..#..#..#..#",
    " #..##..#..#..#..#",
    " #...#..........#.#",
    "  #..#...........#",
    "   #.............#",
    "   #.............#",
    "    #............#",
    "    #...........#",
    "     #..........#",
    "     #.........#",
    "      #........#",
    "      #........#",
    "      ##########",
};
constexpr int PointerSize = 32;

void putLe16(QByteArray& bytes, int value) {
  bytes.append(static_cast<char>(value & 0xff));
  bytes.append(static_cast<char>((value >> 8) & 0xff));
}

void putLe32(QByteArray& bytes, quint32 value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.append(static_cast<char>((value >> shift) & 0xff));
}

}  // namespace

QImage DrawProgramIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  // Drawn on a 256-unit square whatever the size.
  painter.scale(size / 256.0, size / 256.0);

  QLinearGradient tile(0, 0, 0, 256);
  tile.setColorAt(0, QColor(0x2b, 0x7b, 0xc0));
  tile.setColorAt(1, QColor(0x12, 0x45, 0x78));
  painter.setPen(Qt::NoPen);
  painter.setBrush(tile);
  painter.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);

  // A table: a sheet with a header band and ruled rows.
  const QRectF sheet(36, 44, 184, 136);
  painter.setBrush(QColor(0xfa, 0xfb, 0xfd));
  painter.drawRoundedRect(sheet, 12, 12);
  QPainterPath header;
  header.addRoundedRect(QRectF(sheet.left(), sheet.top(), sheet.width(), 44), 12, 12);
  header.addRect(QRectF(sheet.left(), sheet.top() + 24, sheet.width(), 20));
  painter.setBrush(QColor(0xb9, 0xd6, 0xf2));
  painter.drawPath(header.simplified());
  painter.setPen(QPen(QColor(0x9a, 0xb4, 0xcc), 4));
  for (int row = 1; row <= 3; ++row) {
    const double y = sheet.top() + 44 + row * 23;
    painter.drawLine(QPointF(sheet.left() + 12, y), QPointF(sheet.right() - 12, y));
  }
  painter.drawLine(QPointF(sheet.left() + 72, sheet.top() + 52), QPointF(sheet.left() + 72, sheet.bottom() - 10));

  // "Aa" in thick strokes on an orange badge: the letter case it changes.
  painter.setPen(QPen(QColor(0x7a, 0x3a, 0x00), 6));
  painter.setBrush(QColor(0xf5, 0x9a, 0x23));
  painter.drawRoundedRect(QRectF(92, 132, 148, 104), 28, 28);
  QPen letter(Qt::white, 17, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(letter);
  painter.setBrush(Qt::NoBrush);
  QPainterPath capital;
  capital.moveTo(112, 218);
  capital.lineTo(142, 150);
  capital.lineTo(172, 218);
  painter.drawPath(capital);
  painter.drawLine(QPointF(124, 194), QPointF(160, 194));
  painter.drawEllipse(QPointF(200, 198), 18, 19);
  painter.drawLine(QPointF(218, 176), QPointF(218, 218));
  return image;
}

QImage DrawHandPointer() {
  QImage image(PointerSize, PointerSize, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  for (int y = 0; y < static_cast<int>(HandRows.size()); ++y) {
    for (int x = 0; HandRows[y][x] != '\0'; ++x) {
      if (HandRows[y][x] == '#') image.setPixel(x + 2, y + 1, qRgba(0, 0, 0, 255));
      if (HandRows[y][x] == '.') image.setPixel(x + 2, y + 1, qRgba(255, 255, 255, 255));
    }
  }
  return image;
}

QPoint HandPointerHotSpot() { return {8, 1}; }

QByteArray CursorFile(const QImage& picture, QPoint hotSpot) {
  const QImage image = picture.convertToFormat(QImage::Format_ARGB32);
  const int width = image.width();
  const int height = image.height();
  if (width < 1 || height < 1 || width > 255 || height > 255)
    throw std::invalid_argument("a cursor picture is 1 to 255 pixels wide and high");
  if (!image.rect().contains(hotSpot)) throw std::invalid_argument("the hot spot lies outside the picture");
  const int maskRowBytes = ((width + 31) / 32) * 4;
  const quint32 colourBytes = static_cast<quint32>(width * height * 4);
  const quint32 maskBytes = static_cast<quint32>(maskRowBytes * height);
  constexpr quint32 InfoHeaderSize = 40;
  constexpr quint32 DirectorySize = 6 + 16;

  QByteArray file;
  putLe16(file, 0);  // reserved
  putLe16(file, 2);  // a cursor
  putLe16(file, 1);  // one picture
  file.append(static_cast<char>(width));
  file.append(static_cast<char>(height));
  file.append('\0');  // no palette
  file.append('\0');
  putLe16(file, hotSpot.x());
  putLe16(file, hotSpot.y());
  putLe32(file, InfoHeaderSize + colourBytes + maskBytes);
  putLe32(file, DirectorySize);

  // The picture's bitmap header counts the colour and mask rows together.
  putLe32(file, InfoHeaderSize);
  putLe32(file, static_cast<quint32>(width));
  putLe32(file, static_cast<quint32>(height * 2));
  putLe16(file, 1);   // planes
  putLe16(file, 32);  // bits per pixel
  for (int i = 0; i < 6; ++i) putLe32(file, i == 1 ? colourBytes + maskBytes : 0);

  // Rows bottom up: blue, green, red, alpha; then the mask, 1 where clear.
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) {
      const QRgb pixel = image.pixel(x, y);
      file.append(static_cast<char>(qBlue(pixel)));
      file.append(static_cast<char>(qGreen(pixel)));
      file.append(static_cast<char>(qRed(pixel)));
      file.append(static_cast<char>(qAlpha(pixel)));
    }
  }
  for (int y = height - 1; y >= 0; --y) {
    QByteArray row(maskRowBytes, '\0');
    for (int x = 0; x < width; ++x)
      if (qAlpha(image.pixel(x, y)) == 0) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    file.append(row);
  }
  return file;
}

}  // namespace orl::art
