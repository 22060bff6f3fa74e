#include "platform/ado/ScratchDatabase.h"

#include "platform/ado/ParadoxExport.h"
#include "platform/ado/ScratchLock.h"
#include "platform/ado/ScratchStatement.h"
#include "platform/ado/ValueRows.h"
#include "platform/common/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QStringView>

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <optional>

namespace orl::ado {

Error sqliteError(sqlite3* db, const QString& statement) {
  return Error::provider(QStringLiteral("The scratch database refused a statement: %1 (statement: %2)")
                             .arg(QString::fromUtf8(sqlite3_errmsg(db)), statement));
}

Prepared::Prepared(sqlite3* db, const QByteArray& sql, const QString& shownAs) {
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db, sql.constData(), static_cast<int>(sql.size()), &statement_, &tail) != SQLITE_OK)
    throw sqliteError(db, shownAs);
  if (!statement_) throw Error::provider(QStringLiteral("Internal error: an empty statement: %1").arg(shownAs));
  // Only one statement a call: anything after it would otherwise be ignored.
  if (!QByteArray(tail).trimmed().isEmpty()) {
    sqlite3_finalize(statement_);
    throw Error::provider(QStringLiteral("Internal error: more than one statement was sent at once: %1").arg(shownAs));
  }
}

QByteArray quotedName(const QString& name) { return '"' + name.toUtf8().replace("\"", "\"\"") + '"'; }

namespace {

const QString Prefix = QStringLiteral("PROVIDER=Microsoft.Jet.OLEDB.4.0;");
// What a user can do about a scratch database that is missing or damaged.
const QString Reinstall = QStringLiteral(
    "Install the program again, or copy dbTemp.mdb from the build's bin folder into the program folder.");

// What a text stored in a column stands for.
enum class StoredText { Text, Decimal, Moment };

// The scratch types and what the column is declared as in SQLite, so that
// its affinity is TEXT or BLOB: neither ever converts a value. Numbers
// become numbers only in insertRow, from their exact standard form.
struct ScratchType {
  const char* name;
  const char* declared;
  int adoType;
  StoredText text;
};
constexpr ScratchType ScratchTypes[] = {
    {"TEXT", "TEXT", 202, StoredText::Text},
    {"MEMO", "MEMO TEXT", 203, StoredText::Text},
    {"INT", "WHOLE BLOB", 3, StoredText::Text},
    {"FLOAT", "FLOAT BLOB", 5, StoredText::Text},
    {"DECIMAL", "DECIMAL TEXT", 131, StoredText::Decimal},
    {"DATETIME", "DATETIME TEXT", 7, StoredText::Moment},
    {"OLEOBJECT", "OLEOBJECT BLOB", 205, StoredText::Text},
};

const ScratchType* scratchTypeNamed(const QString& name) {
  for (const ScratchType& type : ScratchTypes)
    if (name.compare(QLatin1String(type.name), Qt::CaseInsensitive) == 0) return &type;
  return nullptr;
}

const ScratchType* scratchTypeDeclaredAs(const char* declared) {
  if (!declared) return nullptr;
  for (const ScratchType& type : ScratchTypes)
    if (qstricmp(declared, type.declared) == 0) return &type;
  return nullptr;
}

Value valueOfColumn(sqlite3_stmt* statement, int column, const ScratchType* type) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_NULL:
      return Value();
    case SQLITE_INTEGER: {
      const sqlite3_int64 number = sqlite3_column_int64(statement, column);
      if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
        return Value::int32(static_cast<std::int32_t>(number));
      return Value::decimal(pdx::Decimal{std::to_string(number)});
    }
    case SQLITE_FLOAT:
      return Value::real(sqlite3_column_double(statement, column));
    case SQLITE_BLOB: {
      const auto* data = static_cast<const std::uint8_t*>(sqlite3_column_blob(statement, column));
      const int size = sqlite3_column_bytes(statement, column);
      return Value::bytes(pdx::Bytes(data, data + size));
    }
    default:
      break;
  }
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                                         sqlite3_column_bytes(statement, column));
  if (type && type->text == StoredText::Decimal) {
    if (const auto decimal = ParseDecimal(text)) return Value::decimal(*decimal);
  } else if (type && type->text == StoredText::Moment) {
    if (const auto moment = ParseTimestamp(text)) return Value::timestamp(*moment);
    if (const auto date = ParseDate(text)) return Value::date(*date);
    if (const auto time = ParseTime(text)) return Value::time(*time);
  }
  return Value::text(text);
}

}  // namespace

// The rows of a query, read from the database as the caller asks for them,
// so that a large result never has to be in memory at once. Before its own
// connection changes the database, the provider has the rows not yet read
// taken in full (`readRest`): the caller goes on seeing the table as it was
// when it opened them, as with a snapshot read in full at once.
class QueryRows final : public Rows {
 public:
  QueryRows(sqlite3* db, std::unique_ptr<Prepared> prepared, const QString& shownAs, std::set<QueryRows*>* open)
      : db_(db), prepared_(std::move(prepared)), shownAs_(shownAs), open_(open) {
    sqlite3_stmt* statement = prepared_->get();
    const int columnCount = sqlite3_column_count(statement);
    for (int c = 0; c < columnCount; ++c) {
      const ScratchType* type = scratchTypeDeclaredAs(sqlite3_column_decltype(statement, c));
      types_.push_back(type);
      columns_.push_back({QString::fromUtf8(sqlite3_column_name(statement, c)), type ? type->adoType : 12});
    }
    if (open_) open_->insert(this);
  }
  ~QueryRows() override {
    if (open_) open_->erase(this);
  }
  QueryRows(const QueryRows&) = delete;
  QueryRows& operator=(const QueryRows&) = delete;

