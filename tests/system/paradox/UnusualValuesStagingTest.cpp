// Values real tables hold and a run must carry through untouched (dates and
// time stamps before year 1, a BCD value stored in an unusual pattern, a
// code page's every byte) come back from the scratch copy as the same
// values, so that the write-back sees them as unchanged.

#include "platform/ado/Connection.h"
#include "system/paradox/Paradox.h"
#include "tests/support/DataAccessFixtures.h"
#include "tests/support/FakeTime.h"
#include "tests/support/TableFiles.h"
#include "tests/support/UnusualTables.h"

#include <gtest/gtest.h>

namespace orl::Paradox {
namespace {

std::vector<std::vector<ado::Value>> scratchRows(const test::DataFolders& folders, const QString& table) {
  ado::Connection connection;
  connection.open(ScratchConnectionString(folders.programFolder()));
  const auto rows = connection.query(QStringLiteral("SELECT * FROM `%1`").arg(table));
  std::vector<std::vector<ado::Value>> all;
  for (std::vector<ado::Value> row; rows->next(row);) all.push_back(row);
  return all;
}

TEST(UnusualValuesStaging, TheScratchCopyHoldsTheSameValuesAsTheTable) {
  test::DataFolders folders;
  test::WriteUnusualTable(folders.path(QStringLiteral("UNUSUAL.DB")).toStdString());
  const auto paradox = test::ReadTable(folders.path(QStringLiteral("UNUSUAL.DB")));
  ASSERT_EQ(paradox.rows.size(), 3u);
  EXPECT_EQ(paradox.rows[0][1].toText(), QStringLiteral("-0001-12-31"));
  EXPECT_EQ(paradox.rows[0][2].toText(), QStringLiteral("0000-01-01 12:00:00"));
  EXPECT_EQ(paradox.rows[0][0].toText(), QString::fromUtf8("x\xC2\xACy"));

  FixedFolderText folder(folders.dataFolder());
  test::FakeTime time(0);
  StageTable(QStringLiteral("UNUSUAL"), DataAccess{folder, folders.programFolder(), time});
  const auto scratch = scratchRows(folders, QStringLiteral("UNUSUAL"));
  ASSERT_EQ(scratch.size(), paradox.rows.size());
  for (std::size_t r = 0; r < scratch.size(); ++r) {
    ASSERT_EQ(scratch[r].size(), paradox.rows[r].size());
    for (std::size_t f = 0; f < scratch[r].size(); ++f) {
      SCOPED_TRACE(testing::Message() << "row " << r << ", field " << paradox.fields[f].name);
      EXPECT_EQ(scratch[r][f], paradox.rows[r][f]) << scratch[r][f].toText().toStdString();
    }
  }
}

}  // namespace
}  // namespace orl::Paradox
