#include "platform/common/Error.h"
#include "system/case/Case.h"
#include "system/paradox/Paradox.h"
#include "system/paradox/TableHistory.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/support/OtherUser.h"
#include "tests/system/run/RunFixture.h"

#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

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

TEST_F(LockedTableTest, ARestoreLeavesATableAnotherProgramHoldsAsItIs) {
  expectChangedNow();
  QFile lock(folders.path(QStringLiteral("T.lck")));
  ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
  lock.close();
  const auto before = folders.snapshot();
  try {
    Paradox::RestoreTable(folders.dataFolder(), QStringLiteral("T"), 1, 10, boxes);
    ADD_FAILURE() << "a held table was restored";
  } catch (const Error& error) {
    EXPECT_TRUE(error.description().contains(QStringLiteral("in use by another program"))) << error.description().toStdString();
  }
  EXPECT_EQ(folders.snapshot(), before);
  ASSERT_TRUE(QFile::remove(folders.path(QStringLiteral("T.lck"))));
  EXPECT_EQ(Paradox::RestoreTable(folders.dataFolder(), QStringLiteral("T"), 1, 10, boxes),
            Paradox::RestoreOutcome::Restored);
  EXPECT_EQ(ReadTable(folders.path(QStringLiteral("T.db"))).rows[0][0], ado::Value::text(QStringLiteral("abc")));
  EXPECT_FALSE(QFile::exists(folders.path(QStringLiteral("T.lck"))));
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


// What a file is to anyone looking: its bytes (or where a link leads), its
// permissions and its owner.
struct FileState {
  std::string content;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  bool operator==(const FileState&) const = default;
};

// Every entry of a folder but its sub-folders, links not followed.
std::map<std::string, FileState> StatesIn(const std::string& folder) {
  std::map<std::string, FileState> states;
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) return states;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string path = folder + "/" + entry->d_name;
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) continue;
    FileState state{{}, status.st_mode, status.st_uid, status.st_gid};
    if (S_ISLNK(status.st_mode)) {
      char target[4096];
      const ssize_t size = ::readlink(path.c_str(), target, sizeof target);
      state.content.assign(target, static_cast<std::size_t>(std::max<ssize_t>(size, 0)));
    } else {
      QFile file(QString::fromStdString(path));
      if (file.open(QIODevice::ReadOnly)) state.content = file.readAll().toStdString();
    }
    states[entry->d_name] = state;
  }
  ::closedir(directory);
  return states;
}

// Replaces `from` by `to` in the file's bytes, in place, as a program that
// ignores every lock would; 0 when it did.
int EditInPlace(const std::string& path, const std::string& from, const std::string& to) {
  const int descriptor = ::open(path.c_str(), O_RDWR);
  if (descriptor < 0) return 1;
  std::string bytes(static_cast<std::size_t>(::lseek(descriptor, 0, SEEK_END)), '\0');
  const bool read = ::pread(descriptor, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
  const std::size_t at = bytes.find(from);
  const bool written =
      read && at != std::string::npos &&
      ::pwrite(descriptor, to.data(), to.size(), static_cast<off_t>(at)) == static_cast<ssize_t>(to.size());
  ::close(descriptor);
  return written ? 0 : 1;
}

// The same edit saved the way many programs save: a new file renamed over the old.
int EditByRenameOver(const std::string& path, const std::string& from, const std::string& to) {
  const std::string temporary = path + ".saving";
  if (std::system(("cp '" + path + "' '" + temporary + "'").c_str()) != 0) return 1;
  if (EditInPlace(temporary, from, to) != 0) return 1;
  return ::rename(temporary.c_str(), path.c_str()) == 0 ? 0 : 1;
}

// Which of another program's three ways to take the table succeeded, one
// bit each: an fcntl lock, an flock, a lock file of its own.
int TakeTable(const std::string& folder) {
  int taken = 0;
  const int descriptor = ::open((folder + "/T.db").c_str(), O_RDWR);
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  if (descriptor >= 0 && ::fcntl(descriptor, F_SETLK, &whole) == 0) taken |= 1;
  if (descriptor >= 0 && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0) taken |= 2;
  const int lockFile = ::open((folder + "/T.lck").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  if (lockFile >= 0) {
    taken |= 4;
    ::close(lockFile);
    ::unlink((folder + "/T.lck").c_str());
  }
  if (descriptor >= 0) ::close(descriptor);
  return taken;
}

// Another user's program that takes something and keeps it until it ends.
class OtherProgram {
 public:
  OtherProgram(const OtherUser& user, const std::function<int()>& take) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) throw std::runtime_error("cannot make pipes");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::_exit(user.run([&] {
        const int result = take();
        const char sign = result == 0 ? '1' : '0';
        char wait = 0;
        if (::write(ready_[1], &sign, 1) != 1 || ::read(release_[0], &wait, 1) < 0) return 1;
        return result;
      }));
    }
    char sign = 0;
    took_ = ::read(ready_[0], &sign, 1) == 1 && sign == '1';
  }
  ~OtherProgram() {
    const char go = 'x';
    if (::write(release_[1], &go, 1) != 1) ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    for (int descriptor : {ready_[0], ready_[1], release_[0], release_[1]}) ::close(descriptor);
  }
  OtherProgram(const OtherProgram&) = delete;
  OtherProgram& operator=(const OtherProgram&) = delete;
  bool took() const { return took_; }

 private:
  int ready_[2] = {-1, -1};
  int release_[2] = {-1, -1};
  pid_t pid_ = -1;
  bool took_ = false;
};