  const std::vector<Column>& columns() const override { return columns_; }
  std::int64_t recordCount() override { return count_; }
  bool next(std::vector<Value>& row) override {
    if (!taken_.empty()) {
      row = std::move(taken_.front());
      taken_.pop_front();
      return true;
    }
    if (lostRest_) throw *lostRest_;
    return step(row);
  }

  // Counts the rows by `count`, a statement of the same connection that
  // runs after this one's first row was read, so both see the same table.
  void countBy(const Prepared& count) {
    std::vector<Value> first;
    if (step(first)) taken_.push_back(std::move(first));
    if (sqlite3_step(count.get()) != SQLITE_ROW) throw sqliteError(db_, shownAs_);
    count_ = sqlite3_column_int64(count.get(), 0);
  }
  // Takes every row there is and counts them.
  void readRest() {
    for (std::vector<Value> row; step(row);) taken_.push_back(std::move(row));
    if (count_ < 0) count_ = static_cast<std::int64_t>(taken_.size());
  }
  // The provider is going away: what is left is read now; a failure to
  // read it is raised when the caller reaches the rows it cost.
  void detach() noexcept {
    try {
      readRest();
    } catch (const Error& error) {
      lostRest_ = error;
    }
    prepared_.reset();
    open_ = nullptr;
  }

 private:
  bool step(std::vector<Value>& row) {
    if (!prepared_) return false;
    const int result = sqlite3_step(prepared_->get());
    if (result == SQLITE_DONE) {
      prepared_.reset();
      return false;
    }
    if (result != SQLITE_ROW) throw sqliteError(db_, shownAs_);
    row.clear();
    row.reserve(types_.size());
    for (std::size_t c = 0; c < types_.size(); ++c)
      row.push_back(valueOfColumn(prepared_->get(), static_cast<int>(c), types_[c]));
    return true;
  }

  sqlite3* db_;
  std::unique_ptr<Prepared> prepared_;  // none once every row has been read
  QString shownAs_;
  std::set<QueryRows*>* open_;
  std::int64_t count_ = -1;
  std::vector<Column> columns_;
  std::vector<const ScratchType*> types_;
  std::deque<std::vector<Value>> taken_;
  std::optional<Error> lostRest_;
};

// The value list of the staging copy's INSERT: 'text' with doubled quotes,
// NULL, or X'hex' for bytes, separated by a comma and blanks. A text
// without doubled quotes is read in place, as most are.
struct InsertLiteral {
  enum Kind { Null, Text, Blob } kind;
  QStringView text;
  QString unquoted;  // what `text` shows when quotes had to be undoubled
  QByteArray blob;
};

namespace {

// The bytes a text takes in UTF-8, exactly for the characters of the basic
// plane (a surrogate pair is counted six): a memo of hundreds of megabytes
// needs no buffer three times its size.
qsizetype utf8SizeAtMost(QStringView text) {
  qsizetype size = 0;
  for (const QChar c : text) size += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 ? 2 : 3;
  return size;
}

// Reads the value list into `literals`; false when it is not one. The
// literals show parts of `list`, which must outlive them.
bool parseValueList(QStringView list, std::vector<InsertLiteral>& literals) {
  literals.clear();
  qsizetype at = 0;
  const qsizetype size = list.size();
  for (;;) {
    while (at < size && list[at] == QLatin1Char(' ')) ++at;
    if (list.mid(at, 4).compare(QLatin1String("NULL"), Qt::CaseInsensitive) == 0) {
      literals.push_back({InsertLiteral::Null, {}, {}, {}});
      at += 4;
    } else if (at + 1 < size && (list[at] == QLatin1Char('X') || list[at] == QLatin1Char('x')) &&
               list[at + 1] == QLatin1Char('\'')) {
      const qsizetype end = list.indexOf(QLatin1Char('\''), at + 2);
      if (end < 0) return false;
      const QByteArray hex = list.mid(at + 2, end - at - 2).toLatin1();
      // Checked by hand: a pattern would run out of stack on a large blob.
      if (hex.size() % 2 != 0 || !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }))
        return false;
      literals.push_back({InsertLiteral::Blob, {}, {}, QByteArray::fromHex(hex)});
      at = end + 1;
    } else if (at < size && list[at] == QLatin1Char('\'')) {
      InsertLiteral& literal = literals.emplace_back(InsertLiteral{InsertLiteral::Text, {}, {}, {}});
      // Taken a stretch between quotes at a time; a doubled quote is one.
      for (qsizetype from = at + 1;;) {
        const qsizetype quote = list.indexOf(QLatin1Char('\''), from);
        if (quote < 0) return false;
        const bool doubled = quote + 1 < size && list[quote + 1] == QLatin1Char('\'');
        if (!doubled && from == at + 1) {
          literal.text = list.mid(from, quote - from);
        } else {
          literal.unquoted += list.mid(from, quote - from);
          if (doubled) literal.unquoted += QLatin1Char('\'');
          literal.text = literal.unquoted;
        }
        if (doubled) {
          from = quote + 2;
          continue;
        }
        at = quote + 1;
        break;
      }
    } else {
      return false;
    }
    while (at < size && list[at] == QLatin1Char(' ')) ++at;
    if (at == size) return true;
    if (list[at] != QLatin1Char(',')) return false;
    ++at;
  }
}

