#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/FaultInjectingFileOps.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

namespace orl::pdx {
namespace {

using test::FaultInjectingFileOps;
using test::TempFolder;
using Contents = std::map<std::string, std::vector<std::uint8_t>>;

// The names alone, for messages.
std::string namesIn(const Contents& contents) {
  std::string names;
  for (const auto& [name, bytes] : contents) names += name + " ";
  return names;
}

// Every file in the folder with its bytes.
Contents contentsOf(const std::string& folder) {
  Contents contents;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    contents[entry.path().filename().string()] = test::fileBytes(entry.path().string());
  return contents;
}

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

WriterSettings newTableSettings() {
  WriterSettings settings;
  settings.tableName = "CUSTOMER.DB";
  settings.fields = {{"Name", FieldType::Alpha, 20}, {"Notes", FieldType::Memo, 11}};
  settings.modifiedTime = 1'600'000'000;
  return settings;
}

// The write-back's sequence: stage the new table, then commit it.
void replaceTable(FileOps& files, const std::string& folder, const std::function<void()>& beforeCommit = {}) {
  FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
  TableWriter writer(files, replacement.stagedPath("CUSTOMER.DB"), newTableSettings());
  writer.append({std::string("SMITH"), std::string(3000, 'n')});
  writer.append({std::string("JONES"), Null{}});
  writer.finish();
  if (beforeCommit) beforeCommit();
  replacement.commit();
}

// How many file operations a replacement makes, and how many of them come
// before its commit.
struct OperationCount {
  int beforeCommit = 0;
  int total = 0;
};

OperationCount countOperations(FileOps& real, const std::function<void(const std::string&)>& makeOriginal) {
  TempFolder dry;
  makeOriginal(dry.path());
  FaultInjectingFileOps counting(real);
  OperationCount count;
  replaceTable(counting, dry.path(), [&] { count.beforeCommit = counting.total(); });
  count.total = counting.total();
  return count;
}

class SafeReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    original = makeOriginal(folder.path());
    // The new family as a replacement that nothing disturbs leaves it.
    TempFolder clean;
    makeOriginal(clean.path());
    replaceTable(real, clean.path());
    replaced = contentsOf(clean.path());
  }

  static Contents makeOriginal(const std::string& folder) {
    put(folder + "/CUSTOMER.DB", "old table");
    put(folder + "/CUSTOMER.PX", "old primary index");
    put(folder + "/customer.mb", "old memos");
    put(folder + "/CUSTOMER.X02", "old secondary index");
    put(folder + "/CUSTOMER.YG1", "old secondary index tree");
    put(folder + "/Customer.VAL", "old validity checks");
    put(folder + "/ORDERS.DB", "another table");
    put(folder + "/CUSTOMER.DB.bak", "not of the family");
    return contentsOf(folder);
  }

  TempFolder folder;
  PosixFileOps real;
  Contents original;
  Contents replaced;
};

TEST_F(SafeReplaceTest, CommitPutsTheNewFamilyInPlaceOfTheWholeOldOne) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : replaced) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"CUSTOMER.DB", "CUSTOMER.DB.bak", "CUSTOMER.MB", "ORDERS.DB"}));
  EXPECT_EQ(replaced["ORDERS.DB"], original["ORDERS.DB"]);
  EXPECT_EQ(replaced["CUSTOMER.DB.bak"], original["CUSTOMER.DB.bak"]);
  replaceTable(real, folder.path());
  EXPECT_EQ(contentsOf(folder.path()), replaced);
  EXPECT_EQ(test::readRows(folder.file("CUSTOMER.DB")).size(), 2u);
}