// A table in a folder that other users may write, changed by a run while
// another user's program tries to take it or change it. Afterwards every
// file of the folder and beside it is what that program made of it.
class SharedFolderRunTest : public RunTest {
 protected:
  void SetUp() override {
    mallory = OtherUser::make("orltest-b");
    std::vector<std::vector<pdx::Value>> rows{{std::string("first"), std::string(300, 'm')}};
    for (int i = 1; i < 300; ++i) rows.push_back({"r" + std::to_string(i), pdx::Null{}});
    WriteTable(QString::fromStdString(shared.file("T.db")), {{"A", FieldType::Alpha, 10}, {"M", FieldType::Memo, 20}},
               rows);
    // Colleagues may edit the table; the run must keep what they save.
    for (const char* member : {"T.db", "T.mb"}) ::chmod(shared.file(member).c_str(), 0666);
    useTable(QStringLiteral("T"), QStringLiteral("A"));
    window.folder = QString::fromStdString(shared.path());
    besideBefore = StatesIn(shared.outside());
  }
  void TearDown() override { EXPECT_EQ(StatesIn(shared.outside()), besideBefore); }

  QString reports() const { return boxes.errorReports().join(QLatin1Char('\n')); }
  // Field A of a row of the table as it is in the folder now.
  ado::Value valueAt(std::size_t row) const {
    return ReadTable(QString::fromStdString(shared.file("T.db"))).rows.at(row)[0];
  }
  bool staged() const { return !statements.recorder.scratchStatements.filter(QStringLiteral("INSERT INTO")).isEmpty(); }
  void expectRefusedBeforeStaging(const QString& reason) {
    const auto before = StatesIn(shared.path());
    boxes = RecordingMessageBoxes();
    statements.recorder = StatementRecorder();
    EXPECT_FALSE(run());
    EXPECT_EQ(boxes.errorReports().size(), 1);
    EXPECT_TRUE(reports().contains(reason) && reports().contains(QStringLiteral("at line 108")))
        << reports().toStdString();
    EXPECT_FALSE(staged());
    EXPECT_FALSE(boxes.informs().contains(QStringLiteral("Done.")));
    EXPECT_EQ(StatesIn(shared.path()), before);
  }
  // Has `edit` done by another user while the run checks its new table; the
  // swap is refused and the edit (which gives field A of `row` the value
  // `edited`) kept.
  void expectEditDuringTheCheckKept(const std::function<int()>& edit, std::size_t row, const QString& value) {
    boxes = RecordingMessageBoxes();
    std::map<std::string, FileState> edited;
    int editResult = -1;
    window.onProgress = [&](double percent) {
      if (editResult != -1 || percent <= 90 || percent >= 100) return;
      editResult = mallory->run(edit);
      edited = StatesIn(shared.path());
      // The run's own lock file and staged table, gone once the run ends.
      edited.erase("T.lck");
      edited.erase(".orlintide-new.T.db");
    };
    EXPECT_FALSE(run());
    ASSERT_EQ(editResult, 0);
    EXPECT_TRUE(reports().contains(QStringLiteral("was changed by another program"))) << reports().toStdString();
    EXPECT_FALSE(boxes.informs().contains(QStringLiteral("Done.")));
    EXPECT_EQ(StatesIn(shared.path()), edited);
    EXPECT_EQ(valueAt(row), ado::Value::text(value));
  }

