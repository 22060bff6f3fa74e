// Damaged tables and memo files give a clear error that names the file,
// never a crash, a hang or a partial table passed off as whole.

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"
#include "tests/platform/pdx/CorpusSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

namespace {

namespace fs = std::filesystem;
namespace pdx = orl::pdx;
using Patch = std::function<void(std::vector<std::uint8_t>& table, std::vector<std::uint8_t>& blobs)>;

struct Outcome {
  std::optional<std::string> error;  // the message, when reading failed
  std::size_t rows = 0;
};

Outcome readAll(const std::string& name, std::vector<std::uint8_t> table, std::optional<std::vector<std::uint8_t>> blobs) {
  Outcome outcome;
  try {
    std::shared_ptr<const pdx::ByteSource> blobSource;
    if (blobs) blobSource = pdx::memorySource(name + ".mb", std::move(*blobs));
    const auto opened = pdx::Table::open(pdx::memorySource(name, std::move(table)), blobSource);
    auto cursor = opened.cursor();
    std::vector<pdx::Value> row;
    while (cursor.next(row)) ++outcome.rows;
  } catch (const pdx::Error& error) {
    outcome.error = error.what();
  }
  return outcome;
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct Corruption {
  const char* description;
  const char* table;  // below tables/
  Patch patch;
  const char* expected;  // part of the error message
};

// Offsets: every table here has a 2048-byte header and 2048-byte blocks;
// the first block's records start at 2054.
const Corruption corruptions[] = {
    {"a record count one too high", "db/ORDERS.DB", [](auto& t, auto&) { put32(t, 0x06, 225); }, "counts 225 records"},
    {"a record count of zero", "db/ORDERS.DB", [](auto& t, auto&) { put32(t, 0x06, 0); }, "hold 224"},
    {"no first block", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x0E, 0); }, "hold 0"},
    {"a first block past the end", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x0E, 200); }, "past the end"},
    {"a header larger than the file", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x02, 0xFFFF); }, "truncated"},
    {"a header too small for its fields", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x02, 0x80); }, "header size"},
    {"a block size of zero", "db/ORDERS.DB", [](auto& t, auto&) { t[0x05] = 0; }, "block size"},
    {"a block size of 64 KB", "db/ORDERS.DB", [](auto& t, auto&) { t[0x05] = 64; }, "block size"},
    {"no fields", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x21, 0); }, "number of fields"},
    {"more key fields than fields", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x23, 12); }, "key fields"},
    {"an unknown field type", "db/ORDERS.DB", [](auto& t, auto&) { t[0x78] = 0x07; }, "unknown field type"},
    {"a number field of 7 bytes", "db/ORDERS.DB", [](auto& t, auto&) { t[0x79] = 7; }, "impossible size"},
    {"a record size that disagrees with the fields", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x00, 70); }, "record size"},
    {"a record size larger than a block", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 0x00, 4000); }, "record size"},
    {"an unknown file version", "db/ORDERS.DB", [](auto& t, auto&) { t[0x39] = 13; }, "unknown level"},
    {"an index file's type", "db/ORDERS.DB", [](auto& t, auto&) { t[0x04] = 1; }, "not a Paradox data table"},
    {"a field name running past the header", "fields/long.db",
     [](auto& t, auto&) { std::fill(t.begin() + 0xD0, t.begin() + 0x800, std::uint8_t{'x'}); }, "name of field"},
    {"a password on a level 5 table", "fields/long.db", [](auto& t, auto&) { put32(t, 0x5C, 0x0A25E09A); }, "password protected"},
    {"a block that links to itself", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2048, 1); }, "loops back to block 1"},
    {"a chain that links back", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2048 + 2 * 2048, 2); }, "loops back to block 2"},
    {"a block link past the end", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2048, 0xFFFF); }, "past the end"},
    {"a chain cut short", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2048, 0); }, "hold 28"},
    {"a block's record bytes not a whole record", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2052, 5); }, "impossible record count"},
    {"a block's records overflowing it", "db/ORDERS.DB", [](auto& t, auto&) { put16(t, 2052, 2048); }, "impossible record count"},
    {"a memo pointing past the memo file", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x8FA, 0x0010003F); }, "past the end"},
    {"a memo pointing at the memo file's header", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x8FA, 0x0000003F); }, "header"},
    {"a memo longer than its slot", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x8FE, 700); }, "paragraphs"},
    {"a memo in a slot that does not exist", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x8FA, 0x00001050); }, "no slot"},
    {"a memo in an empty slot", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x8FA, 0x00001030); }, "nothing in slot"},
    {"a memo too long for its record and no block", "fields/memo.db", [](auto& t, auto&) { put32(t, 0x9FC, 300); }, "no memo block"},
    {"a memo block of the wrong type", "fields/memo.db", [](auto&, auto& b) { b[0x1000] = 2; }, "should hold several values"},
    {"a memo file without its header", "fields/memo.db", [](auto&, auto& b) { b[0] = 3; }, "not a Paradox memo file"},
    {"a memo file cut to nothing", "fields/memo.db", [](auto&, auto& b) { b.clear(); }, "too short"},
    {"a single-value block that disagrees on the length", "fields/ole.db", [](auto&, auto& b) { put32(b, 0x5B003, 5); }, "holds 5 bytes"},
    {"a single value running past its block", "fields/ole.db", [](auto&, auto& b) { put16(b, 0x5B001, 1); }, "runs past its end"},
    {"a logical field holding 0x82", "fields/logical.db", [](auto& t, auto&) { t[2054] = 0x82; }, "impossible logical"},
    {"a time past midnight", "fields/time.db", [](auto& t, auto&) { put32(t, 2054, 0x86000000); }, "impossible time"},
    {"text that is not text in its code page", "db/GENERAL.DB",
     [](auto& t, auto&) { t[0x80A] = 0x81; t[0x80B] = 0x20; }, "not text in code page 936"},
};