TEST_F(SafeReplaceTest, TheNewFamilyIsAsPrivateOrAsSharedAsTheOldOne) {
  struct stat info {};
  const auto statOf = [&](const std::string& path) {
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info;
  };
  const bool root = ::geteuid() == 0;
  // Somebody else's memo file, in a group of its own, when the tests may give files away.
  const uid_t otherUser = root ? 65534 : ::geteuid();
  const gid_t otherGroup = root ? 65534 : ::getegid();
  ASSERT_EQ(::chmod(folder.file("CUSTOMER.DB").c_str(), 0640), 0);
  ASSERT_EQ(::chmod(folder.file("customer.mb").c_str(), 0660), 0);
  ASSERT_EQ(::chown(folder.file("customer.mb").c_str(), otherUser, otherGroup), 0);
  replaceTable(real, folder.path());
  EXPECT_EQ(statOf(folder.file("CUSTOMER.DB")).st_mode & 07777, 0640u);
  EXPECT_EQ(statOf(folder.file("CUSTOMER.MB")).st_mode & 07777, 0660u);
  EXPECT_EQ(info.st_uid, otherUser);
  EXPECT_EQ(info.st_gid, otherGroup);

  // Without an old memo file, the new one is like the old table file.
  TempFolder bare;
  put(bare.file("CUSTOMER.DB"), "old table");
  ASSERT_EQ(::chmod(bare.file("CUSTOMER.DB").c_str(), 0600), 0);
  replaceTable(real, bare.path());
  EXPECT_EQ(statOf(bare.file("CUSTOMER.MB")).st_mode & 07777, 0600u);
}

// Another process in the middle of a replacement: it has written part of
// its new table and not yet committed.
class ReplacementInAnotherProcess {
 public:
  ReplacementInAnotherProcess(const std::string& folder, int holdMilliseconds) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    child_ = ::fork();
    if (child_ == 0) {
      PosixFileOps files;
      FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
      files.createExclusive(replacement.stagedPath("CUSTOMER.DB"))->close();
      if (::write(ready[1], "1", 1) != 1) ::_exit(1);
      ::usleep(static_cast<useconds_t>(holdMilliseconds) * 1000);
      ::_exit(0);
    }
    char sign = 0;
    EXPECT_EQ(::read(ready[0], &sign, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
  }
  ~ReplacementInAnotherProcess() {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
  }
  ReplacementInAnotherProcess(const ReplacementInAnotherProcess&) = delete;
  ReplacementInAnotherProcess& operator=(const ReplacementInAnotherProcess&) = delete;

 private:
  pid_t child_ = -1;
};

TEST_F(SafeReplaceTest, ARunningReplacementIsNeverTakenForLeftoversByAnotherProcess) {
  {
    ReplacementInAnotherProcess other(folder.path(), 60'000);
    const Contents during = contentsOf(folder.path());
    ASSERT_EQ(during.count(".orlintide-new.CUSTOMER.DB"), 1u);
    EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::InProgress);
    EXPECT_TRUE(FamilyReplacement::recoverFolder(real, folder.path()).empty());
    EXPECT_EQ(contentsOf(folder.path()), during);
    // A second replacement waits for the first, then gives up, changing nothing.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(replaceTable(real, folder.path()), Error);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(contentsOf(folder.path()), during);
  }
  // Once the other process is gone (killed here), its staged file is a leftover.
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::RolledBack);
  EXPECT_EQ(contentsOf(folder.path()), original);
}

TEST_F(SafeReplaceTest, AReplacementWaitsForOneThatEndsSoon) {
  ReplacementInAnotherProcess other(folder.path(), 300);
  replaceTable(real, folder.path());
  EXPECT_EQ(contentsOf(folder.path()), replaced);
}

TEST_F(SafeReplaceTest, AFailureAtAnyFileOperationLeavesTheOriginalOrTheNewFamily) {
  FaultInjectingFileOps counting(real);
  {
    TempFolder dry;
    makeOriginal(dry.path());
    replaceTable(counting, dry.path());
  }
  int cases = 0;
  for (const FileOp kind : {FileOp::Create, FileOp::Write, FileOp::Flush, FileOp::Close, FileOp::Rename,
                            FileOp::Remove, FileOp::List, FileOp::Exists, FileOp::SyncFolder, FileOp::Read,
                            FileOp::CopyAccess, FileOp::OpenFolder}) {
    for (int n = 1; n <= counting.count(kind); ++n) {
      SCOPED_TRACE(std::string(fileOpName(kind)) + " #" + std::to_string(n));
      TempFolder trial;
      makeOriginal(trial.path());
      FaultInjectingFileOps faulty(real);
      faulty.failNth(kind, n);
      bool succeeded = true;
      try {
        replaceTable(faulty, trial.path());
      } catch (const Error& error) {
        succeeded = false;
        EXPECT_NE(std::string(error.what()).find(trial.path()), std::string::npos) << error.what();
      }
      ASSERT_TRUE(faulty.failed());
      // A reported failure leaves the original; a success the new table,
      // perhaps with old files set aside that recovery removes.
      Contents visible;
      for (const auto& [name, bytes] : contentsOf(trial.path()))
        if (name[0] != '.') visible[name] = bytes;
      EXPECT_EQ(visible, succeeded ? replaced : original);
      FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
      EXPECT_EQ(contentsOf(trial.path()), succeeded ? replaced : original);
      ++cases;
    }
  }
  EXPECT_GT(cases, 30);
}