// The two update forms the run sends, one a distinct value:
//   update [T] set [F]='new' where [F]='old'
//   update [T] set [F]='new' where [F] is null 
// read by hand, so that one prepared statement serves them all.
struct UpdateForm {
  QString table, field, replacement;
  std::optional<QString> old;  // none: the rows where the field is null
};

// A quoted literal from `at` (its opening quote), with doubled quotes read
// as one; `at` is left after the closing quote.
std::optional<QString> quotedLiteral(const QString& text, qsizetype& at) {
  if (at >= text.size() || text[at] != QLatin1Char('\'')) return std::nullopt;
  QString literal;
  for (qsizetype i = at + 1; i < text.size(); ++i) {
    if (text[i] != QLatin1Char('\'')) continue;
    if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\'')) {
      literal += QStringView(text).mid(at + 1, i + 1 - (at + 1));
      at = ++i;
      continue;
    }
    literal += QStringView(text).mid(at + 1, i - (at + 1));
    at = i + 1;
    return literal;
  }
  return std::nullopt;
}

std::optional<UpdateForm> updateForm(const QString& statement) {
  static const QString Start = QStringLiteral("update [");
  if (!statement.startsWith(Start)) return std::nullopt;
  UpdateForm form;
  qsizetype at = Start.size();
  const qsizetype tableEnd = statement.indexOf(QStringLiteral("] set ["), at);
  if (tableEnd < 0) return std::nullopt;
  form.table = statement.mid(at, tableEnd - at);
  at = tableEnd + 7;
  const qsizetype fieldEnd = statement.indexOf(QStringLiteral("]="), at);
  if (fieldEnd < 0) return std::nullopt;
  form.field = statement.mid(at, fieldEnd - at);
  if (form.table.contains(QLatin1Char(']')) || form.field.contains(QLatin1Char(']')) ||
      form.field.contains(QLatin1Char('['))) return std::nullopt;
  at = fieldEnd + 2;
  const auto replacement = quotedLiteral(statement, at);
  if (!replacement) return std::nullopt;
  form.replacement = *replacement;
  const QString where = QStringLiteral(" where [") + form.field + QLatin1Char(']');
  if (QStringView(statement).mid(at, where.size()) != where) return std::nullopt;
  at += where.size();
  if (QStringView(statement).mid(at) == QLatin1String(" is null ")) return form;
  if (QStringView(statement).mid(at, 1) != QLatin1String("=")) return std::nullopt;
  ++at;
  form.old = quotedLiteral(statement, at);
  if (!form.old || at != statement.size()) return std::nullopt;
  return form;
}

// Every open scratch database of this process, by file: a connection that
// reads or writes first has the others' pending changes committed, so that
// each sees what the others did, as it would without batching.
std::mutex& openDatabasesLock() {
  static std::mutex lock;
  return lock;
}
std::multimap<QString, ScratchDatabase*>& openDatabases() {
  static std::multimap<QString, ScratchDatabase*> open;
  return open;
}

// Which columns of each scratch table statements may have written since
// the table was created, by file, as the connections of this process saw
// them prepared: an export into the old table's structure reads only those.
// A table whose creation was not seen here counts as written everywhere, and
// so does every table of a file once a statement that could write behind
// the statements' backs (a trigger, a view, an attached database) was seen.
struct WrittenSinceCreated {
  bool everyColumn = false;
  std::set<QString> columns;  // folded
};
struct WrittenInFile {
  bool untracked = false;
  std::map<QString, WrittenSinceCreated> tables;  // by folded name
};
std::mutex& writtenLock() {
  static std::mutex lock;
  return lock;
}
std::map<QString, WrittenInFile>& writtenColumns() {
  static std::map<QString, WrittenInFile> written;
  return written;
}

// Names as SQLite compares them: letters A to Z in either case, nothing else folded.
QString folded(const char* name) {
  QString text = QString::fromUtf8(name ? name : "");
  for (QChar& c : text)
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + ('a' - 'A'));
  return text;
}

bool isOwnTable(const char* name) { return name && std::strncmp(name, "sqlite_", 7) != 0; }

}  // namespace

void ForgetScratchWrites(const QString& databaseFile) {
  const std::lock_guard<std::mutex> guard(writtenLock());
  writtenColumns().erase(QFileInfo(databaseFile).canonicalFilePath());
}

int ScratchDatabase::noteWrites(void* self, int action, const char* first, const char* second, const char*,
                                const char*) {
  auto& database = *static_cast<ScratchDatabase*>(self);
  const std::lock_guard<std::mutex> guard(writtenLock());
  WrittenInFile& file = writtenColumns()[database.sharedFile_];
  switch (action) {
    case SQLITE_CREATE_TABLE:
    case SQLITE_CREATE_TEMP_TABLE:
      if (isOwnTable(first)) file.tables[folded(first)] = {};
      break;
    case SQLITE_INSERT:
      // The staging copy fills a new table with the old one's rows.
      if (isOwnTable(first) && !database.filling_) file.tables[folded(first)].everyColumn = true;
      break;
    case SQLITE_UPDATE:
      if (isOwnTable(first)) file.tables[folded(first)].columns.insert(folded(second));
      break;
    case SQLITE_DELETE:
      if (isOwnTable(first)) file.tables[folded(first)].everyColumn = true;
      break;
    case SQLITE_ALTER_TABLE:
      file.tables[folded(second)].everyColumn = true;
      break;
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
      file.tables.erase(folded(first));
      break;
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_CREATE_VIEW:
    case SQLITE_CREATE_TEMP_VIEW:
    case SQLITE_CREATE_VTABLE:
    case SQLITE_ATTACH:
      file.untracked = true;
      break;
    default:
      break;  // reads, transactions, pragmas, indexes
  }
  return SQLITE_OK;
}

