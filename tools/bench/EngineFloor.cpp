#include "tools/bench/EngineFloor.h"

#include "platform/ado/ParadoxValues.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/Table.h"

#include <QFile>

#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace orl::bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

class Database {
 public:
  explicit Database(const QString& file) {
    for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(file + QString::fromLatin1(suffix));
    if (sqlite3_open(file.toUtf8().constData(), &db_) != SQLITE_OK) fail("open");
    // What the scratch database uses, so that the floor is the same engine at work.
    run("PRAGMA page_size=65536");
    run("PRAGMA journal_mode=WAL");
    run("PRAGMA synchronous=OFF");
    run("PRAGMA cache_size=-196608");
  }
  ~Database() { sqlite3_close(db_); }
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  void run(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
  }
  sqlite3_stmt* prepare(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) fail(sql);
    return statement;
  }
  [[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("engine floor: " + what + ": " + sqlite3_errmsg(db_));
  }

 private:
  sqlite3* db_ = nullptr;
};

struct Finalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

std::string quoted(const std::string& name) { return '"' + name + '"'; }

void bindValue(sqlite3_stmt* statement, int slot, const ado::Value& value) {
  using Kind = ado::Value::Kind;
  switch (value.kind()) {
    case Kind::Null:
      sqlite3_bind_null(statement, slot);
      return;
    case Kind::Int16:
    case Kind::Int32:
      sqlite3_bind_int64(statement, slot, value.asInteger());
      return;
    case Kind::Double:
      sqlite3_bind_double(statement, slot, value.asDouble());
      return;
    case Kind::Bytes:
      sqlite3_bind_blob64(statement, slot, value.asBytes().data(), value.asBytes().size(), SQLITE_TRANSIENT);
      return;
    default: {
      const QByteArray text = value.toText().toUtf8();
      sqlite3_bind_text64(statement, slot, text.constData(), static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                          SQLITE_UTF8);
    }
  }
}

void step(Database& database, sqlite3_stmt* statement) {
  if (sqlite3_step(statement) != SQLITE_DONE) database.fail("step");
  sqlite3_reset(statement);
}

}  // namespace

Figures MeasureEngineFloor(const QString& tableFile, const QString& field, const QString& databaseFile) {
  const pdx::Table table = pdx::Table::open(tableFile.toStdString());
  const pdx::CodePage page(table.header().textCodePage());
  const auto& fields = table.fields();
  Database database(databaseFile);
  std::string columns, placeholders;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    columns += (f ? "," : "") + quoted(fields[f].name);
    placeholders += f ? ",?" : "?";
  }
  database.run("CREATE TABLE t(" + columns + ")");

  // Reading the table is timed apart: the copy reads it too.
  double reading = 0;
  auto start = Clock::now();
  database.run("BEGIN");
  {
    const Statement insert(database.prepare("INSERT INTO t VALUES(" + placeholders + ")"));
    pdx::Cursor rows = table.cursor();
    std::vector<pdx::Value> row;
    for (;;) {
      const auto readStart = Clock::now();
      if (!rows.next(row)) break;
      reading += secondsSince(readStart);
      for (std::size_t f = 0; f < row.size(); ++f)
        bindValue(insert.get(), static_cast<int>(f) + 1, ado::FromParadox(row[f], fields[f].type, page));
      step(database, insert.get());
    }
  }
  database.run("COMMIT");
  const double inserts = secondsSince(start) - reading;

  // The rows of each value of the field, read once; its distinct values are those.
  start = Clock::now();
  const std::string name = quoted(field.toStdString());
  std::unordered_map<std::string, std::vector<sqlite3_int64>> rowsOfValue;
  {
    const Statement values(database.prepare("SELECT rowid, " + name + " FROM t"));
    while (sqlite3_step(values.get()) == SQLITE_ROW) {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(values.get(), 1));
      rowsOfValue[text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(values.get(), 1)))
                       : std::string()]
          .push_back(sqlite3_column_int64(values.get(), 0));
    }
  }
  const double valueRows = secondsSince(start);

  start = Clock::now();
  database.run("BEGIN");
  {
    const Statement update(database.prepare("UPDATE t SET " + name + "=?1 WHERE rowid=?2"));
    for (const auto& [value, rows] : rowsOfValue) {
      const QByteArray after = QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())).toUpper().toUtf8();
      sqlite3_bind_text64(update.get(), 1, after.constData(), static_cast<sqlite3_uint64>(after.size()), SQLITE_STATIC,
                          SQLITE_UTF8);
      for (const sqlite3_int64 row : rows) {
        sqlite3_bind_int64(update.get(), 2, row);
        step(database, update.get());
      }
    }
  }
  database.run("COMMIT");
  const double updates = secondsSince(start);

  // The export reads the one column the updates wrote, in row order.
  start = Clock::now();
  std::uint64_t bytes = 0;
  {
    const Statement read(database.prepare("SELECT " + name + " FROM t ORDER BY rowid"));
    while (sqlite3_step(read.get()) == SQLITE_ROW) {
      sqlite3_column_text(read.get(), 0);
      bytes += static_cast<std::uint64_t>(sqlite3_column_bytes(read.get(), 0));
    }
  }
  const double reads = secondsSince(start);
  if (bytes == 0 && table.header().recordCount > 0) throw std::runtime_error("engine floor: nothing was read back");
  return {{QStringLiteral("engine_table_read"), reading},
          {QStringLiteral("engine_insert"), inserts},
          {QStringLiteral("engine_value_rows"), valueRows},
          {QStringLiteral("engine_updates"), updates},
          {QStringLiteral("engine_reads"), reads},
          {QStringLiteral("engine"), inserts + valueRows + updates + reads},
          {QStringLiteral("engine_distinct"), static_cast<double>(rowsOfValue.size())}};
}

}  // namespace orl::bench