TEST_F(SafeReplaceTest, AProcessKilledAtAnyMomentLeavesWhatRecoveryPutsRight) {
  FaultInjectingFileOps counting(real);
  {
    TempFolder dry;
    makeOriginal(dry.path());
    replaceTable(counting, dry.path());
  }
  bool sawOriginal = false;
  bool sawNew = false;
  for (int stop = 0; stop < counting.total(); ++stop) {
    SCOPED_TRACE("killed after " + std::to_string(stop) + " operations");
    TempFolder trial;
    makeOriginal(trial.path());
    FaultInjectingFileOps dying(real);
    dying.stopAfter(stop);
    try {
      replaceTable(dying, trial.path());
    } catch (const Error&) {
      // Expected until the new family is in place; a death after that is no failure.
    }
    FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
    const Contents after = contentsOf(trial.path());
    EXPECT_TRUE(after == original || after == replaced);
    sawOriginal = sawOriginal || after == original;
    sawNew = sawNew || after == replaced;
  }
  EXPECT_TRUE(sawOriginal);
  EXPECT_TRUE(sawNew);
}

TEST_F(SafeReplaceTest, RenamesThatKeepFailingLeaveWhatRecoveryFinishes) {
  // The commit cannot move everything back either; the journal and the
  // staged files stay, and recovery completes the replacement.
  FaultInjectingFileOps counting(real);
  {
    TempFolder dry;
    makeOriginal(dry.path());
    replaceTable(counting, dry.path());
  }
  for (int n = 1; n <= counting.count(FileOp::Rename); ++n) {
    SCOPED_TRACE("renames fail from #" + std::to_string(n));
    TempFolder trial;
    makeOriginal(trial.path());
    FaultInjectingFileOps faulty(real);
    faulty.failFrom(FileOp::Rename, n);
    try {
      replaceTable(faulty, trial.path());
    } catch (const Error&) {
      // Reported; what is left is for recovery.
    }
    FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
    const Contents after = contentsOf(trial.path());
    EXPECT_TRUE(after == original || after == replaced);
  }
}

TEST_F(SafeReplaceTest, WithoutACommitTheStagedFilesGoAndTheOriginalStays) {
  {
    FamilyReplacement replacement(real, folder.path(), "CUSTOMER.DB");
    TableWriter writer(real, replacement.stagedPath("CUSTOMER.DB"), newTableSettings());
    writer.append({std::string("x"), std::string(5000, 'y')});
    writer.finish();
  }
  EXPECT_EQ(contentsOf(folder.path()), original);
  EXPECT_THROW(FamilyReplacement(real, folder.path(), "CUSTOMER.DB").stagedPath("ORDERS.DB"), Error);
  FamilyReplacement nothingStaged(real, folder.path(), "CUSTOMER.DB");
  EXPECT_THROW(nothingStaged.commit(), Error);
  EXPECT_EQ(contentsOf(folder.path()), original);
}

TEST_F(SafeReplaceTest, RecoveryRecognisesEachKindOfLeftover) {
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "customer.db"), Recovery::NothingLeft);

  put(folder.file(".orlintide-new.CUSTOMER.DB"), "half a table");
  put(folder.file(".orlintide-replace.CUSTOMER.DB.tmp"), "orlintide family");
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::RolledBack);
  EXPECT_EQ(contentsOf(folder.path()), original);

  // Killed after the journal and the first rename aside.
  const std::string journal = "orlintide family replacement 1\nold CUSTOMER.DB\nold CUSTOMER.PX\nnew CUSTOMER.DB\nend\n";
  put(folder.file(".orlintide-replace.CUSTOMER.DB"), journal);
  std::filesystem::rename(folder.file("CUSTOMER.DB"), folder.file(".orlintide-old.CUSTOMER.DB"));
  {
    WriterSettings settings = newTableSettings();
    settings.fields.pop_back();  // no memo file
    TableWriter staged(real, folder.file(".orlintide-new.CUSTOMER.DB"), settings);
    staged.append({std::string("NEW")});
    staged.finish();
  }
  Contents expected = original;
  expected.erase("CUSTOMER.PX");
  expected["CUSTOMER.DB"] = test::fileBytes(folder.file(".orlintide-new.CUSTOMER.DB"));
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::RolledForward);
  EXPECT_EQ(contentsOf(folder.path()), expected);

  // Killed while removing what was set aside.
  put(folder.file(".orlintide-done.CUSTOMER.DB"), journal);
  put(folder.file(".orlintide-old.CUSTOMER.PX"), "old primary index");
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::CleanedUp);
  EXPECT_EQ(contentsOf(folder.path()), expected);
}

