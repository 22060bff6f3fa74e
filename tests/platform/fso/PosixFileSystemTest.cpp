#include "platform/fso/PosixFileSystem.h"

#include "platform/common/Error.h"
#include "tests/support/OtherUser.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orl::fso {
namespace {

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
  QString path(const QString& relative) const { return dir_.filePath(relative); }
  void folder(const QString& relative) const { ASSERT_TRUE(QDir().mkpath(path(relative))); }
  void file(const QString& relative, const QByteArray& content = "x") const {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path(relative)).path()));
    QFile out(path(relative));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(content);
  }
  QByteArray read(const QString& relative) const {
    QFile in(path(relative));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
  }
  void link(const char* target, const QString& relative) const {
    ASSERT_EQ(::symlink(target, path(relative).toUtf8().constData()), 0);
  }
  int errorNumberOf(auto&& action) {
    try {
      action();
    } catch (const Error& error) {
      return error.number();
    }
    return 0;
  }

  QTemporaryDir dir_;
  PosixFileSystem fs_;
};

TEST_F(PosixFileSystemTest, AttributesShowFolderHiddenAndLinkBits) {
  folder(QStringLiteral("plain"));
  folder(QStringLiteral(".dot"));
  file(QStringLiteral("t.db"));
  link("plain", QStringLiteral("toPlain"));
  link("t.db", QStringLiteral(".toFile"));
  EXPECT_EQ(fs_.attributes(path(QStringLiteral("plain"))), Attribute::Directory);
  EXPECT_EQ(fs_.attributes(path(QStringLiteral("plain/"))), Attribute::Directory);
  EXPECT_EQ(fs_.attributes(path(QStringLiteral(".dot/"))), Attribute::Directory | Attribute::Hidden);
  EXPECT_EQ(fs_.attributes(path(QStringLiteral("t.db"))), 0);
  // The trailing separator must not make the link look like its target.
  EXPECT_EQ(fs_.attributes(path(QStringLiteral("toPlain/"))), Attribute::Directory | Attribute::Alias);
  EXPECT_EQ(fs_.attributes(path(QStringLiteral(".toFile"))), Attribute::Alias | Attribute::Hidden);
  EXPECT_EQ(errorNumberOf([&] { fs_.attributes(path(QStringLiteral("missing"))); }), ErrorNumber::PathNotFound);
}

TEST_F(PosixFileSystemTest, FolderObjectKnowsRootAndRealIdentity) {
  folder(QStringLiteral("real"));
  link("real", QStringLiteral("alias"));
  file(QStringLiteral("t.db"));
  EXPECT_TRUE(fs_.isRootFolder(QStringLiteral("/")));
  if (QFileInfo::exists(QStringLiteral("/proc/self"))) {
    EXPECT_TRUE(fs_.isRootFolder(QStringLiteral("/proc/")));
  }
  const Folder real = fs_.getFolder(path(QStringLiteral("real/")));
  EXPECT_FALSE(fs_.isRootFolder(path(QStringLiteral("real/"))));
  EXPECT_EQ(fs_.getFolder(path(QStringLiteral("alias/"))).identity, real.identity);
  EXPECT_EQ(fs_.realPath(path(QStringLiteral("alias/"))), QFileInfo(path(QStringLiteral("real"))).canonicalFilePath());
  EXPECT_EQ(errorNumberOf([&] { fs_.getFolder(path(QStringLiteral("t.db"))); }), ErrorNumber::PathNotFound);
  EXPECT_EQ(errorNumberOf([&] { fs_.getFolder(path(QStringLiteral("none/"))); }), ErrorNumber::PathNotFound);
}

TEST_F(PosixFileSystemTest, SubFoldersInByteOrderWithLinksAndBadBytesAsQuestionMarks) {
  for (const char* name : {"b", "B", "a", ".h", "\xc3\xa9"}) folder(QString::fromUtf8(name));
  ASSERT_EQ(::mkdir(path(QStringLiteral("x")).toUtf8().append("\xff").constData(), 0777), 0);
  link("a", QStringLiteral("c"));
  link("missing", QStringLiteral("dangling"));
  file(QStringLiteral("f.db"));
  EXPECT_EQ(fs_.subFolderNames(path(QString())),
            QStringList({".h", "B", "a", "b", "c", "x?", QStringLiteral("\u00e9")}));
  EXPECT_EQ(errorNumberOf([&] { fs_.subFolderNames(path(QStringLiteral("none"))); }), ErrorNumber::PathNotFound);
}

