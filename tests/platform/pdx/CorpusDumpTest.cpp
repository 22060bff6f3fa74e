// Every table of the corpus dumps as the reference data says.

#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"
#include "tests/platform/pdx/CorpusSupport.h"
#include "tests/platform/pdx/JsonReader.h"
#include "tools/pdxtool/Dump.h"

#include <QByteArray>
#include <QCryptographicHash>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

using orl::test::Json;
namespace fs = std::filesystem;
namespace pdx = orl::pdx;

std::string sha256Hex(const pdx::Bytes& bytes) {
  return QCryptographicHash::hash(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<qsizetype>(bytes.size())),
                                  QCryptographicHash::Sha256)
      .toHex()
      .toStdString();
}

// The reference values carry about 15 significant digits (money totals,
// BCD converted from doubles), so numbers agree within that.
bool sameNumber(double ours, double expected) {
  return std::fabs(ours - expected) <= 1e-14 * std::max(std::fabs(ours), std::fabs(expected));
}

void expectSameJson(const Json& ours, const Json& expected, const std::string& where) {
  if (expected.kind == Json::Kind::Number) {
    ASSERT_EQ(ours.kind, Json::Kind::Number) << where;
    EXPECT_TRUE(sameNumber(ours.number, expected.number)) << where << ": " << ours.text << " vs " << expected.text;
    return;
  }
  ASSERT_EQ(ours.kind, expected.kind) << where;
  switch (expected.kind) {
    case Json::Kind::Bool: EXPECT_EQ(ours.boolean, expected.boolean) << where; break;
    case Json::Kind::String: EXPECT_EQ(ours.text, expected.text) << where; break;
    case Json::Kind::Array:
      ASSERT_EQ(ours.items.size(), expected.items.size()) << where;
      for (std::size_t i = 0; i < expected.items.size(); ++i) {
        expectSameJson(ours.items[i], expected.items[i], where + "[" + std::to_string(i) + "]");
      }
      break;
    case Json::Kind::Object:
      ASSERT_EQ(ours.members.size(), expected.members.size()) << where;
      for (const auto& [key, value] : expected.members) expectSameJson(ours[key], value, where + "." + key);
      break;
    default: break;
  }
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The reference reader counts a graphic's 8-byte header in its length and
// hashes the image with the 8 bytes of padding that follow it in the memo
// block; the value itself is the image alone.
void expectGraphicsMatch(const fs::path& tablePath, const Json& expected) {
  const auto table = pdx::Table::open(tablePath.string());
  auto cursor = table.cursor();
  std::vector<pdx::Value> row;
  for (const Json& expectedRow : expected["rows"].items) {
    ASSERT_TRUE(cursor.next(row));
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (table.fields()[i].type != pdx::FieldType::Graphic) continue;
      const Json& value = expectedRow.items[i];
      if (value.isNull()) {
        EXPECT_TRUE(std::holds_alternative<pdx::Null>(row[i]));
        continue;
      }
      ASSERT_TRUE(std::holds_alternative<pdx::Bytes>(row[i]));
      pdx::Bytes image = std::get<pdx::Bytes>(row[i]);
      ASSERT_GE(image.size(), 2u);
      EXPECT_EQ(std::string(image.begin(), image.begin() + 2), "BM") << "the image is a bitmap";
      EXPECT_EQ(static_cast<double>(image.size() + 8), value["len"].number);
      image.insert(image.end(), 8, 0);
      EXPECT_EQ(sha256Hex(image), value["sha256"].text) << tablePath;
    }
  }
}