void ScratchDatabase::markWritten(const QString& table, std::vector<ScratchColumn>& columns) const {
  const std::lock_guard<std::mutex> guard(writtenLock());
  const auto file = writtenColumns().find(sharedFile_);
  if (file == writtenColumns().end() || file->second.untracked) return;
  const auto written = file->second.tables.find(folded(table.toUtf8().constData()));
  if (written == file->second.tables.end() || written->second.everyColumn) return;
  for (ScratchColumn& column : columns)
    column.written = written->second.columns.count(folded(column.name.toUtf8().constData())) > 0;
}

bool ScratchDatabase::accepts(const QString& connectionString) {
  return connectionString.startsWith(Prefix, Qt::CaseInsensitive);
}

QString ScratchDatabase::databaseFile(const QString& connectionString) {
  // The exact form the program builds: the path is everything between the
  // two fixed parts, so a path holding ";" or "=" is read whole.
  const QString dataSource = Prefix + QStringLiteral("Data Source=");
  const QString password = QStringLiteral(";JET OLEDB:Database Password=");
  if (connectionString.startsWith(dataSource, Qt::CaseInsensitive) &&
      connectionString.endsWith(password, Qt::CaseInsensitive))
    return connectionString.mid(dataSource.size(), connectionString.size() - dataSource.size() - password.size());
  QString file;
  for (const QString& part : connectionString.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const qsizetype equals = part.indexOf(QLatin1Char('='));
    if (equals < 0) continue;
    const QString key = part.left(equals).trimmed();
    const QString value = part.mid(equals + 1);
    if (key.compare(QLatin1String("Data Source"), Qt::CaseInsensitive) == 0) file = value;
    if (key.compare(QLatin1String("JET OLEDB:Database Password"), Qt::CaseInsensitive) == 0 && !value.isEmpty())
      throw Error::provider(QStringLiteral("Internal error: the scratch connection names a password, which "
                                           "dbTemp.mdb never has. Install the program again."));
  }
  return file;
}

Error MissingScratchDatabase(const QString& file) {
  return Error::provider(QStringLiteral("The scratch database '%1' is missing. %2").arg(file, Reinstall));
}

Error UnwritableScratchDatabase(const QString& file) {
  return Error::provider(QStringLiteral("The scratch database '%1' cannot be written: this user may not change that "
                                        "file or create files in '%2'. Install the program in a folder you can write.")
                             .arg(file, QFileInfo(file).absolutePath()));
}

