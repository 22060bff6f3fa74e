#include "platform/pdx/Family.h"
#include "platform/pdx/History.h"
#include "platform/pdx/Sha256.h"
#include "platform/pdx/TableUpdate.h"
#include "platform/pdx/Writer.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx_writer/TempFolder.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/support/OtherUser.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

namespace orl::pdx {
namespace {

namespace fs = std::filesystem;

using Snapshot = std::map<std::string, std::vector<std::uint8_t>>;

// The table's own files (the history folder left out) with their bytes.
Snapshot family(const std::string& folder) {
  Snapshot files;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().filename().string()] = test::fileBytes(entry.path().string());
  return files;
}

std::string upperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

// Changes the letter case of every ASCII letter, so that every text changes.
std::string swapAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string digestOf(const std::string& text, Sha256::Engine engine) {
  Sha256 sum(engine);
  sum.add(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  return sum.hex();
}

TEST(Sha256Test, EachEngineGivesTheKnownDigestsAcrossBlockBoundaries) {
  std::vector<Sha256::Engine> engines{Sha256::Engine::Portable};
  if (Sha256::processorInstructions()) engines.push_back(Sha256::Engine::Fastest);
  for (const auto engine : engines) {
    SCOPED_TRACE(engine == Sha256::Engine::Portable ? "portable" : "processor");
    EXPECT_EQ(digestOf("", engine), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digestOf("abc", engine), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(digestOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", engine),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    // Fed in uneven pieces, a million "a" gives the published digest.
    Sha256 pieces(engine);
    const std::string chunk(997, 'a');
    std::size_t fed = 0;
    while (fed < 1000000) {
      const std::size_t size = std::min<std::size_t>(chunk.size(), 1000000 - fed);
      pieces.add(reinterpret_cast<const std::uint8_t*>(chunk.data()), size);
      fed += size;
    }
    EXPECT_EQ(pieces.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
  if (!Sha256::processorInstructions()) return;
  // Every length around the padding's and the blocks' edges, of varied bytes.
  std::string text;
  for (int length = 0; length < 300; ++length) {
    ASSERT_EQ(digestOf(text, Sha256::Engine::Fastest), digestOf(text, Sha256::Engine::Portable)) << length;
    text += static_cast<char>(length * 37 + 11);
  }
}

class HistoryTest : public ::testing::Test {
 protected:
  std::string copyOfCorpus(const std::string& group, const std::string& tableFile) {
    test::copyCorpusFamily(group, tableFile, temp.path());
    return tableFile;
  }

  // A table of two alpha fields and a memo, written by the project's writer.
  std::string writtenTable() {
    WriterSettings settings;
    settings.fields = {{"Name", FieldType::Alpha, 20}, {"Town", FieldType::Alpha, 20}, {"Notes", FieldType::Memo, 20}};
    settings.tableName = "PEOPLE.DB";
    TableWriter writer(files, temp.file("PEOPLE.DB"), settings);
    writer.append({std::string("ann"), std::string("york"), std::string(300, 'm')});
    writer.append({std::string("bob"), std::string("leeds"), std::string("short note")});
    writer.finish();
    return "PEOPLE.DB";
  }

  // The first alpha field that no key or index covers.
  std::size_t freeAlphaField(const std::string& table) {
    const TableHeader header = Table::inspect(temp.file(table));
    for (std::size_t f = 0; f < header.fields.size(); ++f)
      if (header.fields[f].type == FieldType::Alpha && !indexesOfField(files, temp.file(table), f).any()) return f;
    ADD_FAILURE() << "no free alpha field in " << table;
    return 0;
  }

  // A run: one field through `transform`, the replaced files kept as an entry.
  void run(const std::string& table, std::size_t field, const std::function<std::string(const std::string&)>& transform,
           int keep = DefaultHistoryEntries, FileOps* through = nullptr) {
    FileOps& ops = through ? *through : files;
    TableUpdate update(ops, temp.file(table));
    update.write([&](const std::vector<Value>& before, RecordChanges& changes) {
      if (before.empty()) return false;
      if (const auto* text = std::get_if<std::string>(&before[field])) changes[field] = Value(transform(*text));
      return true;
    });
    update.verify(field, [](const Value&, const Value&) { return true; });
    ChangeFacts facts;
    facts.field = "field " + std::to_string(field);
    facts.caseName = "UPPER CASE";
    facts.rows = 2;
    if (keep > 0) {
      HistoryKeeper keeper(ops, temp.path(), table, facts);
      update.commit(&keeper);
    } else {
      update.commit();
    }
    TableHistory(ops, temp.path(), table).prune(keep);
  }

  TableHistory history(const std::string& table) { return TableHistory(files, temp.path(), table); }

  test::TempFolder temp;
  PosixFileOps files;
};

TEST_F(HistoryTest, ARunThenARestoreGivesBackEveryFileByteForByte) {
  if (!test::corpusPresent()) GTEST_SKIP() << "no corpus";
  // A keyed table with a memo and a secondary index; a table with validity checks.
  for (const auto& [group, name] : {std::pair{"db", "CUSTOMER.DB"}, std::pair{"wdpl", "Team.DB"}}) {
    SCOPED_TRACE(name);
    for (const auto& entry : fs::directory_iterator(temp.path())) fs::remove_all(entry.path());
    const std::string table = copyOfCorpus(group, name);
    const Snapshot before = family(temp.path());
    struct stat original {};
    ASSERT_EQ(::stat(temp.file(table).c_str(), &original), 0);

    run(table, freeAlphaField(table), swapAsciiCase);
    const Snapshot afterRun = family(temp.path());
    ASSERT_FALSE(afterRun == before);
    const auto entries = history(table).entries();
    ASSERT_EQ(entries.size(), 1u);
    // The replaced table file was moved into the entry, not copied.
    struct stat kept {};
    ASSERT_EQ(::stat((entries[0].path + "/" + table).c_str(), &kept), 0);
    EXPECT_EQ(kept.st_ino, original.st_ino);
    EXPECT_EQ(entries[0].kept, std::vector<std::string>{table});
    EXPECT_EQ(entries[0].facts.caseName, "UPPER CASE");

    ASSERT_TRUE(history(table).unchangedSince(1));
    ASSERT_TRUE(history(table).restore(1, {}));
    EXPECT_EQ(family(temp.path()), before);
    // Undoing the restore gives the run's result again.
    ASSERT_TRUE(history(table).restore(1, {}));
    EXPECT_EQ(family(temp.path()), afterRun);
  }
}

TEST_F(HistoryTest, TwoRunsAreUndoneOneAfterTheOtherOrBothAtOnce) {
  const std::string table = writtenTable();
  const Snapshot original = family(temp.path());
  run(table, 0, upperAscii);
  const Snapshot afterFirst = family(temp.path());
  run(table, 1, upperAscii);
  const Snapshot afterSecond = family(temp.path());
  ASSERT_EQ(history(table).entries().size(), 2u);

  ASSERT_TRUE(history(table).restore(1, {}));
  EXPECT_EQ(family(temp.path()), afterFirst);
  // The restore is entry 1 now: the first run is entry 3.
  ASSERT_EQ(history(table).entries().size(), 3u);
  EXPECT_EQ(history(table).entries()[0].facts.kind, "restore");
  ASSERT_TRUE(history(table).restore(3, {}));
  EXPECT_EQ(family(temp.path()), original);
  // Straight back to the latest run's result, skipping the restores between.
  ASSERT_TRUE(history(table).restore(2, {}));
  EXPECT_EQ(family(temp.path()), afterSecond);
}

TEST_F(HistoryTest, TheEleventhRunRemovesTheOldestEntryAndNoneAreKeptWhenHistoryIsOff) {
  const std::string table = writtenTable();
  for (int i = 0; i < 11; ++i)
    run(table, 0, [i](const std::string& text) { return text.substr(0, 3) + std::to_string(i); });
  const auto entries = history(table).entries();
  ASSERT_EQ(entries.size(), 10u);
  EXPECT_EQ(fs::path(entries.back().path).filename(), "000002");
  EXPECT_EQ(fs::path(entries.front().path).filename(), "000011");

  run(table, 0, upperAscii, 0);
  EXPECT_TRUE(history(table).entries().empty());
  EXPECT_FALSE(fs::exists(temp.file(HistoryFolderName)));
  EXPECT_THROW(history(table).restore(1, {}), Error);
}

TEST_F(HistoryTest, ATableChangedByAnotherProgramIsRestoredOnlyWhenAllowed) {
  const std::string table = writtenTable();
  const Snapshot original = family(temp.path());
  run(table, 0, upperAscii);
  {
    std::ofstream other(temp.file("PEOPLE.DB"), std::ios::binary | std::ios::app);
    other << "appended by another program";
  }
  const Snapshot changed = family(temp.path());
  EXPECT_FALSE(history(table).unchangedSince(1));
  EXPECT_THROW(history(table).restore(1, {}), OutsideChange);
  EXPECT_EQ(family(temp.path()), changed);
  EXPECT_EQ(history(table).entries().size(), 1u);

  RestoreOptions anyway;
  anyway.evenIfChangedOutside = true;
  ASSERT_TRUE(history(table).restore(1, anyway));
  EXPECT_EQ(family(temp.path()), original);
}

TEST_F(HistoryTest, AnEntryMissingAFileIsNeitherOfferedNorUsed) {
  const std::string table = writtenTable();
  run(table, 0, upperAscii);
  run(table, 1, upperAscii);
  const auto entries = history(table).entries();
  fs::remove(entries[1].path + "/" + table);
  ASSERT_EQ(history(table).entries().size(), 1u);
  TableHistory(files, temp.path(), table).prune(DefaultHistoryEntries);
  EXPECT_FALSE(fs::exists(entries[1].path));
}

// A process stopped after each file operation of a restore: what the next
// opening finds is the table before the restore or after it, and the next
// restore succeeds.
TEST_F(HistoryTest, ARestoreStoppedAtAnyMomentLeavesOneWholeTable) {
  const std::string table = writtenTable();
  run(table, 2, upperAscii);  // the memo changes, so two files differ
  const Snapshot beforeRestore = family(temp.path());
  ASSERT_TRUE(history(table).restore(1, {}));
  const Snapshot afterRestore = family(temp.path());
  ASSERT_TRUE(history(table).restore(1, {}));  // back to the run's result
  ASSERT_EQ(family(temp.path()), beforeRestore);

  test::FaultInjectingFileOps counting(files);
  ASSERT_TRUE(TableHistory(counting, temp.path(), table).restore(1, {}));
  const int operations = counting.total();
  ASSERT_TRUE(history(table).restore(1, {}));
  ASSERT_EQ(family(temp.path()), beforeRestore);

  for (int stop = 0; stop < operations; ++stop) {
    SCOPED_TRACE("stopped after " + std::to_string(stop) + " operations");
    test::FaultInjectingFileOps stopping(files);
    stopping.stopAfter(stop);
    try {
      TableHistory(stopping, temp.path(), table).restore(1, {});
    } catch (const Error&) {
    }
    FamilyReplacement::recover(files, temp.path(), table);
    const Snapshot found = family(temp.path());
    const bool restored = found == afterRestore;
    ASSERT_TRUE(restored || found == beforeRestore);
    // Whatever it left, a restore of the latest entry still works and
    // brings the table back to the run's result.
    if (restored) {
      ASSERT_TRUE(history(table).restore(1, {}));
    } else {
      ASSERT_TRUE(history(table).unchangedSince(1));
    }
    ASSERT_EQ(family(temp.path()), beforeRestore);
  }
}

// Names in `folder` that start with `prefix`.
std::vector<std::string> namesStartingWith(const std::string& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(prefix)) names.push_back(entry.path().filename().string());
  return names;
}

// Where a rename cannot move the replaced files into the history (another
// file system), they are copied there, and a run stopped at any moment of
// that copy leaves either no entry or a whole one. Where they cannot be
// copied either, the run still succeeds and the entry is never offered.
TEST_F(HistoryTest, ReplacedFilesThatCannotBeMovedIntoTheHistoryAreCopiedThere) {
  const auto fresh = [&] {
    for (const auto& entry : fs::directory_iterator(temp.path())) fs::remove_all(entry.path());
    return writtenTable();
  };
  std::string table = fresh();
  const Snapshot original = family(temp.path());
  // A run that changes the memo too replaces two files; its last renames
  // move them into the entry.
  test::FaultInjectingFileOps counting(files);
  run(table, 2, upperAscii, DefaultHistoryEntries, &counting);
  const Snapshot afterRun = family(temp.path());
  ASSERT_EQ(history(table).entries().at(0).kept.size(), 2u);
  const int firstIntoEntry = counting.count(FileOp::Rename) - 1;
  const auto noWorkingFiles = [&] {
    auto names = namesStartingWith(temp.path(), ".orlintide-");
    std::erase(names, std::string(HistoryFolderName));
    EXPECT_TRUE(names.empty()) << names.front();
  };

  {
    SCOPED_TRACE("the first file cannot be renamed");
    table = fresh();
    struct stat before {};
    ASSERT_EQ(::stat(temp.file(table).c_str(), &before), 0);
    test::FaultInjectingFileOps crossDevice(files);
    crossDevice.failNth(FileOp::Rename, firstIntoEntry, EXDEV);
    run(table, 2, upperAscii, DefaultHistoryEntries, &crossDevice);
    ASSERT_TRUE(crossDevice.failed());
    EXPECT_EQ(family(temp.path()), afterRun);
    noWorkingFiles();
    const auto entries = history(table).entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(namesStartingWith(entries[0].path, ".orlintide-").empty());
    struct stat kept {};
    ASSERT_EQ(::stat((entries[0].path + "/" + table).c_str(), &kept), 0);
    EXPECT_NE(kept.st_ino, before.st_ino);
    EXPECT_EQ(kept.st_mode, before.st_mode);
    ASSERT_TRUE(history(table).restore(1, {}));
    EXPECT_EQ(family(temp.path()), original);
  }
  {
    SCOPED_TRACE("neither a rename nor a copy works");
    table = fresh();
    test::FaultInjectingFileOps noRenames(files);
    noRenames.failFrom(FileOp::Rename, firstIntoEntry, EXDEV);
    run(table, 2, upperAscii, DefaultHistoryEntries, &noRenames);
    EXPECT_EQ(family(temp.path()), afterRun);
    noWorkingFiles();
    // The run's pruning removed the entry left incomplete.
    EXPECT_TRUE(history(table).entries().empty());
    EXPECT_FALSE(fs::exists(temp.file(HistoryFolderName)));
    run(table, 0, swapAsciiCase);
    EXPECT_EQ(history(table).entries().size(), 1u);
  }

  table = fresh();
  test::FaultInjectingFileOps measuring(files);
  measuring.failNth(FileOp::Rename, firstIntoEntry, EXDEV);
  run(table, 2, upperAscii, DefaultHistoryEntries, &measuring);
  // Stopped before the rename that fails, the run is one that SafeReplace's tests stop.
  for (int stop = measuring.firstFailure() - 1; stop < measuring.total(); ++stop) {
    SCOPED_TRACE("stopped after " + std::to_string(stop) + " operations");
    table = fresh();
    test::FaultInjectingFileOps stopping(files);
    stopping.failNth(FileOp::Rename, firstIntoEntry, EXDEV);
    stopping.stopAfter(stop);
    try {
      run(table, 2, upperAscii, DefaultHistoryEntries, &stopping);
    } catch (const Error&) {
    }
    FamilyReplacement::recover(files, temp.path(), table);
    const Snapshot found = family(temp.path());
    ASSERT_TRUE(found == original || found == afterRun);
    const auto entries = history(table).entries();
    noWorkingFiles();
    if (found == original) {
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(namesStartingWith(entries[0].path, ".orlintide-").empty());
    ASSERT_TRUE(history(table).restore(1, {}));
    ASSERT_EQ(family(temp.path()), original);
  }
}

// A history folder that is a link (here to another file system) is not
// followed: the run keeps its entry in this user's own folder beside it,
// writes nothing where the link leads, and the restore works from there.
TEST_F(HistoryTest, AHistoryFolderThatIsALinkIsNotFollowed) {
  std::string elsewhere = "/dev/shm/orlintide-history-XXXXXX";
  if (::mkdtemp(elsewhere.data()) == nullptr) GTEST_SKIP() << "no /dev/shm";
  fs::create_directory_symlink(elsewhere, temp.file(HistoryFolderName));
  const std::string table = writtenTable();
  const Snapshot original = family(temp.path());
  run(table, 2, upperAscii);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  const auto entries = history(table).entries();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(fs::path(entries[0].path).parent_path().parent_path().filename(),
            std::string(HistoryFolderName) + "-" + std::to_string(::geteuid()));
  EXPECT_TRUE(history(table).restore(1, {}));
  EXPECT_EQ(family(temp.path()), original);
  fs::remove_all(elsewhere);
}

// Writes `table` in `folder` with the name "ann" and changes its case, keeping the entry.
void writeAndRun(const std::string& folder, const std::string& table) {
  PosixFileOps files;
  WriterSettings settings;
  settings.fields = {{"Name", FieldType::Alpha, 20}};
  settings.tableName = table;
  TableWriter writer(files, folder + "/" + table, settings);
  writer.append({std::string("ann")});
  writer.finish();
  TableUpdate update(files, folder + "/" + table);
  update.write([](const std::vector<Value>& before, RecordChanges& changes) {
    if (before.empty()) return false;
    changes[0] = Value(upperAscii(std::get<std::string>(before[0])));
    return true;
  });
  update.verify(0, [](const Value&, const Value&) { return true; });
  HistoryKeeper keeper(files, folder, table, ChangeFacts{});
  update.commit(&keeper);
}

std::string firstName(const std::string& path) {
  std::vector<Value> row;
  return Table::open(path).cursor().next(row) ? std::get<std::string>(row[0]) : std::string();
}

// In a folder everyone may write in (mode 1777), each user's runs keep
// their history and restore from it, whoever made the history folder
// first; an entry another user planted where the victim's history goes is
// refused, and changes nothing.
TEST(HistorySharedFolderTest, EachUserRestoresFromTheirOwnHistoryAndFromNoPlantedEntry) {
  const auto victim = test::OtherUser::make("orltest-a");
  const auto mallory = test::OtherUser::make("orltest-b");
  if (!victim || !mallory) GTEST_SKIP() << test::OtherUser::whyNot();
  const auto restoreAs = [](const test::OtherUser& user, const std::string& folder, const std::string& table) {
    return user.run([&] {
      PosixFileOps files;
      try {
        return TableHistory(files, folder, table).restore(1, {}) ? 0 : 2;
      } catch (const Error&) {
        return 3;
      }
    });
  };
  const auto plantOpenFolder = [&](const fs::path& path) {
    return mallory->run([&] {
      fs::create_directories(path);
      fs::permissions(path.parent_path(), fs::perms::all);
      fs::permissions(path, fs::perms::all);
      return 0;
    });
  };
  {
    SCOPED_TRACE("two users, the second after the first made the history folder");
    test::SharedFolder shared;
    ASSERT_EQ(mallory->run([&] { return writeAndRun(shared.path(), "THEIRS.DB"), 0; }), 0);
    ASSERT_EQ(victim->run([&] { return writeAndRun(shared.path(), "PEOPLE.DB"), 0; }), 0);
    EXPECT_EQ(firstName(shared.file("PEOPLE.DB")), "ANN");
    ASSERT_EQ(restoreAs(*victim, shared.path(), "PEOPLE.DB"), 0);
    EXPECT_EQ(firstName(shared.file("PEOPLE.DB")), "ann");
    ASSERT_EQ(restoreAs(*mallory, shared.path(), "THEIRS.DB"), 0);
    EXPECT_EQ(firstName(shared.file("THEIRS.DB")), "ann");
  }
  {
    SCOPED_TRACE("an open history folder planted where the victim's goes");
    test::SharedFolder shared;
    const fs::path planted = fs::path(shared.path()) / (std::string(HistoryFolderName) + "-" + std::to_string(victim->uid())) / "PEOPLE.DB";
    ASSERT_EQ(plantOpenFolder(fs::path(shared.path()) / HistoryFolderName / "PEOPLE.DB"), 0);
    ASSERT_EQ(plantOpenFolder(planted), 0);
    const std::string data = shared.outside() + "/victim-data";
    fs::create_directory(data);
    ASSERT_EQ(::chown(data.c_str(), victim->uid(), victim->gid()), 0);
    ASSERT_EQ(victim->run([&] {
      ::setenv("XDG_DATA_HOME", data.c_str(), 1);
      return writeAndRun(shared.path(), "PEOPLE.DB"), 0;
    }), 0);
    // Mallory's entry: "before" is her table, "after" the victim's as it is now.
    PosixFileOps files;
    const FileSum now = familySums(files, shared.path(), "PEOPLE.DB").at(0);
    const std::string theirs = "mallory's table";
    const std::string record = "orlintide history entry 1\nkind run\nwhen 2026-12-01 09:00:00\nfield Name\ncase UPPER CASE\n"
                               "rows 1\nbefore " + std::to_string(theirs.size()) + " " + digestOf(theirs, Sha256::Engine::Portable) +
                               " PEOPLE.DB\nafter " + std::to_string(now.size) + " " + now.sha256 + " PEOPLE.DB\nkept PEOPLE.DB\nend\n";
    ASSERT_EQ(mallory->run([&] {
      fs::create_directory(planted / "000099");
      std::ofstream(planted / "000099" / "entry.txt", std::ios::binary) << record;
      std::ofstream(planted / "000099" / "PEOPLE.DB", std::ios::binary) << theirs;
      return 0;
    }), 0);
    // The victim's entry went to their own data folder; the planted one is never read.
    ASSERT_EQ(victim->run([&] {
      ::setenv("XDG_DATA_HOME", data.c_str(), 1);
      PosixFileOps theirFiles;
      return TableHistory(theirFiles, shared.path(), "PEOPLE.DB").restore(1, {}) ? 0 : 2;
    }), 0);
    EXPECT_EQ(firstName(shared.file("PEOPLE.DB")), "ann");
  }
}

// Sets an environment variable for one scope.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnvironment() {
    if (old_) ::setenv(name_, old_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::vector<std::string> workingFilesIn(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".orlintide-", 0) == 0 && name.rfind(HistoryFolderName, 0) != 0) found.push_back(name);
  }
  return found;
}

// Another user who makes both history folders beside the table first (one
// of them a link to a folder only this user may write) gets nothing: the
// entry goes to this user's own data folder, the run leaves no working
// file, their folders' planted entries are named and never listed, and
// renaming their folders away takes nothing of this user's history.
TEST(HistorySharedFolderTest, FoldersAnotherUserMadeFirstNeitherHoldNorHideTheHistory) {
  const auto mallory = test::OtherUser::make("orltest-b");
  if (!mallory) GTEST_SKIP() << test::OtherUser::whyNot();
  for (const bool ownIsLink : {false, true}) {
    SCOPED_TRACE(ownIsLink ? "the user's own name a link" : "the user's own name another user's folder");
    test::SharedFolder shared;
    const std::string data = shared.outside() + "/data";
    const ScopedEnvironment xdg("XDG_DATA_HOME", data);
    const std::string beside = shared.file(HistoryFolderName);
    const std::string own = beside + "-" + std::to_string(::geteuid());
    const std::string rootOnly = shared.outside() + "/root-only";
    fs::create_directory(rootOnly);
    fs::permissions(rootOnly, fs::perms::owner_all);
    ASSERT_EQ(mallory->run([&] {
      fs::create_directories(fs::path(beside) / "PEOPLE.DB" / "000001");
      if (ownIsLink) fs::create_directory_symlink(rootOnly, own);
      else fs::create_directories(fs::path(own) / "PEOPLE.DB");
      std::ofstream(fs::path(beside) / "PEOPLE.DB" / "000001" / "entry.txt") << "orlintide history entry 1\nend\n";
      return 0;
    }), 0);
    writeAndRun(shared.path(), "PEOPLE.DB");
    EXPECT_EQ(workingFilesIn(shared.path()), std::vector<std::string>{});
    EXPECT_TRUE(fs::is_empty(rootOnly));
    PosixFileOps files;
    TableHistory history(files, shared.path(), "PEOPLE.DB");
    ASSERT_EQ(history.entries().size(), 1u);
    EXPECT_EQ(history.entries()[0].path.rfind(data, 0), 0u) << history.entries()[0].path;
    const std::vector<std::string> untrusted = ownIsLink ? std::vector<std::string>{beside} : std::vector<std::string>{beside, own};
    EXPECT_EQ(history.untrustedPlaces(), untrusted);
    // Their folders renamed away, the history is still there, and a second run keeps its entry too.
    ASSERT_EQ(mallory->run([&] { return ::rename(beside.c_str(), (beside + "-gone").c_str()); }), 0);
    EXPECT_EQ(history.entries().size(), 1u);
    {
      TableUpdate update(files, shared.file("PEOPLE.DB"));
      update.write([](const std::vector<Value>& before, RecordChanges& changes) {
        if (before.empty()) return false;
        changes[0] = Value(std::string("Ann"));
        return true;
      });
      update.verify(0, [](const Value&, const Value&) { return true; });
      HistoryKeeper keeper(files, shared.path(), "PEOPLE.DB", ChangeFacts{});
      update.commit(&keeper);
    }
    EXPECT_EQ(workingFilesIn(shared.path()), std::vector<std::string>{});
    EXPECT_EQ(history.entries().size(), 2u);
    EXPECT_TRUE(history.restore(2, {}));
    EXPECT_EQ(firstName(shared.file("PEOPLE.DB")), "ann");
  }
}

// With no folder to be had that only this user may write in, the change
// is refused before the swap and the table stays as it was.
TEST(HistorySharedFolderTest, WithoutAFolderOfItsOwnNoChangeIsMade) {
  const auto mallory = test::OtherUser::make("orltest-b");
  if (!mallory) GTEST_SKIP() << test::OtherUser::whyNot();
  test::SharedFolder shared;
  const ScopedEnvironment xdg("XDG_DATA_HOME", shared.outside() + "/not-a-folder");
  std::ofstream(shared.outside() + "/not-a-folder") << "a file";
  const std::string beside = shared.file(HistoryFolderName);
  const std::string own = beside + "-" + std::to_string(::geteuid());
  ASSERT_EQ(mallory->run([&] {
    fs::create_directory(beside);
    fs::create_directory(own);
    return 0;
  }), 0);
  EXPECT_THROW(writeAndRun(shared.path(), "PEOPLE.DB"), NoHistoryPlace);
  EXPECT_EQ(firstName(shared.file("PEOPLE.DB")), "ann");
  EXPECT_EQ(workingFilesIn(shared.path()), std::vector<std::string>{});
}

TEST_F(HistoryTest, AJournalThatKeepsFilesOutsideTheFolderIsRefused) {
  const std::string table = writtenTable();
  const Snapshot before = family(temp.path());
  {
    std::ofstream journal(temp.file(".orlintide-done.PEOPLE.DB"), std::ios::binary);
    journal << "orlintide family replacement 1\nold PEOPLE.DB\nnew PEOPLE.DB\nkeep ../elsewhere\nend\n";
  }
  EXPECT_THROW(FamilyReplacement::recover(files, temp.path(), table), Error);
  fs::remove(temp.file(".orlintide-done.PEOPLE.DB"));
  EXPECT_EQ(family(temp.path()), before);
}

}  // namespace
}  // namespace orl::pdx
