#include "platform/ado/ValueRows.h"

#include "platform/ado/ScratchStatement.h"

#include <algorithm>

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
    int result;
    while ((result = sqlite3_step(rows.get())) == SQLITE_ROW) {
      const std::int64_t id = sqlite3_column_int64(rows.get(), 0);
      switch (sqlite3_column_type(rows.get(), 1)) {
        case SQLITE_NULL:
          nulls_.push_back(id);
          break;
        case SQLITE_BLOB:
          blobs_.emplace(bytesOf(rows.get(), 1, sqlite3_column_blob(rows.get(), 1)));
          break;
        default:
          rowsOfText_[numberOf(bytesOf(rows.get(), 1, sqlite3_column_text(rows.get(), 1)), true)].push_back(id);
      }
    }
    if (result != SQLITE_DONE) throw sqliteError(db_, QString::fromUtf8(read));
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

std::size_t ValueRows::numberOf(std::string_view text, bool add) {
  const std::size_t hash = std::hash<std::string_view>{}(text);
  if (!slots_.empty()) {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask; slots_[at] != 0; at = (at + 1) & mask) {
      const std::size_t number = slots_[at] - 1;
      if (hashes_[number] == hash && texts_[number] == text) return number;
    }
  }
  if (!add) return None;
  texts_.emplace_back(text);
  hashes_.push_back(hash);
  rowsOfText_.emplace_back();
  if (texts_.size() * 2 <= slots_.size()) {
    place(texts_.size() - 1);
  } else {
    slots_.assign(std::max<std::size_t>(1024, slots_.size() * 2), 0);
    for (std::size_t number = 0; number < texts_.size(); ++number) place(number);
  }
  return texts_.size() - 1;
}

void ValueRows::place(std::size_t number) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t at = hashes_[number] & mask;
  while (slots_[at] != 0) at = (at + 1) & mask;
  slots_[at] = static_cast<std::uint32_t>(number + 1);
}

std::vector<Value> ValueRows::distinct() const {
  std::vector<std::string_view> texts;
  for (std::size_t number = 0; number < texts_.size(); ++number)
    if (!rowsOfText_[number].empty()) texts.push_back(texts_[number]);
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
  const auto view = [](const QByteArray& bytes) {
    return std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  };
  const std::size_t from = old ? numberOf(view(*old), false) : None;
  if (old && from == None) return;
  std::vector<std::int64_t>& rows = old ? rowsOfText_[from] : nulls_;
  if (rows.empty()) return;
  sqlite3_bind_text64(setByRow_, 1, replacement.constData(), static_cast<sqlite3_uint64>(replacement.size()),
                      SQLITE_STATIC, SQLITE_UTF8);
  for (const std::int64_t id : rows) {
    sqlite3_bind_int64(setByRow_, 2, id);
    const int result = sqlite3_step(setByRow_);
    sqlite3_reset(setByRow_);
    if (result != SQLITE_DONE) {
      sqlite3_clear_bindings(setByRow_);
      throw sqliteError(db_, shownAs);
    }
  }
  sqlite3_clear_bindings(setByRow_);

  // The rows now hold the replacement. (Numbering it may move the lists of rows.)
  std::vector<std::int64_t> moved = std::move(rows);
  rows.clear();
  const std::size_t to = numberOf(view(replacement), true);
  if (to == from) {
    rowsOfText_[to] = std::move(moved);
    return;
  }
  std::vector<std::int64_t>& target = rowsOfText_[to];
  if (target.empty()) {
    target = std::move(moved);
    return;
  }
  target.insert(target.end(), moved.begin(), moved.end());
}

}  // namespace orl::ado
