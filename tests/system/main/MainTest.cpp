#include "system/main/Main.h"

#include "tests/support/FakeTime.h"

#include <QTemporaryDir>
#include <QVariant>

#include <gtest/gtest.h>

#include <ctime>

namespace orl::Main {
namespace {

TEST(PathExists, FilesAndFoldersExistAnythingElseDoesNot) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QFile file(dir.filePath(QStringLiteral("a.db")));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.close();
  EXPECT_TRUE(PathExists(dir.path()));
  EXPECT_TRUE(PathExists(dir.filePath(QStringLiteral("a.db"))));
  EXPECT_FALSE(PathExists(QString()));
  EXPECT_FALSE(PathExists(dir.filePath(QStringLiteral("missing"))));
  EXPECT_FALSE(PathExists(dir.filePath(QStringLiteral("a.db/below"))));
  EXPECT_FALSE(PathExists(QStringLiteral("\x01\x02")));
}

TEST(NullToDefault, ReplacesOnlyNull) {
  const QVariant empty{QString()};
  EXPECT_EQ(NullToDefault(QVariant(), QVariant(QString())), empty);
  EXPECT_EQ(NullToDefault(QVariant(42), empty), QVariant(42));
  EXPECT_EQ(NullToDefault(QVariant(QStringLiteral("x")), empty), QVariant(QStringLiteral("x")));
}

TEST(WaitSeconds, WaitsAtLeastTheRequestedTime) {
  test::FakeTime time(1000.0);
  WaitSeconds(0.4, time, time);
  EXPECT_GE(time.now(), 1000.4);
  EXPECT_LT(time.now(), 1000.45);
  EXPECT_GT(time.pumps, 0);
}

TEST(WaitSeconds, CountsAcrossMidnight) {
  test::FakeTime time(86399.5);
  WaitSeconds(1.0, time, time);
  // Half a second before midnight plus one second: half a second after it.
  EXPECT_GE(time.now(), 0.5);
  EXPECT_LT(time.now(), 0.55);
}

TEST(WaitSeconds, ZeroReturnsAtOnce) {
  test::FakeTime time(10.0);
  WaitSeconds(0.0, time, time);
  EXPECT_EQ(time.now(), 10.0);
  EXPECT_EQ(time.pumps, 0);
}

// A pump that sleeps for real, as the window's does.
class SleepingPump final : public ui::EventPump {
 public:
  void pumpOnce() override {}
  void pumpFor(int milliseconds) override {
    const timespec pause{0, milliseconds * 1000000L};
    nanosleep(&pause, nullptr);
  }
};

TEST(WaitSeconds, ARealSecondKeepsNoCoreBusy) {
  SystemTimeOfDayClock clock;
  SleepingPump pump;
  const std::clock_t cpuBefore = std::clock();
  const double wallBefore = clock.secondsSinceMidnight();
  WaitSeconds(1.0, clock, pump);
  double wall = clock.secondsSinceMidnight() - wallBefore;
  if (wall < 0) wall += 86400.0;
  const double cpu = static_cast<double>(std::clock() - cpuBefore) / CLOCKS_PER_SEC;
  EXPECT_GE(wall, 1.0);
  EXPECT_LT(cpu, 0.1);
}

TEST(CollapseBackslashes, CollapsesDoubledSeparatorsAndKeepsANetworkPrefix) {
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("/data/")), QStringLiteral("/data/"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("data//")), QStringLiteral("data/"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("a///b")), QStringLiteral("a//b"));  // one pass, no re-scan
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("a////b")), QStringLiteral("a//b"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("//server/share//")), QStringLiteral("//server/share/"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("////server")), QStringLiteral("//server"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("/")), QStringLiteral("/"));
  EXPECT_EQ(CollapseBackslashes(QStringLiteral("/data//")), QStringLiteral("/data/"));
  EXPECT_EQ(CollapseBackslashes(QString()), QString());
}

TEST(GetFileNameFromPath, TakesTheTextAfterTheLastSeparator) {
  EXPECT_EQ(GetFileNameFromPath(QStringLiteral("/data/sub/ORDERS.db")), QStringLiteral("ORDERS.db"));
  EXPECT_EQ(GetFileNameFromPath(QStringLiteral("ORDERS.db")), QStringLiteral("ORDERS.db"));
  EXPECT_EQ(GetFileNameFromPath(QStringLiteral("/data/")), QString());
}

TEST(ApplicationTitleFor, CutsLongTitlesBackWordByWord) {
  EXPECT_EQ(ApplicationTitleFor(QStringLiteral("Orlintide")), QStringLiteral("Orlintide"));
  const QString eight = QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta Theta");
  ASSERT_EQ(eight.size(), 45);
  EXPECT_EQ(ApplicationTitleFor(eight), QStringLiteral("Alpha Beta Gamma Delta Epsilon Zeta Eta"));
  const QString forty(40, QLatin1Char('x'));
  EXPECT_EQ(ApplicationTitleFor(forty), forty);
  EXPECT_EQ(ApplicationTitleFor(QString(50, QLatin1Char('y'))), QString(40, QLatin1Char('y')));
}

TEST(ProgramDriveRoot, IsAMountPointEndingInOneSeparator) {
  const QString root = ProgramDriveRoot(QStringLiteral("/usr/bin"));
  EXPECT_TRUE(root.startsWith(QLatin1Char('/')));
  EXPECT_TRUE(root.endsWith(QLatin1Char('/')));
  EXPECT_FALSE(root.endsWith(QStringLiteral("//")));
  EXPECT_TRUE(QStringLiteral("/usr/bin/").startsWith(root));
}

}  // namespace
}  // namespace orl::Main