TEST(DamagedTables, EachCorruptionGivesAClearError) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  for (const auto& corruption : corruptions) {
    SCOPED_TRACE(corruption.description);
    const fs::path tablePath = orl::test::corpusDir() / "tables" / corruption.table;
    auto table = orl::test::readBytes(tablePath);
    fs::path blobPath = tablePath;
    blobPath.replace_extension(".mb");
    std::optional<std::vector<std::uint8_t>> blobs;
    std::vector<std::uint8_t> blobBytes;
    if (fs::exists(blobPath)) blobBytes = orl::test::readBytes(blobPath);
    corruption.patch(table, blobBytes);
    if (fs::exists(blobPath)) blobs = std::move(blobBytes);
    const Outcome outcome = readAll(corruption.table, std::move(table), std::move(blobs));
    ASSERT_TRUE(outcome.error) << "read " << outcome.rows << " rows without complaint";
    EXPECT_NE(outcome.error->find(corruption.expected), std::string::npos) << *outcome.error;
    EXPECT_NE(outcome.error->find(corruption.table), std::string::npos) << "names the file: " << *outcome.error;
  }
}

TEST(DamagedTables, EveryPrefixOfEveryFileGivesAnErrorOrTheWholeTable) {
  if (!orl::test::corpusPresent()) GTEST_SKIP();
  for (const auto& tablePath : orl::test::filesWithExtension(orl::test::corpusDir() / "tables", ".db")) {
    SCOPED_TRACE(tablePath.string());
    const auto table = orl::test::readBytes(tablePath);
    fs::path blobPath = tablePath;
    blobPath.replace_extension(tablePath.extension() == ".DB" ? ".MB" : ".mb");
    std::optional<std::vector<std::uint8_t>> blobs;
    if (fs::exists(blobPath)) blobs = orl::test::readBytes(blobPath);

    auto check = [&](std::vector<std::uint8_t> tableBytes, std::optional<std::vector<std::uint8_t>> blobBytes) {
      const auto start = std::chrono::steady_clock::now();
      const Outcome outcome = readAll(tablePath.filename().string(), std::move(tableBytes), std::move(blobBytes));
      const auto elapsed = std::chrono::steady_clock::now() - start;
      EXPECT_LT(elapsed, std::chrono::seconds(1));
      return outcome;
    };
    const Outcome whole = check(table, blobs);
    for (std::size_t k = 0; k < 64; ++k) {
      const std::size_t length = table.size() * k / 64;
      const Outcome cut = check(std::vector<std::uint8_t>(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(length)), blobs);
      if (!cut.error) {
        EXPECT_EQ(cut.rows, whole.rows) << "table cut at " << length;
      }
      if (!blobs) continue;
      const std::size_t blobLength = blobs->size() * k / 64;
      const Outcome cutBlobs = check(table, std::vector<std::uint8_t>(blobs->begin(), blobs->begin() + static_cast<std::ptrdiff_t>(blobLength)));
      if (!cutBlobs.error) {
        EXPECT_EQ(cutBlobs.rows, whole.rows) << "memo file cut at " << blobLength;
      }
    }
  }
}

}  // namespace