ScratchDatabase::ScratchDatabase(const QString& connectionString, const Seams& seams)
    : file_(databaseFile(connectionString)), seams_(seams) {
  const QFileInfo info(file_);
  if (file_.isEmpty() || !info.isFile())
    throw MissingScratchDatabase(file_);
  // Before SQLite opens it, as the journals it creates take the database's
  // mode; a file this user may not write is refused below instead.
  if (::access(QFile::encodeName(file_).constData(), W_OK) == 0 &&
      ::access(QFile::encodeName(info.absolutePath()).constData(), W_OK) == 0)
    MakeScratchFilesPrivate(file_);
  if (sqlite3_open_v2(file_.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    const QString message = QString::fromUtf8(sqlite3_errmsg(db_));
    sqlite3_close(db_);
    throw Error::provider(
        QStringLiteral("The scratch database '%1' cannot be opened (%2). %3").arg(file_, message, Reinstall));
  }
  sqlite3_busy_timeout(db_, 10000);
  // Reading the schema tells a database from any other file.
  try {
    Prepared check(db_, "PRAGMA schema_version", file_);
    if (sqlite3_step(check.get()) != SQLITE_ROW) throw sqliteError(db_, file_);
  } catch (const Error& error) {
    sqlite3_close(db_);
    throw Error::provider(QStringLiteral("The scratch database '%1' is not a database this program can use (%2). %3")
                              .arg(file_, error.description(), Reinstall));
  }
  // SQLite opens a file it may not write for reading only, and its journal
  // files go beside it: either would fail only at the first change.
  const QString folder = info.absolutePath();
  if (sqlite3_db_readonly(db_, "main") == 1 || ::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
    sqlite3_close(db_);
    throw UnwritableScratchDatabase(file_);
  }
  try {
    // The scratch file is working space: durability gives way to speed here.
    runPlain(QStringLiteral("PRAGMA journal_mode=WAL"));
    runPlain(QStringLiteral("PRAGMA synchronous=OFF"));
    // A page cache of up to 192 MB, so that the updates to a table of a
    // million rows, which reach its pages in no order, find them in memory.
    runPlain(QStringLiteral("PRAGMA cache_size=-196608"));
  } catch (const Error& error) {
    sqlite3_close(db_);
    throw Error::provider(QStringLiteral("The scratch database '%1' cannot be prepared for a run (%2). %3")
                              .arg(file_, error.description(), Reinstall));
  }
  sharedFile_ = info.canonicalFilePath();
  sqlite3_set_authorizer(db_, &ScratchDatabase::noteWrites, this);
  const std::lock_guard<std::mutex> guard(openDatabasesLock());
  openDatabases().emplace(sharedFile_, this);
}

ScratchDatabase::~ScratchDatabase() {
  {
    const std::lock_guard<std::mutex> guard(openDatabasesLock());
    auto& open = openDatabases();
    for (auto [at, end] = open.equal_range(sharedFile_); at != end; ++at)
      if (at->second == this) {
        open.erase(at);
        break;
      }
  }
  // Each statement of the batch was done when it returned, so it is kept.
  try {
    commitBatch();
  } catch (const Error&) {
    // Nobody is left to tell; the scratch table is staged afresh next time.
  }
  // Record sets still open keep what they would have read.
  for (QueryRows* rows : openRows_) rows->detach();
  forgetPrepared();
  forgetUpdate();
  sqlite3_close(db_);
}

void ScratchDatabase::beginBatch() {
  if (inBatch_) return;
  runPlain(QStringLiteral("BEGIN"));
  inBatch_ = true;
}

void ScratchDatabase::commitBatch() {
  if (!inBatch_) return;
  inBatch_ = false;
  if (sqlite3_get_autocommit(db_)) return;  // undone already, and reported when it was
  runPlain(QStringLiteral("COMMIT"));
}

void ScratchDatabase::commitOthers() {
  const std::lock_guard<std::mutex> guard(openDatabasesLock());
  for (auto [at, end] = openDatabases().equal_range(sharedFile_); at != end; ++at)
    if (at->second != this) at->second->commitBatch();
}

void ScratchDatabase::requireBatchKept(const QString& statement) {
  // SQLite undoes the whole transaction on some failures (a full disk, an
  // I/O error): the statements before this one are lost with it.
  if (inBatch_ && sqlite3_get_autocommit(db_)) {
    inBatch_ = false;
    throw Error::provider(QStringLiteral("The scratch database refused a statement: %1 (statement: %2); the changes of "
                                         "the statements before it since the last read were undone with it.")
                              .arg(QString::fromUtf8(sqlite3_errmsg(db_)), statement));
  }
}

void ScratchDatabase::forgetUpdate() {
  valueRows_.reset();
  sqlite3_finalize(updateValue_);
  sqlite3_finalize(updateNull_);
  updateValue_ = updateNull_ = nullptr;
  updateTable_.clear();
  updateField_.clear();
}

bool ScratchDatabase::updateFast(const QString& statement) {
  const auto form = updateForm(statement);
  if (!form) return false;
  const bool byIndex = updateValue_ && updateTable_ == form->table && updateField_ == form->field;
  if (!byIndex) {
    if (!valueRows_ || !valueRows_->describes(form->table, form->field) || !valueRows_->current())
      valueRows_ = readValueRows(form->table, form->field);
    if (valueRows_) {
      try {
        valueRows_->update(form->old ? std::optional<QByteArray>(form->old->toUtf8()) : std::nullopt,
                           form->replacement.toUtf8(), statement);
      } catch (const Error&) {
        valueRows_.reset();
        requireBatchKept(statement);
        throw;
      }
      return true;
    }
    forgetUpdate();
    indexColumn(form->table, form->field);
    const QByteArray start = "UPDATE " + quotedName(form->table) + " SET " + quotedName(form->field) + "=?1 WHERE " +
                             quotedName(form->field);
    const QByteArray byValue = start + "=?2", byNull = start + " IS NULL";
    if (sqlite3_prepare_v2(db_, byValue.constData(), static_cast<int>(byValue.size()), &updateValue_, nullptr) !=
            SQLITE_OK ||
        sqlite3_prepare_v2(db_, byNull.constData(), static_cast<int>(byNull.size()), &updateNull_, nullptr) !=
            SQLITE_OK) {
      const Error error = sqliteError(db_, statement);
      forgetUpdate();
      throw error;
    }
    updateTable_ = form->table;
    updateField_ = form->field;
  }
  sqlite3_stmt* update = form->old ? updateValue_ : updateNull_;
  const QByteArray replacement = form->replacement.toUtf8();
  const QByteArray old = form->old ? form->old->toUtf8() : QByteArray();
  sqlite3_bind_text64(update, 1, replacement.constData(), static_cast<sqlite3_uint64>(replacement.size()),
                      SQLITE_STATIC, SQLITE_UTF8);
  if (form->old)
    sqlite3_bind_text64(update, 2, old.constData(), static_cast<sqlite3_uint64>(old.size()), SQLITE_STATIC,
                        SQLITE_UTF8);
  const int result = sqlite3_step(update);
  sqlite3_reset(update);
  sqlite3_clear_bindings(update);
  if (result != SQLITE_DONE) {
    requireBatchKept(statement);
    throw sqliteError(db_, statement);
  }
  return true;
}

void ScratchDatabase::forgetPrepared() {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  insertTable_.clear();
  insertNumbers_.clear();
  insertNames_.clear();
}

std::unique_ptr<Rows> ScratchDatabase::execute(const QString& statement) {
  static const QRegularExpression create(QStringLiteral("^CREATE TABLE `([^`]*)`\\((.*)\\);$"),
                                         QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression exporting(
      QStringLiteral("^select top ([0-9]+) \\* into \\[Paradox 5\\.x;Database=(.*)\\]\\.\\[([^\\]]*)\\] "
                     "from \\[([^\\]]*)\\]$"),
      QRegularExpression::DotMatchesEverythingOption | QRegularExpression::CaseInsensitiveOption);

  readOpenRows();
  commitOthers();
  // The staging copy sends one insert a row and the run one update a value:
  // they are carried out in one transaction, committed before anything
  // else is done, and the forms are told apart by their first words before
  // any pattern is tried.
  static const QString InsertStart = QStringLiteral("INSERT INTO `");
  if (statement.startsWith(InsertStart) && statement.endsWith(QLatin1Char(')'))) {
    // What the pattern ^INSERT INTO `([^`]*)` VALUES\((.*)\)$ would take, read by hand.
    const qsizetype close = statement.indexOf(QLatin1Char('`'), InsertStart.size());
    if (close >= 0 && QStringView(statement).mid(close).startsWith(QLatin1String("` VALUES("))) {
      beginBatch();
      const qsizetype values = close + 9;
      insertRow(statement, QStringView(statement).mid(InsertStart.size(), close - InsertStart.size()),
                QStringView(statement).mid(values, statement.size() - 1 - values));
      return nullptr;
    }
  }
  if (statement.startsWith(QStringLiteral("update ["))) {
    beginBatch();
    if (updateFast(statement)) return nullptr;
  }
  commitBatch();
  forgetPrepared();
  forgetUpdate();
  if (statement.startsWith(QStringLiteral("CREATE TABLE `"))) {
    if (const auto match = create.match(statement); match.hasMatch()) {
      createTable(match.captured(1), match.captured(2));
      return nullptr;
    }
  }
  if (!statement.startsWith(QStringLiteral("select top "), Qt::CaseInsensitive)) {
    if (auto values = distinctValues(statement)) return values;
    indexColumnOf(statement);
    return runPlain(statement);
  }
  if (const auto match = exporting.match(statement); match.hasMatch()) {
    bool fits = false;
    const qlonglong count = match.captured(1).toLongLong(&fits);
    if (!fits) throw Error::provider(QStringLiteral("Internal error: the row count is too large: %1").arg(statement));
    exportTable(count, match.captured(2), match.captured(3), match.captured(4));
    return nullptr;
  }
  indexColumnOf(statement);
  return runPlain(statement);
}

std::unique_ptr<Rows> ScratchDatabase::runPlain(const QString& sql) {
  const QByteArray utf8 = sql.toUtf8();
  auto prepared = std::make_unique<Prepared>(db_, utf8, sql);
  if (sqlite3_column_count(prepared->get()) == 0) {
    for (int result; (result = sqlite3_step(prepared->get())) != SQLITE_DONE;)
      if (result != SQLITE_ROW) throw sqliteError(db_, sql);
    return nullptr;
  }
  auto rows = std::make_unique<QueryRows>(db_, std::move(prepared), sql, &openRows_);
  // A query can be counted by one around it; anything else that gives rows
  // (a pragma, a statement with RETURNING) is carried out in full at once.
  std::unique_ptr<Prepared> count;
  try {
    count = std::make_unique<Prepared>(db_, "SELECT count(*) FROM (" + utf8 + ")", sql);
  } catch (const Error&) {
    // Not a query that can stand inside another.
  }
  if (count)
    rows->countBy(*count);
  else
    rows->readRest();
  return rows;
}

void ScratchDatabase::readOpenRows() {
  for (QueryRows* rows : openRows_) rows->readRest();
}

void ScratchDatabase::indexColumnOf(const QString& statement) {
  // The run asks for a field's distinct values, then sends one update a
  // value, each finding its rows by the field: an index on the field, made
  // before the first, gives the values without sorting the table and keeps
  // each update from reading the whole table.
  static const QRegularExpression update(QStringLiteral("^update \\[([^\\]]*)\\] set \\[([^\\]]*)\\]="),
                                         QRegularExpression::CaseInsensitiveOption);
  if (const auto match = update.match(statement); match.hasMatch())
    indexColumn(match.captured(1), match.captured(2));
  else if (const auto values = distinctForm(statement))
    indexColumn(values->first, values->second);
}

std::optional<std::pair<QString, QString>> ScratchDatabase::distinctForm(const QString& statement) {
  static const QRegularExpression distinct(QStringLiteral("^SELECT distinct `([^`]*)` FROM `([^`]*)`$"),
                                           QRegularExpression::CaseInsensitiveOption);
  const auto match = distinct.match(statement);
  if (!match.hasMatch()) return std::nullopt;
  return std::pair{match.captured(2), match.captured(1)};
}

std::unique_ptr<ValueRows> ScratchDatabase::readValueRows(const QString& table, const QString& field,
                                                          int* adoType) {
  std::vector<ScratchColumn> columns;
  try {
    columns = tableColumns(table);
  } catch (const Error&) {
    return nullptr;  // the statement itself says what is missing
  }
  // Only text and memo columns hold nothing but texts, blobs and nulls, which are told apart by their bytes.
  const auto column = std::find_if(columns.begin(), columns.end(), [&](const ScratchColumn& c) {
    return folded(c.name.toUtf8().constData()) == folded(field.toUtf8().constData());
  });
  if (column == columns.end() ||
      (column->scratchType != QLatin1String("TEXT") && column->scratchType != QLatin1String("MEMO")))
    return nullptr;
  QByteArray rowid;
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    const bool shadowed = std::any_of(columns.begin(), columns.end(), [&](const ScratchColumn& c) {
      return folded(c.name.toUtf8().constData()) == QLatin1String(name);
    });
    if (!shadowed) {
      rowid = name;
      break;
    }
  }
  if (rowid.isEmpty()) return nullptr;
  try {
    // A trigger or a cascading foreign key could change the column behind the updates' backs.
    Prepared behindTheBacks(db_,
                            "SELECT (SELECT count(*) FROM sqlite_master WHERE type = 'trigger') + "
                            "(SELECT foreign_keys FROM pragma_foreign_keys)",
                            table);
    if (sqlite3_step(behindTheBacks.get()) != SQLITE_ROW || sqlite3_column_int64(behindTheBacks.get(), 0) != 0)
      return nullptr;
    auto rows = std::make_unique<ValueRows>(db_, table, field, rowid);
    if (adoType) *adoType = scratchTypeNamed(column->scratchType)->adoType;
    return rows;
  } catch (const Error&) {
    return nullptr;  // a table without row ids: the index serves
  }
}

std::unique_ptr<Rows> ScratchDatabase::distinctValues(const QString& statement) {
  const auto form = distinctForm(statement);
  if (!form) return nullptr;
  int adoType = 0;
  valueRows_ = readValueRows(form->first, form->second, &adoType);
  if (!valueRows_) return nullptr;
  std::vector<std::vector<Value>> rows;
  for (Value& value : valueRows_->distinct()) rows.push_back({std::move(value)});
  return std::make_unique<RowsInMemory>(std::vector<Column>{{form->second, adoType}}, std::move(rows));
}

void ScratchDatabase::indexColumn(const QString& table, const QString& field) {
  const std::pair<QString, QString> key{table, field};
  if (indexed_.contains(key)) return;
  const QByteArray name = "orlintide_" + key.first.toUtf8().toHex() + "_" + key.second.toUtf8().toHex();
  const QByteArray sql = "CREATE INDEX IF NOT EXISTS " + quotedName(QString::fromLatin1(name)) + " ON " +
                         quotedName(key.first) + "(" + quotedName(key.second) + ")";
  sqlite3_stmt* creating = nullptr;
  // A table or field that does not exist fails the update itself, with its own message.
  if (sqlite3_prepare_v2(db_, sql.constData(), static_cast<int>(sql.size()), &creating, nullptr) == SQLITE_OK &&
      sqlite3_step(creating) == SQLITE_DONE)
    indexed_.insert(key);
  sqlite3_finalize(creating);
}

void ScratchDatabase::createTable(const QString& table, const QString& columnList) {
  const auto malformed = [&] {
    return Error::provider(QStringLiteral("Internal error: the scratch table's definition cannot be read: `%1`(%2);")
                               .arg(table, columnList));
  };
  QByteArray sql = "CREATE TABLE " + quotedName(table) + "(";
  qsizetype at = 0;
  bool first = true;
  while (at < columnList.size()) {
    if (columnList[at] != QLatin1Char('`')) throw malformed();
    const qsizetype close = columnList.indexOf(QLatin1Char('`'), at + 1);
    if (close < 0) throw malformed();
    const QString name = columnList.mid(at + 1, close - at - 1);
    qsizetype end = columnList.indexOf(QLatin1Char(','), close);
    if (end < 0) end = columnList.size();
    const QString typeName = columnList.mid(close + 1, end - close - 1).trimmed();
    const ScratchType* type = scratchTypeNamed(typeName);
    if (!type)
      throw Error::provider(
          QStringLiteral("Internal error: the column type '%1' of column '%2' is not known.").arg(typeName, name));
    if (!first) sql += ',';
    sql += quotedName(name) + ' ' + type->declared;
    first = false;
    at = end + 1;
  }
  if (first) throw malformed();
  sql += ")";
  Prepared prepared(db_, sql, QStringLiteral("CREATE TABLE `%1`(%2);").arg(table, columnList));
  if (sqlite3_step(prepared.get()) != SQLITE_DONE) throw sqliteError(db_, table);
}

std::vector<ScratchColumn> ScratchDatabase::tableColumns(const QString& table) {
  Prepared info(db_, "SELECT name, type FROM pragma_table_info(?1)", table);
  const QByteArray name = table.toUtf8();
  sqlite3_bind_text(info.get(), 1, name.constData(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  std::vector<ScratchColumn> columns;
  while (sqlite3_step(info.get()) == SQLITE_ROW) {
    const QString columnName = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0)));
    const ScratchType* type = scratchTypeDeclaredAs(reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 1)));
    columns.push_back({columnName, type ? QString::fromLatin1(type->name) : QStringLiteral("TEXT")});
  }
  if (columns.empty())
    throw Error::provider(
        QStringLiteral("The scratch copy of table '%1' is missing from the scratch database. Start the case change "
                       "again.")
            .arg(table));
  return columns;
}

