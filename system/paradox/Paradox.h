#pragma once

#include "platform/ado/Connection.h"
#include "platform/ado/ParadoxExport.h"
#include "platform/common/Progress.h"
#include "platform/ui/EventPump.h"
#include "platform/ui/MessageBoxes.h"

#include <QSet>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace orl::pdx {
class TableLock;
}

namespace orl::Paradox {

// Whatever holds the Paradox folder text; it is read afresh each time a
// Paradox connection string is built.
class FolderText {
 public:
  virtual ~FolderText() = default;
  virtual QString folderText() const = 0;
};

// A folder text that does not change.
class FixedFolderText final : public FolderText {
 public:
  explicit FixedFolderText(QString text) : text_(std::move(text)) {}
  QString folderText() const override { return text_; }

 private:
  QString text_;
};

// What the routines of this module reach: the Paradox folder, the program
// folder that holds dbTemp.mdb, the window's events and the providers' seams.
struct DataAccess {
  const FolderText& folder;
  QString programFolder;
  ui::EventPump& pump;
  ado::Seams seams = {};
};

QString ParadoxConnectionString(const QString& folderText);
QString ScratchConnectionString(const QString& programFolder);

// A table or field name goes into statements between backticks and between
// square brackets, which cannot carry "`", "[" or "]": such a name, or an
// empty one, is refused with orl::Error before anything is touched.
void RequireQuotableName(const QString& name, const QString& what);

// True when the scratch database holds a base table of that name, letter case aside.
bool ScratchTableExists(const QString& table, const DataAccess& access);

// ADO's DataTypeEnum name of a type number; empty for a number it does not name.
QString AdoTypeName(std::int16_t type);

// The column piece of the staging copy's table definition for a lower-cased
// type name: "` TEXT," and the others.
QString ScratchColumnPiece(const QString& lowerTypeName);

// Copies the Paradox table into the scratch table of the same name, all
// columns and rows, telling the progress (when given) the share of rows
// copied. A table whose declared size the write-back could not write (with
// what `loss` gives up) or the scratch database's disk could not hold is
// refused before anything is staged. On failure the partial scratch table is
// dropped again and the error goes on to the caller.
void StageTable(const QString& table, const DataAccess& access, Progress* progress = nullptr,
                ado::IndexLoss loss = ado::IndexLoss::None);

// What a run did to one field, so that the write-back can check every row
// of the new table against the old one before the new one takes its place.
struct FieldChange {
  QString field;
  // The case transform of a value's standard text form.
  std::function<QString(const QString&)> transform;
  // Standard text forms of the values whose update failed; they stay as they were.
  QSet<QString> valuesLeftAlone;
  // Set when the values could not all be visited, so any of them may be unchanged.
  bool anyValueMayBeLeftAlone = false;
  // What the user agreed the table may lose where the field is a key or indexed field.
  ado::IndexLoss indexLoss = ado::IndexLoss::None;
  // The case choice's text, and how many entries the table's history keeps
  // after the run (0: the replaced table is not kept).
  QString caseName = QString();
  int historyEntries = pdx::DefaultHistoryEntries;
  // The run's hold on the table: the swap is refused when another program
  // changed the table since it was taken.
  const pdx::TableLock* tableLock = nullptr;
};

// Holds the table against other programs until the result is released
// (pdx::TableLock): refuses with orl::Error, before anything is read or
// staged, a table another program holds, a table whose files are symbolic
// links or not regular files, and a table this user may not write.
std::unique_ptr<pdx::TableLock> LockTable(const QString& table, const DataAccess& access);

// Where changing the field means re-sorting the records by their key or
// rebuilding an index, and the table's sort order or the index file keeps
// the engine from doing so exactly, asks whether the table may lose them,
// naming the field, the index and the cost. What the user agreed to (None
// when everything involved is rebuilt), or nothing when the answer is No.
std::optional<ado::IndexLoss> AskAboutIndexes(const QString& table, const QString& field, const DataAccess& access,
                                              ui::MessageBoxes& boxes);

// Replaces the Paradox table by its scratch table. The new values are
// written into the old table's own structure under a staged name and read
// back; only when every record matches the old table (every field
// identical, the changed field as `change` says) does it take the old
// table's place. On any failure before that the Paradox table is as it was
// and the scratch table is kept. Without a change every field must be
// identical. `replaced`, when given, tells whether the table was replaced,
// since a failure may still follow (the scratch table's removal). `progress`
// hears how far the writing and the check have come.
void WriteBackTable(const QString& table, const DataAccess& access, const FieldChange* change = nullptr,
                    bool* replaced = nullptr, Progress* progress = nullptr);

}  // namespace orl::Paradox
