#include "platform/common/Error.h"
#include "system/case/Case.h"
#include "system/paradox/Paradox.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/system/run/RunFixture.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace orl::test {
namespace {

using pdx::FieldType;

// A table the run may not change: the run reports why, and the folder
// stays byte for byte as it was; once the obstacle is gone the run succeeds.
class LockedTableTest : public RunTest {
 protected:
  void SetUp() override {
    WriteTable(folders.path(QStringLiteral("T.db")), {{"A", FieldType::Alpha, 10}, {"M", FieldType::Memo, 20}},
               {{std::string("abc"), std::string(300, 'm')}, {std::string("def"), pdx::Null{}}});
    useTable(QStringLiteral("T"), QStringLiteral("A"));
  }
  void expectRefusedWith(const QString& reason) {
    const auto before = folders.snapshot();
    EXPECT_FALSE(run());
    EXPECT_TRUE(boxes.errorReports().join(QLatin1Char('\n')).contains(reason))
        << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(boxes.informs().contains(QStringLiteral("Done.")));
    EXPECT_EQ(folders.snapshot(), before);
  }
  void expectChangedNow() {
    boxes = RecordingMessageBoxes();
    EXPECT_TRUE(run()) << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("ABC")));
  }
};

TEST_F(LockedTableTest, ALockFileOfAnotherParadoxProgramKeepsTheTableAsItIs) {
  QFile lock(folders.path(QStringLiteral("t.LCK")));
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.close();
  expectRefusedWith(QStringLiteral("in use by another program (its lock file t.LCK"));
  ASSERT_TRUE(QFile::remove(folders.path(QStringLiteral("t.LCK"))));
  expectChangedNow();
}

TEST_F(LockedTableTest, AnAdvisoryLockOnTheTableFileKeepsTheTableAsItIs) {
  for (const bool byFlock : {false, true}) {
    SCOPED_TRACE(byFlock ? "flock" : "fcntl");
    // The lock is held by a child process, as another program would hold it.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      const int descriptor = ::open(QFile::encodeName(folders.path(QStringLiteral("T.db"))).constData(), O_RDWR);
      struct flock whole {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      const bool locked = byFlock ? ::flock(descriptor, LOCK_EX) == 0 : ::fcntl(descriptor, F_SETLK, &whole) == 0;
      const char sign = locked ? '1' : '0';
      if (::write(ready[1], &sign, 1) != 1) ::_exit(1);
      ::pause();
      ::_exit(0);
    }
    char sign = 0;
    ASSERT_EQ(::read(ready[0], &sign, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    ASSERT_EQ(sign, '1');
    boxes = RecordingMessageBoxes();
    expectRefusedWith(QStringLiteral("holds a lock on T.db"));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
  }
  expectChangedNow();
}

TEST_F(LockedTableTest, AReadOnlyTableFileIsLeftAsItIs) {
  for (const char* member : {"T.db", "T.mb"}) {
    SCOPED_TRACE(member);
    QFile file(folders.path(QLatin1String(member)));
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    boxes = RecordingMessageBoxes();
    expectRefusedWith(QStringLiteral("is read-only"));
    ASSERT_TRUE(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
  }
  expectChangedNow();
}

TEST_F(LockedTableTest, ATableFileThatThisUserMayNotWriteIsLeftAsItIs) {
  // Another user's table, writable by its owner only, in a folder anyone may
  // write: renaming would be allowed, changing the table is not.
  if (::geteuid() != 0) GTEST_SKIP() << "only the super-user can give a file to another user";
  const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup |
                   QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
  for (const QString& folder : {QFileInfo(folders.dataFolder()).absolutePath(), folders.dataFolder(),
                                folders.programFolder(), folders.scratchFile()})
    ASSERT_TRUE(QFile(folder).setPermissions(all));
  // The scratch database is that user's own: one anyone may read is refused first.
  ASSERT_EQ(::chown(QFile::encodeName(folders.scratchFile()).constData(), 65534, 65534), 0);
  for (const char* member : {"T.db", "T.mb"})
    ASSERT_TRUE(QFile(folders.path(QLatin1String(member)))
                    .setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
  const auto before = folders.snapshot();
  EXPECT_EXIT(
      {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) std::_Exit(3);
        const bool changed = run();
        const QString reports = boxes.errorReports().join(QLatin1Char('\n'));
        std::fputs(reports.toUtf8().constData(), stderr);
        std::_Exit(!changed && reports.contains(QStringLiteral("is read-only")) ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "T.db");
  EXPECT_EQ(folders.snapshot(), before);
  expectChangedNow();
}

TEST_F(LockedTableTest, AFolderThatRefusesNewFilesOrRenamesKeepsTheTable) {
  // The tests may run as root, for whom no folder is read-only: the
  // refusals come through the file-system seam, with the errors a
  // read-only folder or a read-only file system gives.
  pdx::PosixFileOps real;
  for (const auto& [operation, error] : {std::pair{pdx::FileOp::Create, EACCES}, std::pair{pdx::FileOp::Create, EROFS},
                                         std::pair{pdx::FileOp::Rename, EACCES}}) {
    SCOPED_TRACE(std::string(pdx::fileOpName(operation)) + " " + std::strerror(error));
    FaultInjectingFileOps refusing(real);
    refusing.failFrom(operation, 1, error);
    const auto before = folders.snapshot();
    boxes = RecordingMessageBoxes();
    Run::RunServices services{boxes, time, time, folders.programFolder(), ado::Seams{nullptr, &refusing}};
    EXPECT_FALSE(Run::PushButton1_Click(window, services));
    EXPECT_TRUE(boxes.errorReports().join(QLatin1Char('\n')).contains(QString::fromLatin1(std::strerror(error))))
        << boxes.errorReports().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(folders.snapshot(), before);
  }
  expectChangedNow();
}

}  // namespace
}  // namespace orl::test