void ScratchDatabase::insertRow(const QString& statement, QStringView table, QStringView valueList) {
  if (!insert_ || insertTable_ != table) {
    forgetPrepared();
    const auto columns = tableColumns(table.toString());
    QByteArray sql = "INSERT INTO " + quotedName(table.toString()) + " VALUES(";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      sql += c ? ",?" : "?";
      const QString& type = columns[c].scratchType;
      insertNumbers_.push_back(type == QLatin1String("INT")     ? ColumnNumbers::Whole
                               : type == QLatin1String("FLOAT") ? ColumnNumbers::Real
                                                                : ColumnNumbers::None);
      insertNames_.push_back(columns[c].name);
    }
    sql += ")";
    filling_ = true;
    const int prepared = sqlite3_prepare_v2(db_, sql.constData(), static_cast<int>(sql.size()), &insert_, nullptr);
    filling_ = false;
    if (prepared != SQLITE_OK) throw sqliteError(db_, statement);
    insertTable_ = table.toString();
  }
  std::vector<InsertLiteral>& literals = insertLiterals_;
  if (!parseValueList(valueList, literals))
    throw Error::provider(QStringLiteral("Internal error: a row to copy cannot be read: %1").arg(statement));
  if (literals.size() != insertNumbers_.size())
    throw Error::provider(
        QStringLiteral("Internal error: a row to copy has another number of values than its table has fields: %1")
            .arg(statement));
  sqlite3_reset(insert_);
  // Texts are bound as UTF-8 from one buffer that outlives the step, so that
  // SQLite neither converts nor copies them; it is sized before the first is
  // written, as the bound texts point into it.
  qsizetype room = 0;
  for (const InsertLiteral& literal : literals) room += utf8SizeAtMost(literal.text);
  if (insertText_.size() < static_cast<std::size_t>(room)) insertText_.resize(static_cast<std::size_t>(room));
  char* text = insertText_.data();
  for (std::size_t c = 0; c < literals.size(); ++c) {
    const int slot = static_cast<int>(c) + 1;
    const InsertLiteral& literal = literals[c];
    if (literal.kind == InsertLiteral::Null) {
      sqlite3_bind_null(insert_, slot);
      continue;
    }
    if (literal.kind == InsertLiteral::Blob) {
      sqlite3_bind_blob64(insert_, slot, literal.blob.constData(), static_cast<sqlite3_uint64>(literal.blob.size()),
                          SQLITE_STATIC);
      continue;
    }
    const ColumnNumbers numbers = insertNumbers_[c];
    // A number is stored as one only when its text is that number's own standard form.
    if (numbers == ColumnNumbers::Whole) {
      if (const auto whole = StandardInteger(literal.text)) {
        sqlite3_bind_int64(insert_, slot, *whole);
        continue;
      }
    }
    if (numbers != ColumnNumbers::None) {
      if (const auto real = StandardDouble(literal.text)) {
        if (std::isnan(*real))
          throw Error::provider(QStringLiteral("The value %1 of field %2 cannot be kept unchanged in the scratch "
                                               "database.")
                                    .arg(literal.text, insertNames_[c]));
        sqlite3_bind_double(insert_, slot, *real);
        continue;
      }
    }
    QStringEncoder utf8(QStringEncoder::Utf8);
    char* const end = utf8.appendToBuffer(text, literal.text);
    sqlite3_bind_text64(insert_, slot, text, static_cast<sqlite3_uint64>(end - text), SQLITE_STATIC, SQLITE_UTF8);
    text = end;
  }
  const int result = sqlite3_step(insert_);
  sqlite3_reset(insert_);
  if (result != SQLITE_DONE) {
    requireBatchKept(statement);
    throw sqliteError(db_, statement);
  }
}