TEST_F(PosixFileSystemTest, UnreadableFolderIsPermissionDenied) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  folder(QStringLiteral("locked/inner"));
  ASSERT_EQ(::chmod(path(QStringLiteral("locked")).toUtf8().constData(), 0), 0);
  // Opening it must not need the right to read it: the walk drops it only when listing fails.
  EXPECT_NO_THROW(fs_.getFolder(path(QStringLiteral("locked/"))));
  EXPECT_FALSE(fs_.isRootFolder(path(QStringLiteral("locked/"))));
  EXPECT_EQ(errorNumberOf([&] { fs_.subFolderNames(path(QStringLiteral("locked"))); }),
            ErrorNumber::PermissionDenied);
  ::chmod(path(QStringLiteral("locked")).toUtf8().constData(), 0700);
}

TEST(MatchesPattern, WildcardsIgnoreLetterCase) {
  EXPECT_TRUE(MatchesPattern(QStringLiteral("ORDERS.DB"), QStringLiteral("*.db")));
  EXPECT_TRUE(MatchesPattern(QStringLiteral(".hidden.db"), QStringLiteral("*.db")));
  EXPECT_TRUE(MatchesPattern(QStringLiteral("a.db.db"), QStringLiteral("*.db")));
  EXPECT_TRUE(MatchesPattern(QStringLiteral("\u00c4RGER.db"), QStringLiteral("\u00e4rger.DB")));
  EXPECT_TRUE(MatchesPattern(QStringLiteral("\U0001D49C.db"), QStringLiteral("?.db")));
  EXPECT_TRUE(MatchesPattern(QStringLiteral("anything"), QStringLiteral("*")));
  EXPECT_FALSE(MatchesPattern(QStringLiteral("x.dbf"), QStringLiteral("*.db")));
  EXPECT_FALSE(MatchesPattern(QStringLiteral("xdb"), QStringLiteral("*.db")));
  EXPECT_FALSE(MatchesPattern(QStringLiteral("ab.db"), QStringLiteral("?.db")));
}

TEST_F(PosixFileSystemTest, ListingAndOpenTest) {
  file(QStringLiteral("b.DB"));
  file(QStringLiteral(".a.db"));
  file(QStringLiteral("c.txt"));
  folder(QStringLiteral("x.db"));
  link("b.DB", QStringLiteral("l.db"));
  link("missing", QStringLiteral("m.db"));
  const int bad = ::creat(path(QStringLiteral("z")).toUtf8().append("\xfe.db").constData(), 0666);
  ASSERT_GE(bad, 0);
  ::close(bad);
  EXPECT_EQ(fs_.listNames(path(QString()), QStringLiteral("*.db")), QStringList({".a.db", "b.DB", "l.db", "m.db", "x.db"}));
  EXPECT_TRUE(fs_.listNames(path(QStringLiteral("none")), QStringLiteral("*.db")).isEmpty());
  EXPECT_TRUE(fs_.isOpenableFile(path(QStringLiteral("b.DB"))));
  EXPECT_TRUE(fs_.isOpenableFile(path(QStringLiteral("l.db"))));
  EXPECT_FALSE(fs_.isOpenableFile(path(QStringLiteral("m.db"))));
  EXPECT_FALSE(fs_.isOpenableFile(path(QStringLiteral("x.db"))));
  EXPECT_FALSE(fs_.isOpenableFile(path(QStringLiteral("none.db"))));
}

TEST_F(PosixFileSystemTest, CreateFolderNeedsParentAndRefusesExisting) {
  EXPECT_FALSE(fs_.folderExists(path(QStringLiteral("TestDB"))));
  fs_.createFolder(path(QStringLiteral("TestDB")));
  EXPECT_TRUE(fs_.folderExists(path(QStringLiteral("TestDB"))));
  EXPECT_EQ(errorNumberOf([&] { fs_.createFolder(path(QStringLiteral("TestDB"))); }), ErrorNumber::FileAlreadyExists);
  EXPECT_EQ(errorNumberOf([&] { fs_.createFolder(path(QStringLiteral("no/TestDB"))); }), ErrorNumber::PathNotFound);
}

