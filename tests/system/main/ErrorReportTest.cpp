#include "system/main/ErrorReport.h"

#include "system/main/BuildSettings.h"
#include "tests/support/RecordingMessageBoxes.h"

#include <gtest/gtest.h>

#include <vector>

namespace orl {
namespace {

const QString Support = QStringLiteral("Please email screenshot of this message to " ORLINTIDE_SUPPORT_EMAIL);

TEST(ErrorReport, TextIsByteExactForTheRunAndTheFolderWalk) {
  test::RecordingMessageBoxes boxes;
  ErrorReport run(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton1_Click"), boxes);
  run.step(154, [] { throw Error::overflow(); });
  ErrorReport walk(QStringLiteral("Pellitor"), QStringLiteral("AddFolder"), QStringLiteral("GetSubDirectories2016"), boxes);
  walk.step(100, [] { throw Error(ErrorNumber::PathNotFound, QStringLiteral("Path not found")); });

  ASSERT_EQ(boxes.errorReports().size(), 2);
  EXPECT_EQ(boxes.errorReports()[0],
            QStringLiteral("Overflow\r\nin Brennick2021/08/31.Form2.PushButton1_Click at line 154\r\r") + Support);
  EXPECT_EQ(boxes.errorReports()[1],
            QStringLiteral("Path not found\r\nin Pellitor2021/08/31.AddFolder.GetSubDirectories2016 at line 100\r\r") +
                Support);
}

TEST(ErrorReport, LocationEndsInOneSpace) {
  test::RecordingMessageBoxes boxes;
  ErrorReport load(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("Form_Load"), boxes);
  EXPECT_EQ(load.location(), QStringLiteral("in Brennick2021/08/31.Form1.Form_Load "));
}

TEST(ErrorReport, AFailingStepIsReportedAndTheProcedureResumesAtTheNextStep) {
  test::RecordingMessageBoxes boxes;
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton1_Click"), boxes);
  std::vector<int> ran;
  EXPECT_TRUE(report.step(100, [&] { ran.push_back(100); }));
  EXPECT_FALSE(report.step(102, [&] {
    ran.push_back(102);
    throw Error::permissionDenied(QStringLiteral("/data"));
    ran.push_back(-1);  // never reached: the rest of a failing step is undone
  }));
  EXPECT_TRUE(report.step(104, [&] { ran.push_back(104); }));
  EXPECT_EQ(ran, (std::vector<int>{100, 102, 104}));
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports()[0].startsWith(QStringLiteral("Permission denied: /data\r\n")));
  EXPECT_TRUE(boxes.errorReports()[0].contains(QStringLiteral(" at line 102\r\r")));
}

TEST(ErrorReport, AFailingTestEntersTheGuardedBranch) {
  test::RecordingMessageBoxes boxes;
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton1_Click"), boxes);
  EXPECT_TRUE(report.test(104, []() -> bool { throw Error::overflow(); }));
  EXPECT_FALSE(report.test(106, [] { return false; }));
  EXPECT_TRUE(report.test(108, [] { return true; }));
  ASSERT_EQ(boxes.errorReports().size(), 1);
  EXPECT_TRUE(boxes.errorReports()[0].contains(QStringLiteral("at line 104")));
}

TEST(ErrorReport, FailuresOtherThanOursAreReportedToo) {
  test::RecordingMessageBoxes boxes;
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form1"), QStringLiteral("Form_Load"), boxes);
  report.step(100, [] { throw std::bad_alloc(); });
  report.step(102, [] { throw std::runtime_error("boom"); });
  ASSERT_EQ(boxes.errorReports().size(), 2);
  EXPECT_TRUE(boxes.errorReports()[0].startsWith(QStringLiteral("Out of memory\r\n")));
  EXPECT_TRUE(boxes.errorReports()[1].startsWith(QStringLiteral("Internal error: boom\r\n")));
}

}  // namespace
}  // namespace orl