std::unique_ptr<Rows> ScratchDatabase::firstRows(const QString& table, std::int64_t count,
                                                 const std::vector<std::size_t>& columns) {
  const std::vector<ScratchColumn> all = tableColumns(table);
  QByteArray list;
  for (const std::size_t c : columns) list += (list.isEmpty() ? "" : ",") + quotedName(all.at(c).name);
  const QByteArray limit = " LIMIT " + QByteArray::number(count);
  const QByteArray sql = "SELECT " + list + " FROM " + quotedName(table) + " ORDER BY rowid" + limit;
  auto rows = std::make_unique<QueryRows>(db_, std::make_unique<Prepared>(db_, sql, QString::fromUtf8(sql)),
                                          QString::fromUtf8(sql), nullptr);
  const QByteArray counting = "SELECT count(*) FROM (SELECT 1 FROM " + quotedName(table) + limit + ")";
  rows->countBy(Prepared(db_, counting, QString::fromUtf8(counting)));
  return rows;
}

std::unique_ptr<Rows> ScratchDatabase::openSchema(int schema) {
  if (schema != 20)
    throw Error::provider(QStringLiteral("Internal error: the scratch database offers no schema %1.").arg(schema));
  commitOthers();
  commitBatch();
  auto rows = runPlain(QStringLiteral(
      "SELECT NULL AS TABLE_CATALOG, NULL AS TABLE_SCHEMA, name AS TABLE_NAME, "
      "CASE WHEN name LIKE 'sqlite\\_%' ESCAPE '\\' THEN 'SYSTEM TABLE' WHEN type = 'view' THEN 'VIEW' "
      "ELSE 'TABLE' END AS TABLE_TYPE FROM sqlite_master WHERE type IN ('table', 'view') ORDER BY name"));
  return rows;
}