TEST_F(PosixFileSystemTest, CopyFolderMergesContentIntoTheDestinationItself) {
  file(QStringLiteral("My Tables/a.db"), "new a");
  file(QStringLiteral("My Tables/deep/er/b.db"), "new b");
  file(QStringLiteral("TestDB/a.db"), "old a");
  file(QStringLiteral("TestDB/keep.db"), "kept");
  link("..", QStringLiteral("My Tables/deep/up"));
  fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("TestDB")), true);
  EXPECT_EQ(read(QStringLiteral("TestDB/a.db")), "new a");
  EXPECT_EQ(read(QStringLiteral("TestDB/deep/er/b.db")), "new b");
  EXPECT_EQ(read(QStringLiteral("TestDB/keep.db")), "kept");
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("TestDB/My Tables"))));
  // A link back up is copied as the link it is, not followed.
  EXPECT_EQ(QFileInfo(path(QStringLiteral("TestDB/deep/up"))).symLinkTarget(), path(QStringLiteral("TestDB")));

  EXPECT_EQ(errorNumberOf([&] { fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("Into/")), true); }),
            ErrorNumber::PathNotFound);
  folder(QStringLiteral("Into"));
  fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("Into/")), true);
  EXPECT_EQ(read(QStringLiteral("Into/My Tables/a.db")), "new a");
}

TEST_F(PosixFileSystemTest, CopyFolderFailuresAndSelfCopyLoseNothing) {
  file(QStringLiteral("src/a.db"), "source");
  file(QStringLiteral("dst/a.db"), "there");
  EXPECT_EQ(errorNumberOf([&] { fs_.copyFolder(path(QStringLiteral("src")), path(QStringLiteral("dst")), false); }),
            ErrorNumber::FileAlreadyExists);
  EXPECT_EQ(read(QStringLiteral("dst/a.db")), "there");
  EXPECT_EQ(errorNumberOf([&] { fs_.copyFolder(path(QStringLiteral("gone")), path(QStringLiteral("dst")), true); }),
            ErrorNumber::PathNotFound);
  fs_.copyFolder(path(QStringLiteral("src")), path(QStringLiteral("src")), true);
  EXPECT_EQ(read(QStringLiteral("src/a.db")), "source");
  // A destination inside the source is not copied into itself over and over.
  fs_.copyFolder(path(QStringLiteral("src")), path(QStringLiteral("src/inner")), true);
  EXPECT_EQ(read(QStringLiteral("src/inner/a.db")), "source");
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("src/inner/inner"))));
}

TEST_F(PosixFileSystemTest, CopyFolderCopiesLinksAsLinksAndNeverLeavesTheSource) {
  file(QStringLiteral("outside/secret.db"), "outside");
  file(QStringLiteral("My Tables/sub/a.db"), "a");
  link("/", QStringLiteral("My Tables/root"));
  link("..", QStringLiteral("My Tables/parent"));
  link("../../outside", QStringLiteral("My Tables/sub/away"));
  link("a.db", QStringLiteral("My Tables/sub/same.db"));
  link("missing", QStringLiteral("My Tables/dangling"));
  file(QStringLiteral("TestDB/root"), "replaced by the link");
  fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("TestDB")), true);

  const auto linkTarget = [&](const char* name) {
    const QByteArray at = path(QString::fromLatin1(name)).toUtf8();
    char target[4096];
    const ssize_t length = ::readlink(at.constData(), target, sizeof target);
    return length < 0 ? QByteArray("(no link)") : QByteArray(target, static_cast<int>(length));
  };
  EXPECT_EQ(linkTarget("TestDB/root"), "/");
  EXPECT_EQ(linkTarget("TestDB/parent"), "..");
  EXPECT_EQ(linkTarget("TestDB/sub/away"), "../../outside");
  EXPECT_EQ(linkTarget("TestDB/sub/same.db"), "a.db");
  EXPECT_EQ(linkTarget("TestDB/dangling"), "missing");
  EXPECT_EQ(read(QStringLiteral("TestDB/sub/a.db")), "a");
  // Nothing from outside the source was copied: the target holds what the source holds, no more.
  QStringList copied;
  QDirIterator entries(path(QStringLiteral("TestDB")),
                       QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
  while (entries.hasNext()) copied << entries.next().mid(path(QStringLiteral("TestDB")).size());
  copied.sort();
  EXPECT_EQ(copied, (QStringList{"/dangling", "/parent", "/root", "/sub", "/sub/a.db", "/sub/away", "/sub/same.db"}));

  // Without overwrite, a link is not put over what is there.
  EXPECT_EQ(errorNumberOf([&] {
              fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("TestDB")), false);
            }),
            ErrorNumber::FileAlreadyExists);
}