TEST_F(SafeReplaceTest, ADamagedOrForeignJournalTouchesNothing) {
  for (const std::string& journal :
       {std::string("orlintide family replacement 1\nold CUSTOMER.DB\n"),
        std::string("orlintide family replacement 1\nold ORDERS.DB\nnew CUSTOMER.DB\nend\n"),
        std::string("orlintide family replacement 1\nold ../CUSTOMER.DB\nend\n")}) {
    put(folder.file(".orlintide-replace.CUSTOMER.DB"), journal);
    EXPECT_THROW(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Error) << journal;
    std::filesystem::remove(folder.file(".orlintide-replace.CUSTOMER.DB"));
    EXPECT_EQ(contentsOf(folder.path()), original);
  }
}

TEST_F(SafeReplaceTest, ACopySetAsideIsNeverDroppedWhileTheOriginalIsMissingOrPresent) {
  // An old file aside with no journal: it comes back if its place is free,
  // and is left for the user when something else took the place.
  std::filesystem::rename(folder.file("CUSTOMER.PX"), folder.file(".orlintide-old.CUSTOMER.PX"));
  EXPECT_EQ(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Recovery::RolledBack);
  EXPECT_EQ(contentsOf(folder.path()), original);
  put(folder.file(".orlintide-old.CUSTOMER.DB"), "an older table");
  EXPECT_THROW(FamilyReplacement::recover(real, folder.path(), "CUSTOMER.DB"), Error);
  EXPECT_TRUE(std::filesystem::exists(folder.file(".orlintide-old.CUSTOMER.DB")));
}

TEST_F(SafeReplaceTest, APowerLossAtAnyMomentLeavesTheOriginalOrTheNewFamily) {
  // The disk keeps flushed data and flushed folder entries; of the changes
  // since the folder's last flush it keeps none, all, or some at random.
  const OperationCount count = countOperations(real, makeOriginal);
  std::mt19937 random(20261208);
  std::bernoulli_distribution coin(0.5);
  bool sawOriginal = false;
  bool sawNew = false;
  for (int stop = count.beforeCommit; stop <= count.total; ++stop) {
    for (int pattern = 0; pattern < 3; ++pattern) {
      SCOPED_TRACE("power lost after " + std::to_string(stop) + " operations, pattern " + std::to_string(pattern));
      TempFolder trial;
      makeOriginal(trial.path());
      FaultInjectingFileOps dying(real);
      dying.trackPowerLoss(trial.path());
      if (stop < count.total) dying.stopAfter(stop);
      bool succeeded = false;
      try {
        replaceTable(dying, trial.path());
        succeeded = true;
      } catch (const Error&) {
        // The power went; what the disk kept is judged below.
      }
      dying.powerLoss([&](std::size_t) { return pattern == 0 ? false : pattern == 1 || coin(random); });
      try {
        FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
      } catch (const Error&) {
        // Judged by what is left.
      }
      const Contents after = contentsOf(trial.path());
      // A replacement reported done stays done.
      if (succeeded) {
        EXPECT_TRUE(after == replaced) << namesIn(after);
      }
      EXPECT_TRUE(after == original || after == replaced) << namesIn(after);
      sawOriginal = sawOriginal || after == original;
      sawNew = sawNew || after == replaced;
    }
  }
  EXPECT_TRUE(sawOriginal);
  EXPECT_TRUE(sawNew);
}

