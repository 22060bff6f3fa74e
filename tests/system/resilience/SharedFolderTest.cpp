#include "tests/support/DataAccessFixtures.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TableFiles.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace orl::test {
namespace {

namespace fs = std::filesystem;

// A file as another user could tell it apart: kind, mode and owners, and bytes.
struct Entry {
  std::string access;
  std::string bytes;
  bool operator==(const Entry&) const = default;
};

std::map<std::string, Entry> stateOf(const std::string& folder) {
  std::map<std::string, Entry> state;
  for (const auto& entry : fs::directory_iterator(folder)) {
    struct stat info {};
    ::lstat(entry.path().c_str(), &info);
    std::string bytes;
    if (S_ISREG(info.st_mode)) {
      std::ifstream in(entry.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    state[entry.path().filename().string()] = {
        std::to_string(info.st_mode) + " " + std::to_string(info.st_uid) + ":" + std::to_string(info.st_gid), bytes};
  }
  return state;
}

int writeCustomers(const std::string& path, const char* name, mode_t mode) {
  WriteTable(QString::fromStdString(path), {{"Name", pdx::FieldType::Alpha, 20}}, {{std::string(name)}});
  return ::chmod(path.c_str(), mode);
}

// The program, run by root or by an ordinary user, on a folder (mode 1777)
// where another user has planted a journal and a table of theirs that
// would replace the victim's private table.
class SharedFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mallory = OtherUser::make("orltest-b");
    alice = OtherUser::make("orltest-a");
    if (!mallory || !alice) GTEST_SKIP() << OtherUser::whyNot();
  }

  // The victim's own program folder (the program and an empty scratch database).
  std::string programFolder(const SharedFolder& shared, bool victimIsRoot) const {
    const std::string folder = shared.outside() + "/program";
    fs::create_directory(folder);
    fs::copy_file(ORLINTIDE_PROGRAM, folder + "/orlintide");
    fs::copy_file(folders.scratchFile().toStdString(), folder + "/dbTemp.mdb");
    for (const std::string& path : {folder, folder + "/orlintide", folder + "/dbTemp.mdb"})
      EXPECT_EQ(::chown(path.c_str(), victimIsRoot ? 0 : alice->uid(), victimIsRoot ? 0 : alice->gid()), 0);
    return folder;
  }

  CommandResult runAs(bool victimIsRoot, const SharedFolder& shared, const std::vector<std::string>& arguments) {
    if (!victimIsRoot) return alice->command(arguments, shared.outside() + "/home");
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    QStringList rest;
    for (std::size_t i = 1; i < arguments.size(); ++i) rest << QString::fromStdString(arguments[i]);
    process.start(QString::fromStdString(arguments.front()), rest);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAll().toStdString()};
  }

  DataFolders folders;
  std::optional<OtherUser> mallory;
  std::optional<OtherUser> alice;
};

TEST_F(SharedFolderTest, PlantedLeftoversAreNamedAndNeverTakenForTheTable) {
  for (const bool victimIsRoot : {true, false}) {
    SCOPED_TRACE(victimIsRoot ? "root" : "an ordinary user");
    SharedFolder shared;
    const std::string folder = shared.path();
    const std::string program = programFolder(shared, victimIsRoot) + "/orlintide";
    const std::string table = shared.file("CUSTOMER.db");
    const auto makeTable = [&] { return writeCustomers(table, "Alice Smith", 0600); };
    ASSERT_EQ(victimIsRoot ? makeTable() : alice->run(makeTable), 0);
    const std::string journal = shared.file(".orlintide-replace.CUSTOMER.db");
    ASSERT_EQ(mallory->run([&] {
      std::ofstream(journal) << "orlintide family replacement 1\nold CUSTOMER.db\nnew CUSTOMER.db\nend\n";
      return writeCustomers(shared.file(".orlintide-new.CUSTOMER.db"), "MALLORY", 0644);
    }), 0);
    const auto before = stateOf(folder);

    const CommandResult listing = runAs(victimIsRoot, shared, {program, "--folder", folder, "--list-tables"});
    EXPECT_EQ(listing.exitCode, 0) << listing.output;
    EXPECT_NE(listing.output.find("CUSTOMER\n"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find(journal + "\" (owned by another user)"), std::string::npos) << listing.output;
    EXPECT_TRUE(stateOf(folder) == before);

    const std::vector<std::string> lower = {program,  "--folder", folder, "--table", "CUSTOMER",
                                            "--field", "Name",     "--case", "lower"};
    const CommandResult refused = runAs(victimIsRoot, shared, lower);
    EXPECT_NE(refused.exitCode, 0);
    EXPECT_NE(refused.output.find(journal), std::string::npos) << refused.output;
    EXPECT_TRUE(stateOf(folder) == before);

    // Once they are gone the run goes through, and the table stays as private as it was.
    fs::remove(journal);
    fs::remove(shared.file(".orlintide-new.CUSTOMER.db"));
    const auto privateTable = stateOf(folder).at("CUSTOMER.db");
    const CommandResult done = runAs(victimIsRoot, shared, lower);
    EXPECT_EQ(done.exitCode, 0) << done.output;
    auto after = stateOf(folder);
    after.erase(".orlintide-history");  // the old table, kept for a restore
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after.at("CUSTOMER.db").bytes, privateTable.bytes);
    EXPECT_EQ(after.at("CUSTOMER.db").access, privateTable.access);
    EXPECT_FALSE(mallory->canRead(table));
    for (const auto& kept : fs::recursive_directory_iterator(shared.file(".orlintide-history")))
      if (kept.is_regular_file()) {
        EXPECT_FALSE(mallory->canRead(kept.path().string())) << kept.path();
      }
  }
}

// Another user's pipe in place of a table: listing the folder, its fields
// and a run all finish at once, saying what the file is, and leave it be.
TEST_F(SharedFolderTest, APlantedPipeNeverHoldsTheProgram) {
  for (const bool victimIsRoot : {true, false}) {
    SCOPED_TRACE(victimIsRoot ? "root" : "an ordinary user");
    SharedFolder shared;
    const std::string folder = shared.path();
    const std::string program = programFolder(shared, victimIsRoot) + "/orlintide";
    ASSERT_EQ(mallory->run([&] { return ::mkfifo(shared.file("PIPE.db").c_str(), 0666); }), 0);
    const auto before = stateOf(folder);
    const CommandResult listing = runAs(victimIsRoot, shared, {program, "--folder", folder, "--list-tables"});
    EXPECT_EQ(listing.exitCode, 0) << listing.output;
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{program, "--folder", folder, "--table", "PIPE", "--list-fields"},
          std::vector<std::string>{program, "--folder", folder, "--table", "PIPE", "--field", "Name", "--case", "lower"}}) {
      const CommandResult refused = runAs(victimIsRoot, shared, command);
      EXPECT_EQ(refused.exitCode, 1) << refused.output;
      EXPECT_NE(refused.output.find("is not a regular file"), std::string::npos) << refused.output;
    }
    EXPECT_TRUE(stateOf(folder) == before);
  }
}

}  // namespace
}  // namespace orl::test
