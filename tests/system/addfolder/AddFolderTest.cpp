#include "system/addfolder/AddFolder.h"

#include "platform/common/Error.h"
#include "platform/fso/PosixFileSystem.h"
#include "system/main/Main.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/RecordingMessageBoxes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace orl::AddFolder {
namespace {

// The real file system with failures and attribute values planted per
// path, counting what the walk asks of it.
class PlantedFileSystem final : public fso::FileSystem {
 public:
  int attributes(const QString& path) override {
    ++calls;
    return real_.attributes(path);
  }
  fso::Folder getFolder(const QString& path) override {
    ++calls;
    raiseIfPlanted(folderFailures, path);
    fso::Folder folder = real_.getFolder(path);
    if (const auto planted = attributeValues.find(path); planted != attributeValues.end())
      folder.attributes = planted->second;
    return folder;
  }
  bool isRootFolder(const QString& path) override {
    ++calls;
    ++deepCalls;
    return real_.isRootFolder(path);
  }
  QString realPath(const QString& path) override {
    ++calls;
    ++deepCalls;
    return real_.realPath(path);
  }
  QStringList subFolderNames(const QString& folder) override {
    ++calls;
    raiseIfPlanted(subFolderFailures, folder);
    return real_.subFolderNames(folder);
  }
  QStringList listNames(const QString& folder, const QString& pattern) override {
    return real_.listNames(folder, pattern);
  }
  bool isOpenableFile(const QString& path) override { return real_.isOpenableFile(path); }
  bool folderExists(const QString& path) override { return real_.folderExists(path); }
  void createFolder(const QString& path) override { real_.createFolder(path); }
  void copyFolder(const QString& source, const QString& destination, bool overwrite) override {
    real_.copyFolder(source, destination, overwrite);
  }

  std::map<QString, Error> folderFailures;
  std::map<QString, Error> subFolderFailures;
  std::map<QString, int> attributeValues;
  // Every call, and those whose cost grows with the depth of the path.
  int calls = 0;
  int deepCalls = 0;

