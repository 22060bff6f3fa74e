#include "platform/common/Error.h"
#include "platform/ui/Pointer.h"
#include "tools/makeart/Art.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageReader>
#include <QTemporaryDir>

#include <stdexcept>

namespace orl::art {
namespace {

const QString ProgramFolder = QStringLiteral(ORLINTIDE_BUILT_PROGRAM_FOLDER);

QImage readCursor(const QByteArray& bytes) {
  QBuffer buffer;
  buffer.setData(bytes);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, "cur");
  return reader.read().convertToFormat(QImage::Format_ARGB32);
}

TEST(Art, ThePointerFileBesideTheProgramLoadsWithTheHandsHotSpot) {
  const QCursor pointer = ui::LoadPointerFile(ProgramFolder + QStringLiteral("/HAND-M.CUR"));
  EXPECT_EQ(pointer.hotSpot(), HandPointerHotSpot());
  EXPECT_EQ(pointer.pixmap().size(), QSize(32, 32));
}

TEST(Art, TheHotSpotIsTheTipOfTheFinger) {
  const QImage hand = DrawHandPointer();
  const QPoint tip = HandPointerHotSpot();
  EXPECT_EQ(qAlpha(hand.pixel(tip)), 255);
  // Nothing of the hand lies above the tip or left of it on its row.
  for (int y = 0; y < hand.height(); ++y)
    for (int x = 0; x < hand.width(); ++x)
      if (y < tip.y() || (y == tip.y() && x < tip.x())) {
        EXPECT_EQ(qAlpha(hand.pixel(x, y)), 0) << x << "," << y;
      }
}

TEST(Art, ACursorFileGivesBackItsPictureWithClearAndOpaquePixels) {
  const QImage hand = DrawHandPointer();
  const QImage back = readCursor(CursorFile(hand, HandPointerHotSpot()));
  ASSERT_EQ(back.size(), hand.size());
  int clear = 0, outline = 0, fill = 0;
  for (int y = 0; y < hand.height(); ++y) {
    for (int x = 0; x < hand.width(); ++x) {
      const QRgb drawn = hand.pixel(x, y);
      const QRgb read = back.pixel(x, y);
      EXPECT_EQ(qAlpha(read), qAlpha(drawn)) << x << "," << y;
      if (qAlpha(drawn) == 0) {
        ++clear;
        continue;
      }
      EXPECT_EQ(qRgb(qRed(read), qGreen(read), qBlue(read)), qRgb(qRed(drawn), qGreen(drawn), qBlue(drawn)));
      ++(qRed(drawn) == 0 ? outline : fill);
    }
  }
  EXPECT_GT(clear, 0);
  EXPECT_GT(outline, 0);
  EXPECT_GT(fill, 0);
}

TEST(Art, ACursorFileForAnOddSizedPictureKeepsItsHotSpot) {
  // 37 pixels wide: the mask rows are padded to whole 32-bit words.
  QImage picture(37, 5, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  picture.setPixel(36, 4, qRgba(255, 0, 0, 255));
  const QByteArray file = CursorFile(picture, {36, 4});
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("odd.cur"));
  QFile out(path);
  ASSERT_TRUE(out.open(QIODevice::WriteOnly));
  out.write(file);
  out.close();
  const QCursor pointer = ui::LoadPointerFile(path);
  EXPECT_EQ(pointer.hotSpot(), QPoint(36, 4));
  const QImage back = readCursor(file);
  EXPECT_EQ(back.pixel(36, 4), qRgba(255, 0, 0, 255));
  EXPECT_EQ(qAlpha(back.pixel(35, 4)), 0);
}

TEST(Art, ACursorFileIsRefusedForAPictureItCannotHold) {
  const QImage hand = DrawHandPointer();
  EXPECT_THROW(CursorFile(hand, {32, 0}), std::invalid_argument);
  EXPECT_THROW(CursorFile(hand, {-1, 3}), std::invalid_argument);
  EXPECT_THROW(CursorFile(QImage(256, 16, QImage::Format_ARGB32), {0, 0}), std::invalid_argument);
  EXPECT_THROW(CursorFile(QImage(), {0, 0}), std::invalid_argument);
}

TEST(Art, TheProgramIconsBesideTheProgramAreRoundedSquares) {
  for (const int size : {256, 48}) {
    SCOPED_TRACE(size);
    const QImage icon(ProgramFolder + QStringLiteral("/orlintide-%1.png").arg(size));
    ASSERT_EQ(icon.size(), QSize(size, size));
    EXPECT_TRUE(icon.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)})
      EXPECT_EQ(qAlpha(icon.pixel(corner)), 0);
    EXPECT_EQ(qAlpha(icon.pixel(size / 2, size / 2)), 255);
    EXPECT_EQ(icon.convertToFormat(QImage::Format_ARGB32), DrawProgramIcon(size).convertToFormat(QImage::Format_ARGB32));
  }
}

}  // namespace
}  // namespace orl::art
