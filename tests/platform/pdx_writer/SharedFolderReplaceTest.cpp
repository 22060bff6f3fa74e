// A table replaced, or its leftovers recovered, in a folder that other
// users may write: nothing they plant or swap in turns the program against
// the tables or against files elsewhere, and the access the old table gave
// is exactly what the new one gives.

#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/support/OtherUser.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>

namespace orl::pdx {
namespace {

using test::FaultInjectingFileOps;
using test::OtherUser;
using test::TempFolder;

// A file as another user could tell it apart: bytes, kind, mode and owners.
struct FileState {
  std::vector<std::uint8_t> bytes;
  mode_t mode = 0;
  uid_t owner = 0;
  gid_t group = 0;
  bool operator==(const FileState&) const = default;
};
using FolderState = std::map<std::string, FileState>;

FileState stateOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
  FileState state{{}, info.st_mode, info.st_uid, info.st_gid};
  if (S_ISREG(info.st_mode)) state.bytes = test::fileBytes(path);
  return state;
}

FolderState stateOfFolder(const std::string& folder) {
  FolderState state;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    state[entry.path().filename().string()] = stateOf(entry.path().string());
  return state;
}

void writeTable(const std::string& path, const std::string& value, mode_t mode) {
  WriterSettings settings;
  settings.tableName = std::filesystem::path(path).filename().string();
  settings.fields = {{"Name", FieldType::Alpha, 20}};
  settings.modifiedTime = 1'600'000'000;
  PosixFileOps files;
  TableWriter writer(files, path, settings);
  writer.append({value});
  writer.finish();
  ::chmod(path.c_str(), mode);
}

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string journal(const std::string& oldMember, const std::string& newMember) {
  return "orlintide family replacement 1\nold " + oldMember + "\nnew " + newMember + "\nend\n";
}

// What another user plants beside the victim's tables: a journal that
// would replace CUSTOMER.DB by a table of theirs, one that would drop
// ORDERS.DB for a validity file, and a staged file with no journal.
int plant(const std::string& folder) {
  writeTable(folder + "/.orlintide-new.CUSTOMER.DB", "MALLORY", 0644);
  put(folder + "/.orlintide-replace.CUSTOMER.DB", journal("CUSTOMER.DB", "CUSTOMER.DB"));
  put(folder + "/.orlintide-new.ORDERS.val", "validity");
  put(folder + "/.orlintide-replace.ORDERS.DB", journal("ORDERS.DB", "ORDERS.val"));
  writeTable(folder + "/.orlintide-new.ITEMS.DB", "MALLORY", 0644);
  return 0;
}

// The victim's tables, private to the victim.
int makeTables(const std::string& folder) {
  writeTable(folder + "/CUSTOMER.DB", "ALICE", 0600);
  writeTable(folder + "/ORDERS.DB", "ORDER 1", 0640);
  writeTable(folder + "/ITEMS.DB", "ITEM 1", 0600);
  return 0;
}

// 0 when the recovery left all three tables alone and named each planted
// journal or file in one report per table.
int recoverAndJudge(const std::string& folder) {
  PosixFileOps files;
  const auto failures = FamilyReplacement::recoverFolder(files, folder);
  if (failures.size() != 3) return 10 + static_cast<int>(failures.size());
  for (const std::string planted : {".orlintide-replace.CUSTOMER.DB", ".orlintide-replace.ORDERS.DB",
                                    ".orlintide-new.ITEMS.DB"}) {
    int naming = 0;
    for (const auto& failure : failures)
      naming += failure.find(folder + "/" + planted + "\" (owned by another user)") != std::string::npos;
    if (naming != 1) return 20;
  }
  return 0;
}

// 0 when a replacement of CUSTOMER.DB refuses to start, naming the planted journal.
int runIsRefused(const std::string& folder) {
  PosixFileOps files;
  try {
    FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
  } catch (const Error& error) {
    return std::string(error.what()).find(folder + "/.orlintide-replace.CUSTOMER.DB") != std::string::npos ? 0 : 2;
  }
  return 1;
}

class SharedFolderReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mallory = OtherUser::make("orltest-b");
    if (!mallory) GTEST_SKIP() << OtherUser::whyNot();
  }
  std::optional<OtherUser> mallory;
};

TEST_F(SharedFolderReplaceTest, JournalsAndFilesPlantedByAnotherUserAreReportedAndChangeNothing) {
  const auto alice = OtherUser::make("orltest-a");
  ASSERT_TRUE(alice);
  for (const bool victimIsRoot : {true, false}) {
    SCOPED_TRACE(victimIsRoot ? "root lists the folder" : "an ordinary user lists the folder");
    test::SharedFolder shared;
    const std::string folder = shared.path();
    ASSERT_EQ(victimIsRoot ? makeTables(folder) : alice->run([&] { return makeTables(folder); }), 0);
    ASSERT_EQ(mallory->run([&] { return plant(folder); }), 0);
    const FolderState before = stateOfFolder(folder);

    EXPECT_EQ(victimIsRoot ? recoverAndJudge(folder) : alice->run([&] { return recoverAndJudge(folder); }), 0);
    EXPECT_TRUE(stateOfFolder(folder) == before);

    // A run on the table is refused, naming what is in the way.
    EXPECT_EQ(victimIsRoot ? runIsRefused(folder) : alice->run([&] { return runIsRefused(folder); }), 0);
    EXPECT_TRUE(stateOfFolder(folder) == before);
  }
}

