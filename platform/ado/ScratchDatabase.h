#pragma once

#include "platform/ado/Connection.h"
#include "platform/ado/ParadoxExport.h"
#include "platform/ado/Provider.h"
#include "platform/common/Error.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <set>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace orl::ado {

class QueryRows;
class ValueRows;

// The failures that a missing scratch database, and one this user may not
// write (or whose folder this user may not create journals in), are reported with.
Error MissingScratchDatabase(const QString& file);
Error UnwritableScratchDatabase(const QString& file);
struct InsertLiteral;

// Forgets what the connections of this process saw written in the scratch
// database's tables, for a file whose tables were dropped behind their backs.
void ForgetScratchWrites(const QString& databaseFile);

// The scratch database: an SQLite file that the program opens read-write
// and never creates. It takes the statements of the staging copy, the run
// and the write-back, and carries out the "Paradox 5.x" export itself.
//
// Columns are declared so that SQLite's type affinity never turns a value
// into another: text, memo, decimal and date columns keep text as text, and
// a number reaches an INT or FLOAT column only when its text is the exact
// standard form of that number.
//
// Inserts and updates are batched in one transaction that is committed
// before any other statement, schema query or export, on close, and before
// another connection to the same file does anything: a statement has done
// its work when it returns, as without batching, but is not flushed alone.
class ScratchDatabase final : public Provider {
 public:
  static bool accepts(const QString& connectionString);
  // The file named by "Data Source=" in the connection string.
  static QString databaseFile(const QString& connectionString);

  ScratchDatabase(const QString& connectionString, const Seams& seams);
  ~ScratchDatabase() override;

  std::unique_ptr<Rows> execute(const QString& statement) override;
  std::unique_ptr<Rows> openSchema(int schema) override;
  // Puts a table that an export left staged in its place.
  void close() override;

  // The table the last export statement wrote, still under its staged name;
  // null when there is none. A caller may read it back before committing.
  const StagedExport* stagedExport() const { return staged_.get(); }
  // `beforeSwap` as CommitExport takes it.
  void commitExport(const std::function<void()>& beforeSwap = {});
  // What the next export may give up of the table it replaces; it goes back
  // to nothing after that export.
  void allowIndexLoss(IndexLoss loss) { indexLoss_ = loss; }
  // Told the records written so far while the next export writes into a table's own structure.
  void reportExportProgress(pdx::Progress progress) { exportProgress_ = std::move(progress); }
  // What the history keeps of the table the next export replaces; after
  // that export it goes back to nothing kept.
  void keepHistory(HistoryPlan plan) { history_ = std::move(plan); }
  // Removes the staged table; the folder stays as it was.
  void abandonExport() { staged_.reset(); }

  // The columns of a scratch table with their scratch types, in order.
  std::vector<ScratchColumn> tableColumns(const QString& table);

  // Reads the first rows of a table in the order they were inserted, one at
  // a time, with the values of the given columns (positions in the table,
  // at least one) in that order: the table must not change while they are read.
  std::unique_ptr<Rows> firstRows(const QString& table, std::int64_t count, const std::vector<std::size_t>& columns);

 private:
  // SQLite's authorizer, called as each statement is prepared: notes which
  // columns of which tables the statement may write.
  static int noteWrites(void* self, int action, const char* first, const char* second, const char* database,
                        const char* trigger);
  // Tells which of `table`'s columns may have been written since it was created.
  void markWritten(const QString& table, std::vector<ScratchColumn>& columns) const;
  void createTable(const QString& table, const QString& columnList);
  // Carries out `statement`, an insert of the value list into the table.
  void insertRow(const QString& statement, QStringView table, QStringView valueList);
  void exportTable(std::int64_t count, const QString& folder, const QString& fileName, const QString& table);
  void indexColumnOf(const QString& statement);
  // The table and field of the run's query of a field's distinct values.
  static std::optional<std::pair<QString, QString>> distinctForm(const QString& statement);
  // The rows of each value of a text or memo column; none for a column of
  // another type, or one that cannot be read so.
  std::unique_ptr<ValueRows> readValueRows(const QString& table, const QString& field, int* adoType = nullptr);
  // The run's query of a field's distinct values answered from the rows of
  // each value, which its updates then use; none where they cannot serve.
  std::unique_ptr<Rows> distinctValues(const QString& statement);
  void indexColumn(const QString& table, const QString& field);
  // Carries out the run's update forms through prepared statements; false
  // for any other statement.
  bool updateFast(const QString& statement);
  void forgetUpdate();
  void beginBatch();
  void commitBatch();
  void commitOthers();
  // Raises the failure of a statement that took the whole batch with it.
  void requireBatchKept(const QString& statement);
  // Carries out one statement; a query's rows are read as they are asked for.
  std::unique_ptr<Rows> runPlain(const QString& sql);
  // Takes in full the rows of every query still being read, before this
  // connection changes what they would read.
  void readOpenRows();
  void forgetPrepared();

  QString file_;
  Seams seams_;
  pdx::PosixFileOps realFiles_;
  sqlite3* db_ = nullptr;
  QString insertTable_;
  sqlite3_stmt* insert_ = nullptr;
  bool filling_ = false;  // while the staging copy's insert is prepared
  // Which of the insert's columns take numbers, from their standard form only.
  enum class ColumnNumbers : std::uint8_t { None, Whole, Real };
  std::vector<ColumnNumbers> insertNumbers_;
  std::vector<QString> insertNames_;
  // Kept for their room, refilled by each insert.
  std::vector<InsertLiteral> insertLiterals_;
  std::string insertText_;
  std::set<std::pair<QString, QString>> indexed_;
  QString updateTable_, updateField_;
  sqlite3_stmt* updateValue_ = nullptr;
  sqlite3_stmt* updateNull_ = nullptr;
  std::unique_ptr<ValueRows> valueRows_;
  bool inBatch_ = false;
  QString sharedFile_;  // the file's canonical path
  std::unique_ptr<StagedExport> staged_;
  IndexLoss indexLoss_ = IndexLoss::None;
  pdx::Progress exportProgress_;
  std::optional<HistoryPlan> history_;
  std::set<QueryRows*> openRows_;
};

}  // namespace orl::ado
