#include "platform/common/Error.h"
#include "system/case/Case.h"
#include "system/paradox/Paradox.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/FaultInjectingFileOps.h"
#include "tests/support/TableFiles.h"

#include <gtest/gtest.h>

#include <optional>

namespace orl::Paradox {
namespace {

using pdx::FileOp;

// The table's files as they stand, hidden names left out.
std::map<QString, QByteArray> visibleFiles(const test::DataFolders& folders) {
  auto files = folders.snapshot();
  std::erase_if(files, [](const auto& entry) { return entry.first.startsWith(QLatin1Char('.')); });
  return files;
}

// Stages CUSTOMER, upper-cases Street in the scratch table as a run would,
// and writes it back through the given file operations.
void ChangeStreet(const test::DataFolders& folders, pdx::FileOps& files) {
  FixedFolderText folder(folders.dataFolder());
  test::FakeTime time(0);
  const DataAccess access{folder, folders.programFolder(), time, ado::Seams{nullptr, &files}};
  StageTable(QStringLiteral("CUSTOMER"), access);
  folders.scratchStatements("UPDATE CUSTOMER SET Street = upper(Street)");
  const FieldChange change{QStringLiteral("Street"), Case::Upper, {}, false};
  WriteBackTable(QStringLiteral("CUSTOMER"), access, &change);
}

class WriteBackFailureTest : public ::testing::TestWithParam<FileOp> {};

TEST_P(WriteBackFailureTest, LeavesTheOriginalOrTheCheckedNewTable) {
  test::DataFolders counting;
  if (!counting.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
  pdx::PosixFileOps real;
  test::FaultInjectingFileOps counter(real);
  ChangeStreet(counting, counter);
  const auto changed = visibleFiles(counting);
  const int operations = counter.count(GetParam());
  ASSERT_GT(operations, 0) << pdx::fileOpName(GetParam());

  for (int n = 1; n <= operations; ++n) {
    SCOPED_TRACE(std::string(pdx::fileOpName(GetParam())) + " #" + std::to_string(n));
    test::DataFolders folders;
    ASSERT_TRUE(folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB")));
    const auto original = visibleFiles(folders);
    test::FaultInjectingFileOps faulty(real);
    faulty.failNth(GetParam(), n);
    bool failed = false;
    try {
      ChangeStreet(folders, faulty);
    } catch (const Error&) {
      failed = true;
    }
    const auto after = visibleFiles(folders);
    if (failed) {
      EXPECT_EQ(after, original);
    } else {
      // The new table is in place; only its header's time may differ from the clean run.
      ASSERT_EQ(after.size(), changed.size());
      const auto content = test::ReadTable(folders.path(QStringLiteral("CUSTOMER.DB")));
      const auto expected = test::ReadTable(counting.path(QStringLiteral("CUSTOMER.DB")));
      ASSERT_EQ(content.rows.size(), expected.rows.size());
      for (std::size_t r = 0; r < content.rows.size(); ++r)
        for (std::size_t f = 0; f < content.rows[r].size(); ++f)
          EXPECT_EQ(test::Comparable(content.rows[r][f]), test::Comparable(expected.rows[r][f]));
    }
    // Whatever was left over is put right when the table is next staged.
    FixedFolderText folder(folders.dataFolder());
    test::FakeTime time(0);
    StageTable(QStringLiteral("CUSTOMER"), DataAccess{folder, folders.programFolder(), time});
    EXPECT_EQ(folders.snapshot().size(), after.size());
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPoint, WriteBackFailureTest,
                         ::testing::Values(FileOp::Create, FileOp::Write, FileOp::Flush, FileOp::Close,
                                           FileOp::Rename, FileOp::Remove, FileOp::SyncFolder, FileOp::CopyAccess),
                         [](const auto& point) {
                           std::string name = pdx::fileOpName(point.param);
                           std::erase(name, ' ');
                           return name;
                         });

TEST(WriteBackFullDisk, ADiskThatFillsAtAnyPointLeavesTheOriginal) {
  pdx::PosixFileOps real;
  // Ever larger amounts written before the disk is full, until the write-back fits.
  bool fitted = false;
  for (std::uint64_t room = 0; !fitted; room = room < 64 ? room + 16 : room * 2) {
    SCOPED_TRACE("room for " + std::to_string(room) + " bytes");
    test::DataFolders folders;
    if (!folders.copyCorpusTable(QStringLiteral("db/CUSTOMER.DB"))) GTEST_SKIP() << "corpus absent";
    const auto original = visibleFiles(folders);
    test::FaultInjectingFileOps faulty(real);
    faulty.diskFullAfter(room);
    try {
      ChangeStreet(folders, faulty);
      fitted = true;
    } catch (const Error& error) {
      EXPECT_TRUE(faulty.failed());
      EXPECT_NE(error.description().indexOf(QStringLiteral("space"), 0, Qt::CaseInsensitive), -1)
          << error.description().toStdString();
      EXPECT_EQ(visibleFiles(folders), original);
      // Nothing of the attempt is left once the table is next staged.
      FixedFolderText folder(folders.dataFolder());
      test::FakeTime time(0);
      StageTable(QStringLiteral("CUSTOMER"), DataAccess{folder, folders.programFolder(), time});
      EXPECT_EQ(folders.snapshot(), original);
    }
    ASSERT_LT(room, std::uint64_t{1} << 30);
  }
}

TEST(WriteBackCheck, ANewTableThatDiffersFromTheRunKeepsTheOldOne) {
  test::DataFolders folders;
  test::WriteTable(folders.path(QStringLiteral("T.db")),
                   {{"City", pdx::FieldType::Alpha, 20}, {"Code", pdx::FieldType::Alpha, 5}},
                   {{std::string("oslo"), std::string("007")}, {std::string("bergen"), std::string("1.50")}});
  const auto original = folders.snapshot();
  FixedFolderText folder(folders.dataFolder());
  test::FakeTime time(0);
  const DataAccess access{folder, folders.programFolder(), time};
  StageTable(QStringLiteral("T"), access);
  // An update that reached another field than the run's.
  folders.scratchStatements("UPDATE T SET Code = 'x' WHERE Code = '007'; UPDATE T SET City = upper(City);");
  const FieldChange change{QStringLiteral("City"), Case::Upper, {}, false};
  try {
    WriteBackTable(QStringLiteral("T"), access, &change);
    FAIL() << "a wrong table replaced the old one";
  } catch (const Error& error) {
    EXPECT_TRUE(error.description().contains(QStringLiteral("\"Code\""))) << error.description().toStdString();
    EXPECT_TRUE(error.description().contains(QStringLiteral("\"007\""))) << error.description().toStdString();
  }
  EXPECT_EQ(folders.snapshot(), original);
  EXPECT_TRUE(ScratchTableExists(QStringLiteral("T"), access));
}

// What reaches the table is what this program's statements wrote: a column
// they did not write keeps the table's own bytes, however the scratch copy
// came to differ, and one they may have written is read and checked.
TEST(WriteBackCheck, OnlyColumnsTheProgramsStatementsWroteAreReadBack) {
  const auto attempt = [](const char* ours, const char* behindItsBack) -> std::optional<QString> {
    test::DataFolders folders;
    test::WriteTable(folders.path(QStringLiteral("T.db")),
                     {{"City", pdx::FieldType::Alpha, 20}, {"Code", pdx::FieldType::Alpha, 5}},
                     {{std::string("oslo"), std::string("007")}, {std::string("bergen"), std::string("1.50")}});
    const auto before = test::ReadTable(folders.path(QStringLiteral("T.db")));
    FixedFolderText folder(folders.dataFolder());
    test::FakeTime time(0);
    const DataAccess access{folder, folders.programFolder(), time};
    StageTable(QStringLiteral("T"), access);
    folders.scratchStatements(ours);
    if (behindItsBack) folders.scratchSql(behindItsBack);
    const FieldChange change{QStringLiteral("City"), Case::Upper, {}, false};
    try {
      WriteBackTable(QStringLiteral("T"), access, &change);
    } catch (const Error& error) {
      return error.description();
    }
    const auto after = test::ReadTable(folders.path(QStringLiteral("T.db")));
    EXPECT_EQ(after.rows[0][0], ado::Value::text(QStringLiteral("OSLO")));
    EXPECT_EQ(after.rows[1][1], before.rows[1][1]);
    return std::nullopt;
  };
  EXPECT_EQ(attempt("UPDATE T SET City = upper(City)", "UPDATE T SET Code = 'x'"), std::nullopt);
  const auto triggered = attempt(
      "CREATE TRIGGER coded AFTER UPDATE OF City ON T BEGIN UPDATE T SET Code = 'x' WHERE rowid = new.rowid; END;"
      "UPDATE T SET City = upper(City)",
      nullptr);
  ASSERT_TRUE(triggered);
  EXPECT_TRUE(triggered->contains(QStringLiteral("\"Code\""))) << triggered->toStdString();
  const auto deleted = attempt("UPDATE T SET City = upper(City); DELETE FROM T WHERE City = 'BERGEN'", nullptr);
  ASSERT_TRUE(deleted);
  EXPECT_TRUE(deleted->contains(QStringLiteral("end at record 2"))) << deleted->toStdString();
}

TEST(WriteBackCheck, TheChangedFieldMustHoldTheTransformOrTheValueLeftAlone) {
  const auto attempt = [](const char* update, const QSet<QString>& leftAlone) -> std::optional<QString> {
    test::DataFolders folders;
    test::WriteTable(folders.path(QStringLiteral("T.db")), {{"City", pdx::FieldType::Alpha, 20}},
                     {{std::string("oslo")}, {std::string("bergen")}, {std::string("o'hara")}, {std::string("oslo")}});
    const auto original = folders.snapshot();
    FixedFolderText folder(folders.dataFolder());
    test::FakeTime time(0);
    const DataAccess access{folder, folders.programFolder(), time};
    StageTable(QStringLiteral("T"), access);
    folders.scratchStatements(update);
    const FieldChange change{QStringLiteral("City"), Case::Upper, leftAlone, false};
    try {
      WriteBackTable(QStringLiteral("T"), access, &change);
    } catch (const Error& error) {
      EXPECT_EQ(folders.snapshot(), original);
      return error.description();
    }
    return std::nullopt;
  };
  EXPECT_EQ(attempt("UPDATE T SET City = upper(City) WHERE City <> 'bergen'", {QStringLiteral("bergen")}),
            std::nullopt);
  const auto unchanged = attempt("UPDATE T SET City = upper(City) WHERE City <> 'bergen'", {});
  ASSERT_TRUE(unchanged);
  EXPECT_TRUE(unchanged->contains(QStringLiteral("row 2"))) << unchanged->toStdString();
  // One of two rows of the same value changed otherwise than the rest.
  const auto wrong = attempt("UPDATE T SET City = upper(City); UPDATE T SET City = 'OSLO ' WHERE rowid = 4", {});
  ASSERT_TRUE(wrong);
  EXPECT_TRUE(wrong->contains(QStringLiteral("row 4"))) << wrong->toStdString();
  EXPECT_TRUE(wrong->contains(QStringLiteral("\"OSLO \""))) << wrong->toStdString();
}

}  // namespace
}  // namespace orl::Paradox