// A replacement of CUSTOMER.DB in `folder` during which `swap` runs just
// before the operation `moment` on `watched`: 0 when it was reported as a
// failure naming the staged file.
int commitWithSwap(const std::string& folder, FileOp moment, const std::string& watched,
                   const std::function<void()>& swap) {
  PosixFileOps real;
  FaultInjectingFileOps files(real);
  bool swapped = false;
  files.beforeEach([&](FileOp kind, const std::string& path) {
    if (swapped || kind != moment || path != watched) return;
    swapped = true;
    swap();
  });
  try {
    FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
    writeTable(replacement.stagedPath("CUSTOMER.DB"), "NEW", 0600);
    replacement.commit();
  } catch (const Error& error) {
    return swapped && std::string(error.what()).find(folder + "/.orlintide-new.CUSTOMER.DB") != std::string::npos ? 0
                                                                                                               : 2;
  }
  return 1;
}

TEST_F(SharedFolderReplaceTest, AFileSwappedForALinkDuringTheCommitChangesNoFileElsewhere) {
  // In a folder others may write and rename in (no sticky bit), another user
  // renames the staged table away and puts a link to the victim's private
  // file in its place, just before its access is set or just before it is
  // moved in.
  const auto alice = OtherUser::make("orltest-a");
  ASSERT_TRUE(alice);
  for (const bool victimIsRoot : {true, false}) {
    for (const FileOp moment : {FileOp::CopyAccess, FileOp::Rename}) {
      SCOPED_TRACE(std::string(victimIsRoot ? "root" : "an ordinary user") + " runs; swapped before " +
                   fileOpName(moment));
      TempFolder folder;
      TempFolder elsewhere;
      ASSERT_EQ(::chmod(folder.path().c_str(), 0777), 0);
      ASSERT_EQ(::chmod(elsewhere.path().c_str(), 0755), 0);
      const uid_t victim = victimIsRoot ? 0 : alice->uid();
      const gid_t victimGroup = victimIsRoot ? 0 : alice->gid();
      writeTable(folder.file("CUSTOMER.DB"), "ALICE", 0640);
      put(elsewhere.file("secret.txt"), "top secret");
      for (const std::string& path : {folder.file("CUSTOMER.DB"), elsewhere.file("secret.txt")})
        ASSERT_EQ(::chown(path.c_str(), victim, victimGroup), 0);
      ASSERT_EQ(::chmod(elsewhere.file("secret.txt").c_str(), 0600), 0);
      const FileState secret = stateOf(elsewhere.file("secret.txt"));
      const FileState table = stateOf(folder.file("CUSTOMER.DB"));

      const std::string staged = folder.file(".orlintide-new.CUSTOMER.DB");
      // A copy of access names the old file first, a rename the staged one.
      const std::string watched = moment == FileOp::CopyAccess ? folder.file("CUSTOMER.DB") : staged;
      const auto swapAsMallory = [&] {
        return mallory->run([&] {
          return std::rename(staged.c_str(), (staged + ".away").c_str()) == 0 &&
                         ::symlink(elsewhere.file("secret.txt").c_str(), staged.c_str()) == 0
                     ? 0
                     : 1;
        });
      };
      if (victimIsRoot) {
        EXPECT_EQ(commitWithSwap(folder.path(), moment, watched, [&] { EXPECT_EQ(swapAsMallory(), 0); }), 0);
      } else {
        // The victim cannot become the other user; it asks this process to, and waits.
        int ask[2];
        int done[2];
        ASSERT_EQ(::pipe(ask), 0);
        ASSERT_EQ(::pipe(done), 0);
        std::thread helper([&] {
          char sign = 0;
          if (::read(ask[0], &sign, 1) == 1) sign = static_cast<char>(swapAsMallory());
          EXPECT_EQ(::write(done[1], &sign, 1), 1);
        });
        EXPECT_EQ(alice->run([&] {
          return commitWithSwap(folder.path(), moment, watched, [&] {
            char sign = 0;
            if (::write(ask[1], &sign, 1) != 1 || ::read(done[0], &sign, 1) != 1 || sign != 0) ::_exit(3);
          });
        }), 0);
        ::close(ask[1]);  // ends the helper when the swap was never asked for
        helper.join();
        for (const int end : {ask[0], done[0], done[1]}) ::close(end);
      }
      EXPECT_TRUE(stateOf(elsewhere.file("secret.txt")) == secret);
      EXPECT_TRUE(stateOf(folder.file("CUSTOMER.DB")) == table);
    }
  }
}