TEST_F(PosixFileSystemTest, CopyFolderNeverWritesThroughALinkStandingAtTheDestination) {
  file(QStringLiteral("outside/secret.db"), "outside");
  file(QStringLiteral("My Tables/a.db"), "new a");
  file(QStringLiteral("My Tables/sub/b.db"), "new b");
  folder(QStringLiteral("TestDB"));
  link(path(QStringLiteral("outside/secret.db")).toUtf8().constData(), QStringLiteral("TestDB/a.db"));
  link(path(QStringLiteral("outside")).toUtf8().constData(), QStringLiteral("TestDB/sub"));

  // Without overwrite, a link standing there is refused, and nothing is written through it.
  EXPECT_EQ(errorNumberOf([&] {
              fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("TestDB")), false);
            }),
            ErrorNumber::FileAlreadyExists);
  fs_.copyFolder(path(QStringLiteral("My Tables")), path(QStringLiteral("TestDB")), true);
  EXPECT_EQ(read(QStringLiteral("outside/secret.db")), "outside");
  EXPECT_FALSE(QFile::exists(path(QStringLiteral("outside/b.db"))));
  EXPECT_FALSE(QFileInfo(path(QStringLiteral("TestDB/a.db"))).isSymLink());
  EXPECT_EQ(read(QStringLiteral("TestDB/a.db")), "new a");
  EXPECT_FALSE(QFileInfo(path(QStringLiteral("TestDB/sub"))).isSymLink());
  EXPECT_EQ(read(QStringLiteral("TestDB/sub/b.db")), "new b");
}

// A destination other users may write (mode 1777) with a link another user
// planted there: whether root or an ordinary user copies, nothing is written
// where the link leads.
TEST_F(PosixFileSystemTest, CopyFolderWritesThroughNoLinkAnotherUserPlanted) {
  const auto mallory = test::OtherUser::make("orltest-b");
  const auto alice = test::OtherUser::make("orltest-a");
  if (!mallory || !alice) GTEST_SKIP() << test::OtherUser::whyNot();
  for (const bool copierIsRoot : {true, false}) {
    SCOPED_TRACE(copierIsRoot ? "root" : "an ordinary user");
    const test::SharedFolder testDb;
    const QString copier = QLatin1String(copierIsRoot ? "root" : "alice");
    const QString own = path(copier);
    file(copier + "/secret.db", "private");
    file(copier + "/My Tables/a.db", "new a");
    ASSERT_EQ(::chmod(QFile::encodeName(dir_.path()).constData(), 0755), 0);
    if (!copierIsRoot) {
      for (const QString& mine : {own, own + "/secret.db", own + "/My Tables", own + "/My Tables/a.db"}) {
        ASSERT_EQ(::chown(QFile::encodeName(mine).constData(), alice->uid(), alice->gid()), 0);
      }
    }
    const std::string secret = QFile::encodeName(own + "/secret.db").toStdString();
    ASSERT_EQ(mallory->run([&] { return ::symlink(secret.c_str(), testDb.file("a.db").c_str()); }), 0);

    const auto copy = [&] {
      try {
        fs_.copyFolder(own + "/My Tables", QString::fromStdString(testDb.path()), true);
        return 0;
      } catch (const Error&) {
        return 1;  // the sticky folder keeps another user's link where only its owner may remove it
      }
    };
    const int copied = copierIsRoot ? copy() : alice->run(copy);
    QFile kept(own + "/secret.db");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "private");
    if (copierIsRoot) {
      EXPECT_EQ(copied, 0);
      EXPECT_FALSE(QFileInfo(QString::fromStdString(testDb.file("a.db"))).isSymLink());
    }
  }
}

}  // namespace
}  // namespace orl::fso