TEST_F(SafeReplaceTest, ARecoveryByAProgramWithoutFolderLocksFinishesTheSwapAndTheRunSaysSo) {
  // On a file system without working locks, another program's listing runs
  // a recovery at any moment of the swap. Whatever the run then reports must
  // be true: done means the new table is in place; a message about the
  // journal or a kept copy names files that exist.
  const OperationCount count = countOperations(real, makeOriginal);
  int finishedByTheOther = 0;
  for (int moment = count.beforeCommit; moment <= count.total; ++moment) {
    SCOPED_TRACE("the other program recovers before operation " + std::to_string(moment));
    TempFolder trial;
    makeOriginal(trial.path());
    FaultInjectingFileOps run(real);
    run.withoutLocks();
    int seen = 0;
    run.beforeEach([&](FileOp, const std::string&) {
      if (++seen != moment) return;
      FaultInjectingFileOps other(real);
      other.withoutLocks();
      try {
        FamilyReplacement::recover(other, trial.path(), "CUSTOMER.DB");
      } catch (const Error&) {
        // The other program reports its own trouble.
      }
    });
    std::string message;
    try {
      replaceTable(run, trial.path());
    } catch (const Error& error) {
      message = error.what();
    }
    if (message.empty()) {
      EXPECT_TRUE(contentsOf(trial.path()) == replaced) << namesIn(contentsOf(trial.path()));
      finishedByTheOther += seen >= moment;
    } else if (message.find("journal") != std::string::npos || message.find("kept as") != std::string::npos) {
      for (std::size_t open = message.find('"'); open != std::string::npos;) {
        const std::size_t close = message.find('"', open + 1);
        ASSERT_NE(close, std::string::npos) << message;
        EXPECT_TRUE(std::filesystem::exists(message.substr(open + 1, close - open - 1))) << message;
        open = message.find('"', close + 1);
      }
    }
    FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
    const Contents after = contentsOf(trial.path());
    EXPECT_TRUE(after == original || after == replaced) << message << "; left: " << namesIn(after);
  }
  EXPECT_GT(finishedByTheOther, 0);
}

TEST_F(SafeReplaceTest, ARecoveryThatFailsOrDiesAtAnyOperationLeavesWhatTheNextOneFinishes) {
  // What a run killed in its swap leaves: journal written, the old table already aside.
  const OperationCount count = countOperations(real, makeOriginal);
  Contents interrupted;
  for (int stop = count.beforeCommit; !interrupted.count(".orlintide-old.CUSTOMER.DB"); ++stop) {
    ASSERT_LT(stop, count.total);
    TempFolder probe;
    makeOriginal(probe.path());
    FaultInjectingFileOps dying(real);
    dying.stopAfter(stop);
    EXPECT_THROW(replaceTable(dying, probe.path()), Error);
    interrupted = contentsOf(probe.path());
  }
  const auto leaveInterrupted = [&](const std::string& into) {
    for (const auto& [name, bytes] : interrupted)
      put(into + "/" + name, std::string(bytes.begin(), bytes.end()));
  };
  const auto nextRecoveryFinishes = [&](FaultInjectingFileOps& faulty) {
    TempFolder trial;
    leaveInterrupted(trial.path());
    try {
      FamilyReplacement::recover(faulty, trial.path(), "CUSTOMER.DB");
    } catch (const Error&) {
      // The next recovery finishes it.
    }
    FamilyReplacement::recover(real, trial.path(), "CUSTOMER.DB");
    EXPECT_TRUE(contentsOf(trial.path()) == replaced) << namesIn(contentsOf(trial.path()));
  };

  FaultInjectingFileOps counting(real);
  nextRecoveryFinishes(counting);
  for (int operation = 0; operation < counting.total(); ++operation) {
    SCOPED_TRACE("recovery killed after " + std::to_string(operation) + " operations");
    FaultInjectingFileOps dying(real);
    dying.stopAfter(operation);
    nextRecoveryFinishes(dying);
  }
  for (const FileOp kind : {FileOp::Rename, FileOp::Remove, FileOp::SyncFolder, FileOp::Read, FileOp::Exists}) {
    for (int n = 1; n <= counting.count(kind); ++n) {
      SCOPED_TRACE(std::string("recovery fails to ") + fileOpName(kind) + " #" + std::to_string(n));
      FaultInjectingFileOps failing(real);
      failing.failNth(kind, n);
      nextRecoveryFinishes(failing);
    }
  }
}

}  // namespace
}  // namespace orl::pdx
