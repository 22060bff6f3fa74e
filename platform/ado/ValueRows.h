#pragma once

#include "platform/ado/Value.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <cstdint>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace orl::ado {

// Which rows of a scratch table hold each value of one of its text columns,
// read in one pass. The run asks for a column's distinct values and then
// sends one update a value; finding a value's rows here spares SQLite an
// index on the column, which costs more to build and to keep in step than
// the updates themselves. Good only while the updates made through it are
// all that change the table: the owner forgets it on any other statement,
// and `current` tells when another connection has changed the database.
class ValueRows {
 public:
  // Reads `field` of `table`, a column whose values can only be texts,
  // blobs and nulls; `rowid` is a name of the rows' ids that no column of
  // the table shadows.
  ValueRows(sqlite3* db, const QString& table, const QString& field, const QByteArray& rowid);
  ~ValueRows();
  ValueRows(const ValueRows&) = delete;
  ValueRows& operator=(const ValueRows&) = delete;

  bool describes(const QString& table, const QString& field) const { return table_ == table && field_ == field; }
  // Whether no other connection has committed a change since the column was read.
  bool current() const;
  // The distinct values in the order an index on the column gives them:
  // null first, then texts, then blobs, each kind by its bytes.
  std::vector<Value> distinct() const;
  // Sets the rows holding the text `old` (the null rows without it) to
  // `replacement`, one row at a time. A failure is raised as `shownAs`'s;
  // the rows before it keep their new value, and these rows are then to be
  // forgotten, as SQLite may have undone more than this update. (A savepoint
  // around each value would copy every page it touches aside first.)
  void update(const std::optional<QByteArray>& old, const QByteArray& replacement, const QString& shownAs);

 private:
  // The number of `text` among the texts met; with `add`, a new one for a
  // text not met before, otherwise none.
  static constexpr std::size_t None = ~std::size_t{0};
  std::size_t numberOf(std::string_view text, bool add);
  void place(std::size_t number);
  std::int64_t dataVersion() const;

  sqlite3* db_;
  QString table_, field_;
  sqlite3_stmt* setByRow_ = nullptr;
  sqlite3_stmt* version_ = nullptr;
  std::int64_t readAtVersion_ = 0;
  // Every text met, with its hash and the rows that hold it now (none once
  // they were set to another). Texts are found through `slots_` by open
  // addressing: the column is read row by row, and a map of nodes costs a
  // cache miss or two a row.
  std::vector<std::string> texts_;
  std::vector<std::size_t> hashes_;
  std::vector<std::vector<std::int64_t>> rowsOfText_;
  std::vector<std::uint32_t> slots_;  // 1 + a text's number, 0 where free; at most half of them taken
  std::vector<std::int64_t> nulls_;
  std::set<std::string> blobs_;  // no text update reaches them
};

}  // namespace orl::ado
