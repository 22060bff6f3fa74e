#pragma once

// What the scratch database's parts share of SQLite: its failures as this
// program's errors, and prepared statements that finalise themselves.

#include "platform/common/Error.h"

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <utility>

namespace orl::ado {

// The failure of `statement`, as SQLite tells it.
Error sqliteError(sqlite3* db, const QString& statement);

// A table or column name as SQLite reads it between double quotes.
QByteArray quotedName(const QString& name);

// One prepared statement, finalised on the way out; more than one
// statement in `sql` is refused, as the rest would be ignored.
class Prepared {
 public:
  Prepared(sqlite3* db, const QByteArray& sql, const QString& shownAs);
  ~Prepared() { sqlite3_finalize(statement_); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;
  sqlite3_stmt* get() const { return statement_; }
  // Hands the statement over to the caller, who finalises it.
  sqlite3_stmt* release() { return std::exchange(statement_, nullptr); }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

}  // namespace orl::ado