  // The program folder open to the ordinary user `victim`, whose table and
  // scratch database these become (one anyone may read is refused first).
  void giveRunTo(const OtherUser& victim) {
    const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup |
                     QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    for (const QString& folder : {QFileInfo(folders.dataFolder()).absolutePath(), folders.programFolder(),
                                  folders.scratchFile()})
      ASSERT_TRUE(QFile(folder).setPermissions(all));
    ASSERT_EQ(::chown(QFile::encodeName(folders.scratchFile()).constData(), victim.uid(), victim.gid()), 0);
    for (const char* member : {"T.db", "T.mb"})
      ASSERT_EQ(::chown(shared.file(member).c_str(), victim.uid(), victim.gid()), 0);
  }

  SharedFolder shared;
  std::optional<OtherUser> mallory;
  std::map<std::string, FileState> besideBefore;
};

TEST_F(SharedFolderRunTest, ATableAnotherUsersProgramHoldsIsRefusedBeforeStaging) {
  if (!mallory) GTEST_SKIP() << OtherUser::whyNot();
  const std::string table = shared.file("T.db");
  const auto takeWith = [&](int operation) {
    return [=] {
      const int descriptor = ::open(table.c_str(), O_RDWR);
      struct flock whole {};
      whole.l_type = F_WRLCK;
      whole.l_whence = SEEK_SET;
      return operation == LOCK_EX ? ::flock(descriptor, LOCK_EX) : ::fcntl(descriptor, F_SETLK, &whole);
    };
  };
  for (const int operation : {F_SETLK, LOCK_EX}) {
    SCOPED_TRACE(operation == LOCK_EX ? "flock" : "fcntl");
    OtherProgram holder(*mallory, takeWith(operation));
    ASSERT_TRUE(holder.took());
    expectRefusedBeforeStaging(QStringLiteral("holds a lock on T.db"));
  }
  ASSERT_EQ(mallory->run([&] { return ::close(::open(shared.file("T.LCK").c_str(), O_WRONLY | O_CREAT, 0644)); }), 0);
  expectRefusedBeforeStaging(QStringLiteral("its lock file T.LCK is in the folder"));
}

TEST_F(SharedFolderRunTest, AnotherUsersProgramCannotTakeTheTableWhileTheRunHoldsIt) {
  if (!mallory) GTEST_SKIP() << OtherUser::whyNot();
  int takenDuringRun = -1;
  statements.onStatement = [&](const QString& statement) {
    if (takenDuringRun == -1 && statement.startsWith(QStringLiteral("update [")))
      takenDuringRun = mallory->run([&] { return TakeTable(shared.path()); });
  };
  EXPECT_TRUE(run()) << reports().toStdString();
  EXPECT_EQ(takenDuringRun, 0);
  EXPECT_EQ(valueAt(0), ado::Value::text(QStringLiteral("FIRST")));
  // The run let everything go: no lock file of its own is left, and the table is free again.
  EXPECT_EQ(StatesIn(shared.path()).count("T.lck"), 0U);
  EXPECT_EQ(mallory->run([&] { return TakeTable(shared.path()); }), 7);
}