TEST(CorpusTables, DumpsMatchTheReferenceData) {
  if (!orl::test::corpusPresent()) GTEST_SKIP() << "no corpus at " << orl::test::corpusDir();
  const auto expectedFiles = orl::test::filesWithExtension(orl::test::corpusDir() / "expected", ".json");
  ASSERT_FALSE(expectedFiles.empty());
  for (const auto& expectedFile : expectedFiles) {
    SCOPED_TRACE(expectedFile.string());
    const Json expected = orl::test::parseJson(orl::test::readText(expectedFile));
    const fs::path tablePath = orl::test::corpusDir() / "tables" / expected["file"].text;

    if (expected["encrypted"].boolean) {
      try {
        (void)pdx::Table::open(tablePath.string());
        ADD_FAILURE() << "a password-protected table was opened";
      } catch (const pdx::Error& error) {
        EXPECT_TRUE(contains(error.what(), "password protected")) << error.what();
        EXPECT_TRUE(contains(error.what(), tablePath.string())) << error.what();
      }
      const auto header = pdx::Table::inspect(tablePath.string());
      EXPECT_TRUE(header.encrypted);
      EXPECT_EQ(header.recordCount, expected["records"].number);
      continue;
    }

    std::ostringstream out;
    orl::pdxtool::writeDump(tablePath.string(), out);
    const Json ours = orl::test::parseJson(out.str());
    EXPECT_EQ(ours["file"].text, tablePath.string());
    for (const char* key : {"family", "level", "versionID", "fileType", "keyed", "codepage", "encrypted", "records",
                            "fields", "unchecked"}) {
      expectSameJson(ours[key], expected[key], key);
    }
    const auto& fields = expected["fields"].items;
    const auto& unchecked = expected["unchecked"].items;
    auto skipped = [&](std::size_t i) {
      const std::string& name = fields[i]["name"].text;
      return fields[i]["type"].text == "G" ||
             std::any_of(unchecked.begin(), unchecked.end(), [&](const Json& u) { return u.text == name; });
    };
    const auto& rows = ours["rows"].items;
    const auto& expectedRows = expected["rows"].items;
    ASSERT_EQ(rows.size(), expectedRows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r].items.size(), fields.size());
      for (std::size_t i = 0; i < fields.size(); ++i) {
        if (skipped(i)) continue;
        expectSameJson(rows[r].items[i], expectedRows[r].items[i],
                       "row " + std::to_string(r) + " field " + fields[i]["name"].text);
      }
    }
    if (std::any_of(fields.begin(), fields.end(), [](const Json& f) { return f["type"].text == "G"; })) {
      expectGraphicsMatch(tablePath, expected);
    }
  }
}

TEST(CorpusTables, BcdValuesKeepTheirStoredDigitsAndScale) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  const auto table = pdx::Table::open((orl::test::corpusDir() / "tables/fields/bcd.db").string());
  auto cursor = table.cursor();
  std::vector<pdx::Value> row;
  std::vector<std::vector<pdx::Value>> rows;
  while (cursor.next(row)) rows.push_back(row);
  ASSERT_EQ(rows.size(), 3u);
  // Digits past the stray nibbles a double-to-BCD conversion left are zero.
  const std::string c1 = "0.12299999999999999800000000000000";
  EXPECT_EQ(rows[0][0], pdx::Value(pdx::Decimal{"1.23"}));
  EXPECT_EQ(rows[0][1], pdx::Value(pdx::Decimal{"1"}));
  EXPECT_EQ(rows[0][2], pdx::Value(pdx::Decimal{c1}));
  EXPECT_EQ(rows[1][0], pdx::Value(pdx::Decimal{"-1.23"}));
  EXPECT_EQ(rows[1][2], pdx::Value(pdx::Decimal{"-" + c1}));
  EXPECT_EQ(rows[2][0], pdx::Value(pdx::Decimal{"0.00"}));
  EXPECT_EQ(rows[2][1], pdx::Value(pdx::Null{}));
}

TEST(CorpusTables, CursorsReadIndependentlyAndAgain) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  const auto table = pdx::Table::open((orl::test::corpusDir() / "tables/db/ORDERS.DB").string());
  auto first = table.cursor();
  auto second = table.cursor();
  std::vector<pdx::Value> a, b;
  std::size_t count = 0;
  while (first.next(a)) {
    ASSERT_TRUE(second.next(b));
    EXPECT_EQ(a, b);
    ++count;
  }
  EXPECT_FALSE(second.next(b));
  EXPECT_FALSE(first.next(a)) << "a finished cursor stays finished";
  EXPECT_EQ(count, table.header().recordCount);
}

}  // namespace