// A POSIX access control list as the kernel stores it in an attribute.
std::string accessList(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string value(4, '\0');
  value[0] = 2;  // version
  for (const auto& [tag, permissions, id] : entries) {
    const std::uint16_t tag16 = static_cast<std::uint16_t>(tag);
    const std::uint16_t permissions16 = static_cast<std::uint16_t>(permissions);
    value.append(reinterpret_cast<const char*>(&tag16), 2);
    value.append(reinterpret_cast<const char*>(&permissions16), 2);
    value.append(reinterpret_cast<const char*>(&id), 4);
  }
  return value;
}
constexpr std::uint32_t Owner = 1, NamedUser = 2, OwningGroup = 4, Mask = 0x10, Others = 0x20, Anyone = ~0u;

std::optional<std::string> attribute(const std::string& path, const char* name) {
  char buffer[512];
  const ssize_t size = ::getxattr(path.c_str(), name, buffer, sizeof buffer);
  if (size < 0) return std::nullopt;
  return std::string(buffer, static_cast<std::size_t>(size));
}

void writeWithMemo(const std::string& folder) {
  PosixFileOps files;
  FamilyReplacement replacement(files, folder, "CUSTOMER.DB");
  WriterSettings settings;
  settings.tableName = "CUSTOMER.DB";
  settings.fields = {{"Name", FieldType::Alpha, 20}, {"Notes", FieldType::Memo, 11}};
  TableWriter writer(files, replacement.stagedPath("CUSTOMER.DB"), settings);
  writer.append({std::string("SMITH"), std::string(300, 'n')});
  writer.finish();
  replacement.commit();
}

// What differs from the access the old tables gave, after a replacement
// in each of two folders below `base`; empty when nothing does. Without
// access lists on this file system, "skip".
std::string accessNotKept(const std::string& base) {
  std::string problems;
  const auto expect = [&](bool holds, const char* what) {
    if (!holds) problems += std::string(what) + "; ";
  };
  // user 2002 may read and write; the owning group may do nothing, though
  // the mode shows the list's mask (rw) in the group's place.
  const std::string list = accessList({{Owner, 6, Anyone}, {NamedUser, 6, 2002}, {OwningGroup, 0, Anyone},
                                       {Mask, 6, Anyone}, {Others, 0, Anyone}});
  const std::string folder = base + "/listed";
  std::filesystem::create_directory(folder);
  const std::string table = folder + "/CUSTOMER.DB";
  writeTable(table, "OLD", 0600);
  if (::setxattr(table.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) != 0) return "skip";
  const bool userAttributes = ::setxattr(table.c_str(), "user.origin", "ledger", 6, 0) == 0;
  const mode_t oldMode = stateOf(table).mode;
  expect((oldMode & 0777) == 0660, "the old table's mode shows the mask");

  writeWithMemo(folder);
  expect(stateOf(table).mode == oldMode, "the mode is kept");
  expect(attribute(table, "system.posix_acl_access") == list, "the access list is kept");
  expect(!userAttributes || attribute(table, "user.origin") == std::string("ledger"), "user attributes are kept");
  // The new memo file is like the old table file, list and all.
  expect(attribute(folder + "/CUSTOMER.MB", "system.posix_acl_access") == list, "the memo file has the list");

  // A folder whose default list would give user 2002 everything: a table
  // that had no list gets none.
  const std::string plain = base + "/plain";
  std::filesystem::create_directory(plain);
  writeTable(plain + "/CUSTOMER.DB", "OLD", 0640);
  const std::string wide = accessList({{Owner, 7, Anyone}, {NamedUser, 7, 2002}, {OwningGroup, 7, Anyone},
                                       {Mask, 7, Anyone}, {Others, 7, Anyone}});
  expect(::setxattr(plain.c_str(), "system.posix_acl_default", wide.data(), wide.size(), 0) == 0,
         "the folder takes a default list");
  writeWithMemo(plain);
  expect(!attribute(plain + "/CUSTOMER.DB", "system.posix_acl_access"), "no list comes from the folder's default");
  expect(!attribute(plain + "/CUSTOMER.MB", "system.posix_acl_access"), "no list for the memo either");
  expect((stateOf(plain + "/CUSTOMER.DB").mode & 0777) == 0640, "the plain mode is kept");
  return problems;
}

TEST(AccessKeptTest, TheAccessListAndAttributesOfTheOldTableAreKeptAndNoneIsAdded) {
  TempFolder folder;
  const std::string problems = accessNotKept(folder.path());
  if (problems == "skip") GTEST_SKIP() << "no access control lists here";
  EXPECT_EQ(problems, "");

  // The same for an ordinary user, in a folder of that user's own.
  const auto alice = OtherUser::make("orltest-a");
  if (!alice) return;
  test::SharedFolder shared;
  const int status = alice->run([&] {
    const std::string base = shared.file("alice");
    std::filesystem::create_directory(base);
    std::ofstream(shared.file("problems.txt")) << accessNotKept(base);
    return 0;
  });
  const auto reported = test::fileBytes(shared.file("problems.txt"));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(std::string(reported.begin(), reported.end()), "");
}

}  // namespace
}  // namespace orl::pdx