TEST_F(SharedFolderRunTest, AnotherUsersEditSavedInPlaceDuringTheCheckIsKept) {
  if (!mallory) GTEST_SKIP() << OtherUser::whyNot();
  // A record the check has read already, and one it is still to read.
  expectEditDuringTheCheckKept([&] { return EditInPlace(shared.file("T.db"), "first", "other"); }, 0,
                               QStringLiteral("other"));
  expectEditDuringTheCheckKept([&] { return EditInPlace(shared.file("T.db"), "r299", "last"); }, 299,
                               QStringLiteral("last"));
}

TEST_F(SharedFolderRunTest, AnotherUsersEditSavedByRenameOverDuringTheCheckIsKept) {
  if (!mallory) GTEST_SKIP() << OtherUser::whyNot();
  // Renaming over a file is theirs to do where the folder is not sticky.
  ASSERT_EQ(::chmod(shared.path().c_str(), 0777), 0);
  expectEditDuringTheCheckKept([&] { return EditByRenameOver(shared.file("T.db"), "first", "other"); }, 0,
                               QStringLiteral("other"));
}

TEST_F(SharedFolderRunTest, TableFilesThatAreLinksAreRefusedAndWhereTheyLeadIsUntouched) {
  // The table's files live beside the folder; the folder holds links to them.
  for (const char* member : {"T.db", "T.mb"}) {
    ASSERT_EQ(::rename(shared.file(member).c_str(), (shared.outside() + "/" + member).c_str()), 0);
    ASSERT_EQ(::symlink((std::string("../") + member).c_str(), shared.file(member).c_str()), 0);
  }
  besideBefore = StatesIn(shared.outside());
  expectRefusedBeforeStaging(QStringLiteral("its file T.db is a symbolic link"));
  // A lock file planted as a link to a file elsewhere is another program's lock, and is not followed.
  for (const char* member : {"T.db", "T.mb"}) {
    ASSERT_EQ(::unlink(shared.file(member).c_str()), 0);
    ASSERT_EQ(::rename((shared.outside() + "/" + member).c_str(), shared.file(member).c_str()), 0);
  }
  ASSERT_EQ(::symlink("../T.private", shared.file("T.lck").c_str()), 0);
  QFile privateFile(QString::fromStdString(shared.outside() + "/T.private"));
  ASSERT_TRUE(privateFile.open(QIODevice::WriteOnly));
  privateFile.write("private");
  privateFile.close();
  besideBefore = StatesIn(shared.outside());
  expectRefusedBeforeStaging(QStringLiteral("its lock file T.lck is in the folder"));
}

TEST_F(SharedFolderRunTest, AnOrdinaryUsersLinkedTableIsRefusedAndWhereItsLinksLeadIsUntouched) {
  const auto victim = OtherUser::make("orltest-a");
  if (!mallory || !victim) GTEST_SKIP() << OtherUser::whyNot();
  giveRunTo(*victim);
  for (const std::string member : {"T.db", "T.mb"}) {
    ASSERT_EQ(::rename(shared.file(member).c_str(), (shared.outside() + "/" + member).c_str()), 0);
    ASSERT_EQ(::symlink(("../" + member).c_str(), shared.file(member).c_str()), 0);
    ASSERT_EQ(::lchown(shared.file(member).c_str(), victim->uid(), victim->gid()), 0);
  }
  besideBefore = StatesIn(shared.outside());
  const auto before = StatesIn(shared.path());
  EXPECT_EQ(victim->run([&] {
    const bool changed = run();
    return !changed && reports().contains(QStringLiteral("its file T.db is a symbolic link")) ? 0 : 1;
  }),
            0);
  EXPECT_EQ(StatesIn(shared.path()), before);
}