void ScratchDatabase::exportTable(std::int64_t count, const QString& folder, const QString& fileName,
                                  const QString& table) {
  if (staged_)
    throw Error::provider(QStringLiteral("Internal error: the table '%1' written by an earlier export has not been put "
                                         "in place yet.")
                              .arg(staged_->table));
  const IndexLoss loss = std::exchange(indexLoss_, IndexLoss::None);
  const pdx::Progress progress = std::exchange(exportProgress_, {});
  std::optional<HistoryPlan> history = std::exchange(history_, std::nullopt);
  std::vector<ScratchColumn> scratchColumns = tableColumns(table);
  markWritten(table, scratchColumns);
  staged_ = std::make_unique<StagedExport>(ExportToParadox(folder, fileName, scratchColumns,
                                                           [&](const std::vector<std::size_t>& columns) {
                                                             return firstRows(table, count, columns);
                                                           },
                                                           seams_.files ? *seams_.files : realFiles_, loss,
                                                           progress));
  staged_->history = std::move(history);
}

void ScratchDatabase::commitExport(const std::function<void()>& beforeSwap) {
  if (!staged_)
    throw Error::provider(QStringLiteral("Internal error: no exported table is waiting to be put in place."));
  const std::unique_ptr<StagedExport> staged = std::move(staged_);
  CommitExport(*staged, beforeSwap);
}

void ScratchDatabase::close() {
  commitBatch();
  if (staged_) commitExport();
}

}  // namespace orl::ado
