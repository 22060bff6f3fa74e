// A table whose declared size the write-back could not write, or whose
// working copy the scratch database's disk could not hold, is refused before
// a single row is staged, however little its files take on disk.

#include "platform/common/Error.h"
#include "system/paradox/Paradox.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/SharedMemoTable.h"

#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace orl::Paradox {
namespace {

class StagingRoom : public testing::Test {
 protected:
  // Stages T and expects the refusal, quickly, with nothing staged or changed.
  void expectRefused(const QString& reason, ado::IndexLoss loss = ado::IndexLoss::None) {
    const auto before = folders.snapshot();
    FixedFolderText folder(folders.dataFolder());
    test::FakeTime time(0);
    const DataAccess access{folder, folders.programFolder(), time};
    const auto start = std::chrono::steady_clock::now();
    try {
      StageTable(QStringLiteral("T"), access, nullptr, loss);
      ADD_FAILURE() << "the table was staged";
    } catch (const Error& error) {
      const QString message = error.description();
      EXPECT_TRUE(message.startsWith(QStringLiteral("The table 'T' cannot be changed: "))) << message.toStdString();
      EXPECT_TRUE(message.contains(reason)) << message.toStdString();
      EXPECT_TRUE(message.endsWith(QStringLiteral("Nothing was changed."))) << message.toStdString();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(ScratchTableExists(QStringLiteral("T"), access));
    EXPECT_EQ(folders.snapshot(), before);
  }

  test::DataFolders folders;
};

TEST_F(StagingRoom, ASharedMemoTooLargeToWriteOnceForEachRecordIsRefused) {
  // Twenty records share one memo value of 250 MB lying in a hole of the
  // memo file: 5,000 MB to write back from files of a few KB.
  test::WriteSharedMemoTable(folders.path(QStringLiteral("T.db")), 20, 250u << 20);
  EXPECT_LT(QFileInfo(folders.path(QStringLiteral("T.db"))).size(), 16 * 1024);
  expectRefused(QStringLiteral("take 5000 MB, more than the 4096 MB a level-5 memo file can hold"),
                ado::IndexLoss::KeyAndIndexes);
}

TEST_F(StagingRoom, AWorkingCopyBiggerThanTheScratchDisksFreeRoomIsRefused) {
  // Enough records sharing one memo value of 250 MB, in a hole of the memo
  // file, to declare more than the scratch database's disk has free.
  struct statvfs disk {};
  ASSERT_EQ(::statvfs(QFile::encodeName(folders.programFolder()).constData(), &disk), 0);
  constexpr std::uint64_t Memo = 250u << 20;
  const std::uint64_t rows = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize / Memo + 2;
  if (rows > 20000) GTEST_SKIP() << "the scratch disk has too much room for a table of a few thousand rows";
  test::WriteSharedMemoTable(folders.path(QStringLiteral("T.db")), static_cast<int>(rows), Memo);
  expectRefused(QStringLiteral("MB in the scratch database, and the disk of '%1' has").arg(folders.programFolder()));
}

TEST_F(StagingRoom, AMemoLongerThanAMemoFileHoldsIsRefused) {
  test::WriteSharedMemoTable(folders.path(QStringLiteral("T.db")), 3, 300u << 20);
  expectRefused(QStringLiteral("one of its memo values is 314572800 bytes long, and a memo file holds values of at "
                               "most 268431351 bytes"));
}

// A level-5 table of one-byte blank records in all 65,535 data blocks it may
// have: 268 MB of holes, more rows than a new table written in its place
// (which keeps one block back) can hold.
void WriteFullestTable(const QString& path) {
  test::WriteTable(path, {{"A", pdx::FieldType::Alpha, 1}}, {{pdx::Null{}}});
  const pdx::TableHeader header = pdx::Table::inspect(path.toStdString());
  ASSERT_EQ(header.blockSize, 4096);
  constexpr std::uint32_t Blocks = 0xFFFF, PerBlock = 4096 - 6;
  std::fstream file(path.toStdString(), std::ios::in | std::ios::out | std::ios::binary);
  const auto put = [&](std::uint64_t at, std::uint64_t value, int bytes) {
    const auto out = test::littleEndian(value, bytes);
    file.seekp(static_cast<std::streamoff>(at));
    file.write(reinterpret_cast<const char*>(out.data()), bytes);
  };
  put(0x06, std::uint64_t{Blocks} * PerBlock, 4);
  for (const int at : {0x0A, 0x0C, 0x10, 0x3A}) put(static_cast<std::uint64_t>(at), Blocks, 2);
  for (std::uint32_t block = 1; block <= Blocks; ++block) {
    const std::uint64_t at = static_cast<std::uint64_t>(header.headerSize) + (block - 1) * 4096u;
    put(at, block == Blocks ? 0 : block + 1, 2);
    put(at + 2, block - 1, 2);
    put(at + 4, PerBlock - 1, 2);
  }
  file.close();
  ASSERT_EQ(::truncate(QFile::encodeName(path).constData(),
                       static_cast<off_t>(header.headerSize) + static_cast<off_t>(Blocks) * 4096),
            0);
}

TEST_F(StagingRoom, MoreRowsThanANewTableCanHoldAreRefusedWhenTheKeyIsGivenUp) {
  WriteFullestTable(folders.path(QStringLiteral("T.db")));
  expectRefused(QStringLiteral("it has 268038150 rows, and the level-5 table written in its place holds at most "
                               "268034060"),
                ado::IndexLoss::KeyAndIndexes);
}

}  // namespace
}  // namespace orl::Paradox