TEST_F(SharedFolderRunTest, AnOrdinaryUsersRunKeepsAnotherUserOutAndKeepsTheirEdit) {
  const auto victim = OtherUser::make("orltest-a");
  if (!mallory || !victim) GTEST_SKIP() << OtherUser::whyNot();
  giveRunTo(*victim);

  // The other user's program waits for its moment, then tries to take the
  // table (each success one bit) and saves an edit in place regardless.
  int go[2], done[2];
  ASSERT_EQ(::pipe(go), 0);
  ASSERT_EQ(::pipe(done), 0);
  const pid_t other = ::fork();
  if (other == 0) {
    ::close(go[1]);
    ::_exit(mallory->run([&] {
      char sign = 0;
      if (::read(go[0], &sign, 1) != 1) return 1;
      const char outcome = static_cast<char>(TakeTable(shared.path()) |
                                             (EditInPlace(shared.file("T.db"), "first", "other") == 0 ? 0 : 8));
      return ::write(done[1], &outcome, 1) == 1 ? 0 : 1;
    }));
  }
  ::close(go[0]);
  ::close(done[1]);
  char otherOutcome = -1;
  window.onProgress = [&](double percent) {
    if (otherOutcome != -1 || percent <= 90 || percent >= 100) return;
    const char sign = 'x';
    if (::write(go[1], &sign, 1) != 1 || ::read(done[0], &otherOutcome, 1) != 1) otherOutcome = 16;
  };
  const int runOutcome = victim->run([&] {
    const bool changed = run();
    if (otherOutcome != 0) return 10 + otherOutcome;
    if (changed || !reports().contains(QStringLiteral("was changed by another program"))) return 2;
    return 0;
  });
  ::close(go[1]);
  ::close(done[0]);
  ::waitpid(other, nullptr, 0);
  EXPECT_EQ(runOutcome, 0) << "10 + the other program's bits: 1 fcntl, 2 flock, 4 lock file taken, 8 edit failed";
  const auto states = StatesIn(shared.path());
  EXPECT_EQ(states.size(), 2U);  // T.db and T.mb: nothing of the run is left
  EXPECT_EQ(states.at("T.db").owner, victim->uid());
  EXPECT_EQ(states.at("T.db").mode & 07777, 0666U);
  EXPECT_EQ(valueAt(0), ado::Value::text(QStringLiteral("other")));
}

TEST_F(SharedFolderRunTest, TheProgramOfAnOrdinaryUserRefusesATableAnotherUserHoldsAndChangesItOnceFree) {
  const auto victim = OtherUser::make("orltest-a");
  if (!mallory || !victim) GTEST_SKIP() << OtherUser::whyNot();
  const QString program = folders.programFolder() + QStringLiteral("/orlintide");
  ASSERT_TRUE(QFile::copy(QStringLiteral(ORLINTIDE_PROGRAM), program));
  const auto all = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::WriteGroup |
                   QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
  for (const QString& path : {QFileInfo(folders.dataFolder()).absolutePath(), folders.programFolder(),
                              folders.scratchFile(), program})
    ASSERT_TRUE(QFile(path).setPermissions(all));
  ASSERT_EQ(::chown(QFile::encodeName(folders.scratchFile()).constData(), victim->uid(), victim->gid()), 0);
  for (const char* member : {"T.db", "T.mb"})
    ASSERT_EQ(::chown(shared.file(member).c_str(), victim->uid(), victim->gid()), 0);
  const std::vector<std::string> change{program.toStdString(), "--folder", shared.path(), "--table", "T",
                                        "--field", "A", "--case", "upper"};
  const std::string home = shared.outside() + "/home-a";
  const auto before = StatesIn(shared.path());
  {
    OtherProgram holder(*mallory, [&] { return ::flock(::open(shared.file("T.db").c_str(), O_RDWR), LOCK_EX); });
    ASSERT_TRUE(holder.took());
    const CommandResult refused = victim->command(change, home);
    EXPECT_EQ(refused.exitCode, 1) << refused.output;
    EXPECT_NE(refused.output.find("in use by another program"), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("Done."), std::string::npos);
    EXPECT_EQ(StatesIn(shared.path()), before);
  }
  const CommandResult done = victim->command(change, home);
  EXPECT_EQ(done.exitCode, 0) << done.output;
  const auto after = StatesIn(shared.path());
  EXPECT_EQ(after.size(), 2U);  // no lock file or working file left
  EXPECT_EQ(after.at("T.db").owner, victim->uid());
  EXPECT_EQ(after.at("T.db").mode & 07777, 0666U);
  EXPECT_EQ(valueAt(0), ado::Value::text(QStringLiteral("FIRST")));
}

}  // namespace
}  // namespace orl::test
