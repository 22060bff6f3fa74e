#include "platform/pdx/Error.h"
#include "platform/pdx/TableLock.h"
#include "tests/platform/pdx_writer/TempFolder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>

#include <gtest/gtest.h>

namespace orl::test {
namespace {

using pdx::TableLock;

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Which locks on the file another process can take, one bit each: 1 fcntl, 2 flock.
int LocksAnotherProcessTakes(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    const int descriptor = ::open(path.c_str(), O_RDWR);
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    int taken = 0;
    if (::fcntl(descriptor, F_SETLK, &whole) == 0) taken |= 1;
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) taken |= 2;
    ::_exit(taken);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WEXITSTATUS(status);
}

std::string RefusalOf(const std::string& tablePath) {
  try {
    TableLock lock(tablePath);
  } catch (const pdx::Error& error) {
    return error.what();
  }
  return "(taken)";
}

class TableLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeFile(folder.file("T.db"), std::string(2048, 'd'));
    writeFile(folder.file("T.mb"), std::string(4096, 'm'));
  }
  TempFolder folder;
};

TEST_F(TableLockTest, HoldsItsLockFileAndBothAdvisoryLocksUntilItIsLetGo) {
  std::optional<TableLock> lock(folder.file("T.db"));
  EXPECT_EQ(lock->lockFile(), folder.file("T.lck"));
  EXPECT_TRUE(std::filesystem::is_regular_file(folder.file("T.lck")));
  EXPECT_TRUE(TableLock::heldHere(folder.file("T.db")) && TableLock::heldHere(folder.file("T.lck")));
  EXPECT_FALSE(TableLock::heldHere(folder.file("T.mb")));
  EXPECT_EQ(LocksAnotherProcessTakes(folder.file("T.db")), 0);
  // This process reading the table and closing it again keeps the lock.
  ::close(::open(folder.file("T.db").c_str(), O_RDWR));
  EXPECT_EQ(LocksAnotherProcessTakes(folder.file("T.db")), 0);
  // A second hold in the same process is refused like any other.
  EXPECT_NE(RefusalOf(folder.file("T.db")).find("its lock file T.lck is in the folder"), std::string::npos);

  lock.reset();
  EXPECT_FALSE(std::filesystem::exists(folder.file("T.lck")));
  EXPECT_FALSE(TableLock::heldHere(folder.file("T.db")));
  EXPECT_EQ(LocksAnotherProcessTakes(folder.file("T.db")), 3);
}

TEST_F(TableLockTest, ALockFileAnotherProgramWroteIntoIsLeftToIt) {
  std::filesystem::rename(folder.file("T.db"), folder.file("T.DB"));
  {
    TableLock lock(folder.file("T.DB"));  // an upper-case table gets an upper-case lock file
    ASSERT_EQ(lock.lockFile(), folder.file("T.LCK"));
    writeFile(folder.file("T.LCK"), "another program's lock record");
  }
  EXPECT_EQ(fileBytes(folder.file("T.LCK")).size(), std::string("another program's lock record").size());
}

TEST_F(TableLockTest, ALockFileAKilledHolderLeftIsTakenOverAndOneStillHeldIsNot) {
  // A holder in another process: killed at once, or kept until told to end.
  for (const bool killed : {true, false}) {
    SCOPED_TRACE(killed ? "killed" : "still held");
    int held[2], end[2];
    ASSERT_EQ(::pipe(held), 0);
    ASSERT_EQ(::pipe(end), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
      const TableLock lock(folder.file("T.db"));
      char sign = 'x';
      if (::write(held[1], &sign, 1) != 1) ::_exit(1);
      if (!killed && ::read(end[0], &sign, 1) < 0) ::_exit(1);
      ::_exit(0);  // as a kill would: the lock is never let go
    }
    char sign = 0;
    ASSERT_EQ(::read(held[0], &sign, 1), 1);
    if (killed) {
      ::waitpid(holder, nullptr, 0);
      ASSERT_TRUE(std::filesystem::exists(folder.file("T.lck")));
      { const TableLock lock(folder.file("T.db")); }
      EXPECT_FALSE(std::filesystem::exists(folder.file("T.lck")));
    } else {
      EXPECT_NE(RefusalOf(folder.file("T.db")).find("its lock file T.lck is in the folder"), std::string::npos);
      EXPECT_TRUE(std::filesystem::exists(folder.file("T.lck")));
      ASSERT_EQ(::write(end[1], &sign, 1), 1);
      ::waitpid(holder, nullptr, 0);
      std::filesystem::remove(folder.file("T.lck"));
    }
    for (int descriptor : {held[0], held[1], end[0], end[1]}) ::close(descriptor);
  }
}