 private:
  static void raiseIfPlanted(const std::map<QString, Error>& failures, const QString& path) {
    if (const auto planted = failures.find(path); planted != failures.end()) throw planted->second;
  }
  fso::PosixFileSystem real_;
};

class CountingPump final : public ui::EventPump {
 public:
  void pumpOnce() override { ++pumps; }
  void pumpFor(int) override { ++pumps; }
  int pumps = 0;
};

const Error AccessError(ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error"));

class AddFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString root() const { return dir_.path() + QLatin1Char('/'); }
  QStringList under(std::initializer_list<const char*> names) const {
    QStringList paths;
    for (const char* name : names) paths << root() + QString::fromUtf8(name);
    return paths;
  }
  void folders(std::initializer_list<const char*> names) const {
    for (const QString& path : under(names)) ASSERT_TRUE(QDir().mkpath(path));
  }
  void rawFolder(const QByteArray& name) const {
    ASSERT_EQ(::mkdir((root().toUtf8() + name).constData(), 0777), 0);
    ASSERT_EQ(::mkdir((root().toUtf8() + name + "/in").constData(), 0777), 0);
  }
  void files(const QString& folder, const QStringList& names) const {
    for (const QString& name : names) ASSERT_TRUE(QFile(folder + name).open(QIODevice::WriteOnly));
  }
  void link(const char* target, const char* name) const {
    ASSERT_EQ(::symlink(target, (root() + QString::fromUtf8(name)).toUtf8().constData()), 0);
  }
  QStringList walk(QStringList folders, bool recurse = true) {
    GetSubDirectories2016(folders, recurse, fs_, pump_, boxes_);
    return folders;
  }

  QTemporaryDir dir_;
  PlantedFileSystem fs_;
  CountingPump pump_;
  test::RecordingMessageBoxes boxes_;
};

TEST_F(AddFolderTest, WalksBreadthFirstParentsInOrder) {
  folders({"B/B1", "A/A1/A11"});
  EXPECT_EQ(walk({root()}), under({"", "A/", "B/", "A/A1/", "B/B1/", "A/A1/A11/"}));
  EXPECT_GE(pump_.pumps, 6);
  EXPECT_EQ(walk({root()}, false), under({"", "A/", "B/"}));
  EXPECT_EQ(walk(under({"B/B1/"})), under({"B/B1/"}));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(AddFolderTest, UnreadableFolderIsDroppedSilentlyWithItsSubtree) {
  folders({"A/A1", "B/B1", "C/C1"});
  fs_.subFolderFailures.emplace(root() + "A/", Error::permissionDenied(root() + "A/"));
  EXPECT_EQ(walk({root()}), under({"", "B/", "C/", "B/B1/", "C/C1/"}));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(AddFolderTest, UnreadableFolderOnDiskIsDropped) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  folders({"A/A1", "B"});
  ASSERT_EQ(::chmod((root() + "A").toUtf8().constData(), 0), 0);
  EXPECT_EQ(walk({root()}), under({"", "B/"}));
  ::chmod((root() + "A").toUtf8().constData(), 0700);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(AddFolderTest, LongPathsAreKeptButNotEntered) {
  // A folder whose path, with its "/", is exactly 260 characters, and a sibling one shorter.
  const qsizetype length = PathLimit - root().size() - 3;
  if (length < 2 || length > 255) GTEST_SKIP() << "temporary folder path unsuited";
  const QString longName(length, QLatin1Char('d'));
  const QString shorterName(length - 1, QLatin1Char('e'));
  ASSERT_TRUE(QDir().mkpath(root() + "p/" + longName + "/in"));
  ASSERT_TRUE(QDir().mkpath(root() + "p/" + shorterName + "/in"));
  const QStringList expected{root(), root() + "p/", root() + "p/" + longName + "/", root() + "p/" + shorterName + "/",
                             root() + "p/" + shorterName + "/in/"};
  ASSERT_EQ(expected[2].size(), PathLimit);
  EXPECT_EQ(walk({root()}), expected);
}

TEST_F(AddFolderTest, UnusableNamesAreSkippedWithTheirSubtreesHiddenOnesAreNot) {
  for (const QByteArray& name : {QByteArray("ctl\x01"), QByteArray("del\x7f"), QByteArray("c1\xc2\x85"),
                                 QByteArray("what?"), QByteArray("bad\xff"), QByteArray(".hidden")})
    rawFolder(name);
  folders({"ok"});
  EXPECT_EQ(walk({root()}), under({"", ".hidden/", "ok/", ".hidden/in/"}));
}

TEST_F(AddFolderTest, HiddenSystemFoldersAreNotEntered) {
  folders({"sys/in", "hid/in"});
  fs_.attributeValues[root() + "sys/"] = 22;
  fs_.attributeValues[root() + "hid/"] = 18;
  EXPECT_EQ(walk({root()}), under({"", "hid/", "hid/in/"}));
}

TEST_F(AddFolderTest, LinksEnterEachRealFolderOnce) {
  folders({"A/A1", "B/B1"});
  link("..", "A/up");
  link("../A", "B/toA");
  link("../B/B1", "A/toB1");
  EXPECT_EQ(walk({root()}), under({"", "A/", "B/", "A/A1/", "A/toB1/"}));
}

TEST_F(AddFolderTest, LinksToFoldersAboveTheStartAreNeitherEnteredNorListed) {
  folders({"outside/elsewhere", "chosen/deep/deeper"});
  link("..", "chosen/up");
  link("/", "chosen/deep/root");
  link("../../..", "chosen/deep/grand");
  link(dir_.path().toUtf8().constData(), "chosen/deep/deeper/absolute");
  EXPECT_EQ(walk(under({"chosen/"})), under({"chosen/", "chosen/deep/", "chosen/deep/deeper/"}));
  // Started on a link to the chosen folder, the walk knows the same folders above it.
  link("chosen", "alias");
  EXPECT_EQ(walk(under({"alias/"})), under({"alias/", "alias/deep/", "alias/deep/deeper/"}));
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(AddFolderTest, EachFolderCostsTheSameHoweverDeepItLies) {
  // Two trees: one level of 63 folders below its start, and five levels of 2, 4, ... 32.
  for (int i = 0; i < 63; ++i) ASSERT_TRUE(QDir().mkpath(root() + "flat/" + QString::number(i)));
  QStringList level{root() + "deep/"};
  ASSERT_TRUE(QDir().mkpath(level.front()));
  for (int depth = 1; depth <= 5; ++depth) {
    QStringList next;
    for (const QString& parent : level)
      for (const char* name : {"l", "r"}) {
        next << parent + QLatin1String(name) + QLatin1Char('/');
        ASSERT_TRUE(QDir().mkpath(next.back()));
      }
    level = next;
  }
  const auto cost = [&](const char* start) {
    fs_.calls = fs_.deepCalls = 0;
    const QStringList found = walk(under({start}));
    EXPECT_EQ(found.size(), 63 + 1 - (QLatin1String(start) == QLatin1String("deep/") ? 1 : 0)) << start;
    return std::pair{fs_.calls, fs_.deepCalls};
  };
  const auto [flat, flatDeep] = cost("flat/");
  const auto [deep, deepDeep] = cost("deep/");
  // The same calls a folder wherever it lies; the costly root test and path
  // resolution only once a walk, for the folders above its start.
  EXPECT_LE(deep, flat + 8);
  EXPECT_EQ(flatDeep, 1);
  EXPECT_EQ(deepDeep, 1);
}

TEST_F(AddFolderTest, FailureBeforeEnteringIsReportedAndTheWalkGoesOn) {
  folders({"X", "R/A"});
  fs_.folderFailures.emplace(root() + "X/", AccessError);
  EXPECT_EQ(walk(under({"X/", "R/"})), under({"X/", "R/", "R/A/"}));
  ASSERT_EQ(boxes_.errorReports().size(), 1);
  EXPECT_TRUE(boxes_.errorReports()[0].startsWith(
      "Path/File access error\r\nin Pellitor2021/08/31.AddFolder.GetSubDirectories2016 at line 112\r\r"));
}

TEST_F(AddFolderTest, FailuresInsideAFolderAreSilentAndASecondGoesToTheCaller) {
  folders({"R/A/A1", "R/B/B1", "X", "Y"});
  fs_.subFolderFailures.emplace(root() + "R/A/", AccessError);
  fs_.subFolderFailures.emplace(root() + "R/B/", AccessError);
  // The nested level passes its second failure up; the level above absorbs it at step 150.
  EXPECT_EQ(walk(under({"R/"})), under({"R/", "R/A/", "R/B/"}));

  fs_.subFolderFailures.emplace(root() + "X/", AccessError);
  fs_.subFolderFailures.emplace(root() + "Y/", AccessError);
  QStringList top = under({"X/", "Y/"});
  try {
    GetSubDirectories2016(top, true, fs_, pump_, boxes_);
    ADD_FAILURE() << "the second failure should reach the caller";
  } catch (const Error& error) {
    EXPECT_EQ(error.number(), ErrorNumber::PathFileAccessError);
  }
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(AddFolderTest, ListingGrowsPastHundredAndTrims) {
  QStringList names;
  for (int k = 0; k < 150; ++k) names << QStringLiteral("t%1.db").arg(k, 3, 10, QLatin1Char('0'));
  files(root(), names);
  const FileNameArray found = ListFilesInFolder(dir_.path(), QStringLiteral("*.db"), fs_);
  EXPECT_EQ(found.lowerBound(), 1);
  EXPECT_EQ(found.upperBound(), 150);
  EXPECT_EQ(found.at(1), "t000.db");
  EXPECT_EQ(found.at(150), "t149.db");
  EXPECT_EQ(found.names(), names);
  EXPECT_THROW(found.at(151), Error);
}

TEST_F(AddFolderTest, ListingKeepsOpenableMatchesOnly) {
  folders({"x.db", "empty"});
  files(root(), {".h.db", "U.DB", "x.dbf", "notes.txt"});
  link("U.DB", "l.Db");
  link("gone.db", "dangling.db");
  EXPECT_EQ(ListFilesInFolder(root(), QStringLiteral("*.db"), fs_).names(), QStringList({".h.db", "U.DB", "l.Db"}));
  for (const QString& folder : {root() + "empty", root() + "missing"}) {
    const FileNameArray none = ListFilesInFolder(folder, QStringLiteral("*.db"), fs_);
    EXPECT_EQ(none.upperBound(), 0);
    EXPECT_EQ(none.lowerBound(), 0);
    EXPECT_EQ(none.at(0), QString());
    EXPECT_THROW(none.at(1), Error);
  }
}

TEST_F(AddFolderTest, FolderAndFileTests) {
  folders({"F"});
  files(root(), {"t.db"});
  link("F", "toF");
  EXPECT_EQ(Main::IsFolder(root() + "F/", fs_), true);
  EXPECT_EQ(Main::IsFolder(root() + "toF", fs_), true);
  EXPECT_EQ(Main::IsFolder(root() + "t.db", fs_), false);
  EXPECT_EQ(Main::IsFolder(root() + "missing", fs_), std::nullopt);
  EXPECT_TRUE(IsOpenableFile(root() + "t.db", fs_));
  EXPECT_FALSE(IsOpenableFile(root() + "F", fs_));
  EXPECT_FALSE(IsOpenableFile(root() + "missing.db", fs_));
}

TEST(HasUnusableCharacters, RefusesControlsC1QuestionMarkAndHalfPairs) {
  for (const QString& name : {QStringLiteral("a\x1f"), QStringLiteral("\x7f"), QStringLiteral("x\u0080"),
                              QStringLiteral("\u009f"), QStringLiteral("why?"), QString(QChar(0xD800)) + "a",
                              QStringLiteral("a") + QChar(0xDC00)})
    EXPECT_TRUE(HasUnusableCharacters(name)) << name.toStdString();
  for (const QString& name : {QString(), QStringLiteral("Tables 2021"), QStringLiteral("~\u00a0\u00e9\u20ac"),
                              QStringLiteral("\U0001D49C")})
    EXPECT_FALSE(HasUnusableCharacters(name)) << name.toStdString();
}

}  // namespace
}  // namespace orl::AddFolder
