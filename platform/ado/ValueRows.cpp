#include "platform/ado/ValueRows.h"

#include "platform/ado/ScratchStatement.h"

#include <algorithm>
#include <set>

namespace orl::ado {

namespace {

std::string_view bytesOf(sqlite3_stmt* statement, int column, const void* data) {
  return {static_cast<const char*>(data), static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

}  // namespace

ValueRows::ValueRows(sqlite3* db, const QString& table, const QString& field, const QByteArray& rowid)
    : db_(db), table_(table), field_(field) {
  const QByteArray read = "SELECT " + rowid + ", " + quotedName(field) + " FROM " + quotedName(table);
  const QByteArray set =
      "UPDATE " + quotedName(table) + " SET " + quotedName(field) + "=?1 WHERE " + rowid + "=?2";
  const QByteArray version = "PRAGMA data_version";
  try {
    Prepared rows(db_, read, QString::fromUtf8(read));
    std::set<std::string> blobs;
    int result;
    while ((result = sqlite3_step(rows.get())) == SQLITE_ROW) {
      const std::int64_t id = sqlite3_column_int64(rows.get(), 0);
      switch (sqlite3_column_type(rows.get(), 1)) {
        case SQLITE_NULL:
          nulls_.push_back(id);
          break;
        case SQLITE_BLOB:
          blobs.emplace(bytesOf(rows.get(), 1, sqlite3_column_blob(rows.get(), 1)));
          break;
        default: {
          const std::string_view text = bytesOf(rows.get(), 1, sqlite3_column_text(rows.get(), 1));
          auto found = texts_.find(text);
          if (found == texts_.end()) found = texts_.emplace(std::string(text), std::vector<std::int64_t>()).first;
          found->second.push_back(id);
        }
      }
    }
    if (result != SQLITE_DONE) throw sqliteError(db_, QString::fromUtf8(read));
    blobs_.assign(blobs.begin(), blobs.end());
    setByRow_ = Prepared(db_, set, QString::fromUtf8(set)).release();
    version_ = Prepared(db_, version, QString::fromUtf8(version)).release();
  } catch (...) {
    sqlite3_finalize(setByRow_);
    throw;
  }
  readAtVersion_ = dataVersion();
}

ValueRows::~ValueRows() {
  sqlite3_finalize(setByRow_);
  sqlite3_finalize(version_);
}

std::int64_t ValueRows::dataVersion() const {
  const int result = sqlite3_step(version_);
  const std::int64_t version = result == SQLITE_ROW ? sqlite3_column_int64(version_, 0) : -1;
  sqlite3_reset(version_);
  return version;
}

bool ValueRows::current() const { return dataVersion() == readAtVersion_ && readAtVersion_ >= 0; }

std::vector<Value> ValueRows::distinct() const {
  std::vector<std::string_view> texts;
  texts.reserve(texts_.size());
  for (const auto& [text, rows] : texts_)
    if (!rows.empty()) texts.push_back(text);
  std::sort(texts.begin(), texts.end());
  std::vector<Value> values;
  values.reserve(texts.size() + blobs_.size() + 1);
  if (!nulls_.empty()) values.emplace_back();
  for (const std::string_view text : texts)
    values.push_back(Value::text(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))));
  for (const std::string& blob : blobs_)
    values.push_back(Value::bytes(pdx::Bytes(blob.begin(), blob.end())));
  return values;
}

void ValueRows::update(const std::optional<QByteArray>& old, const QByteArray& replacement, const QString& shownAs) {
  std::vector<std::int64_t>* rows = &nulls_;
  RowsOfText::iterator from = texts_.end();
  if (old) {
    from = texts_.find(std::string_view(old->constData(), static_cast<std::size_t>(old->size())));
    if (from == texts_.end()) return;
    rows = &from->second;
  }
  if (rows->empty()) return;
  sqlite3_bind_text64(setByRow_, 1, replacement.constData(), static_cast<sqlite3_uint64>(replacement.size()),
                      SQLITE_STATIC, SQLITE_UTF8);
  for (const std::int64_t id : *rows) {
    sqlite3_bind_int64(setByRow_, 2, id);
    const int result = sqlite3_step(setByRow_);
    sqlite3_reset(setByRow_);
    if (result != SQLITE_DONE) {
      sqlite3_clear_bindings(setByRow_);
      throw sqliteError(db_, shownAs);
    }
  }
  sqlite3_clear_bindings(setByRow_);

  // The rows now hold the replacement.
  const std::string_view now(replacement.constData(), static_cast<std::size_t>(replacement.size()));
  if (from != texts_.end() && from->first == now) return;
  std::vector<std::int64_t> moved = std::move(*rows);
  rows->clear();
  if (from != texts_.end()) texts_.erase(from);
  auto to = texts_.find(now);
  if (to == texts_.end()) {
    texts_.emplace(std::string(now), std::move(moved));
    return;
  }
  to->second.insert(to->second.end(), moved.begin(), moved.end());
}

}  // namespace orl::ado