std::vector<std::string> NamesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(TableLockTest, RefusesTablesItMustNotTouchAndTouchesNothing) {
  const struct {
    const char* what;
    std::function<void(const TempFolder&)> make;
    const char* reason;
  } cases[] = {
      {"another program's lock file", [](const TempFolder& at) { writeFile(at.file("t.LCK"), ""); },
       "is in use by another program (its lock file t.LCK is in the folder)"},
      {"a memo file that is a link",
       [](const TempFolder& at) {
         std::filesystem::rename(at.file("T.mb"), at.file("elsewhere.mb"));
         std::filesystem::create_symlink("elsewhere.mb", at.file("T.mb"));
       },
       "its file T.mb is a symbolic link"},
      {"an index that is a pipe", [](const TempFolder& at) { ::mkfifo(at.file("T.px").c_str(), 0644); },
       "its file T.px is not a regular file"},
  };
  for (const auto& refused : cases) {
    SCOPED_TRACE(refused.what);
    TempFolder fresh;
    writeFile(fresh.file("T.db"), std::string(2048, 'd'));
    writeFile(fresh.file("T.mb"), std::string(4096, 'm'));
    refused.make(fresh);
    const auto before = NamesIn(fresh.path());
    const std::string refusal = RefusalOf(fresh.file("T.db"));
    EXPECT_NE(refusal.find(refused.reason), std::string::npos) << refusal;
    EXPECT_EQ(NamesIn(fresh.path()), before);
  }
}

TEST_F(TableLockTest, SeesEveryChangeOfAFamilyFile) {
  const auto restoreTimes = [&](const std::string& path, const struct stat& was) {
    const timespec times[2] = {was.st_atim, was.st_mtim};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
  };
  const struct {
    const char* what;
    std::function<void()> change;
    const char* seen;
  } cases[] = {
      {"nothing", [] {}, nullptr},
      {"the content rewritten, same size, its time put back",
       [&] {
         struct stat was {};
         ::stat(folder.file("T.mb").c_str(), &was);
         writeFile(folder.file("T.mb"), std::string(4095, 'm') + "M");
         restoreTimes(folder.file("T.mb"), was);
       },
       "T.mb has other content"},
      {"only written to, with the same bytes",
       [&] { writeFile(folder.file("T.db"), std::string(2048, 'd')); }, "T.db was written to"},
      {"another file renamed over it",
       [&] {
         writeFile(folder.file("T.saving"), std::string(2048, 'd'));
         std::filesystem::rename(folder.file("T.saving"), folder.file("T.db"));
       },
       "T.db was replaced by another file"},
      {"removed", [&] { std::filesystem::remove(folder.file("T.mb")); }, "T.mb was removed"},
      {"an index added", [&] { writeFile(folder.file("T.X02"), "index"); }, "T.X02 was added"},
  };
  for (const auto& changed : cases) {
    SCOPED_TRACE(changed.what);
    SetUp();
    std::filesystem::remove(folder.file("T.X02"));
    TableLock lock(folder.file("T.db"));
    changed.change();
    if (!changed.seen) {
      EXPECT_NO_THROW(lock.requireUnchanged());
      continue;
    }
    try {
      lock.requireUnchanged();
      ADD_FAILURE() << "the change was not seen";
    } catch (const pdx::Error& error) {
      EXPECT_NE(std::string(error.what()).find(changed.seen), std::string::npos) << error.what();
      EXPECT_NE(std::string(error.what()).find("That change is kept"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace orl::test
