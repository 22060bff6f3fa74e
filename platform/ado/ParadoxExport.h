#pragma once

#include "platform/ado/Provider.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/History.h"
#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/TableUpdate.h"
#include "platform/pdx/Value.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace orl::ado {

// A scratch column: its name and its scratch type (TEXT, MEMO, INT, FLOAT,
// DECIMAL, DATETIME or OLEOBJECT).
struct ScratchColumn {
  QString name;
  QString scratchType;
  // Whether statements may have written the column since its table was
  // filled from the table the export replaces. Written into that table's own
  // structure, a column that was not keeps the stored values, unread.
  bool written = true;
};

// What the export has learnt of one column's values, one value at a time.
struct ColumnFacts {
  bool text = false, bytes = false;  // TEXT: which kinds of value it holds
  std::size_t longest = 0;           // TEXT: the longest value in bytes, encoded
  bool notLong = false;              // INT: a value that Long cannot hold
  std::optional<int> scale;          // DECIMAL: the digits after the point
  bool dates = false, times = false, moments = false;  // DATETIME
  // Raises orl::Error naming the field and the value that no field type
  // can keep unchanged beside the values already seen.
  void observe(const ScratchColumn& column, const Value& value, const pdx::CodePage& codePage);
  // Whether the field a column becomes depends on its values at all.
  static bool observes(const ScratchColumn& column);
};

// The Paradox field each scratch column becomes, chosen from its type and
// the values it holds: TEXT is Alpha 255, or Memo when a value is longer
// than 255 bytes, or Bytes (Binary past 255 bytes) when its values are
// bytes; MEMO is Memo; INT is Long, or Number when a value is not a whole
// number or Long cannot hold it; FLOAT is Number; DECIMAL is BCD with the
// values' scale; DATETIME is Date, Time or Timestamp, whichever holds every
// value; OLEOBJECT is Binary. `facts` holds one entry a column. When
// `rows` rows would not fit a table of those fields, every Alpha field is
// made only as wide as its longest value.
std::vector<pdx::Field> ParadoxFieldsFor(const std::vector<ScratchColumn>& columns,
                                         const std::vector<ColumnFacts>& facts, std::uint64_t rows);

// A scratch value as the writer takes it for a field; an empty text in a
// field that is not text is a blank field. Raises orl::Error naming the
// field and the value when it cannot be kept unchanged.
pdx::Value ToParadox(const Value& value, const pdx::Field& field);

// What a write-back may give up of the table it replaces, as the user agreed.
enum class IndexLoss {
  None,              // nothing: the key and indexes a change involves are rebuilt, or the change is refused
  SecondaryIndexes,  // the secondary indexes covering a changed field that cannot be rebuilt
  KeyAndIndexes,     // the whole structure: the table is written anew, unkeyed, at level 5
};

// What the table's history keeps of the table an export replaces.
struct HistoryPlan {
  pdx::ChangeFacts facts;
  int entries = pdx::DefaultHistoryEntries;  // the entries kept afterwards; 0 keeps none
};

// A new table written under its staged name, waiting to take its place:
// either a table written anew (`replacement`) or the old one with new
// values (`update`). Either abandons the staged files unless committed.
struct StagedExport {
  QString folder;
  QString table;        // T
  QString stagedTable;  // the path of the staged ".db" file
  std::unique_ptr<pdx::FamilyReplacement> replacement;
  std::unique_ptr<pdx::TableUpdate> update;
  pdx::FileOps* files = nullptr;
  std::string tableFile;                // the file name the table has in `folder`
  std::optional<HistoryPlan> history;   // nothing: the replaced files are removed
};

// Carries out the export statement under staged names; nothing in the
// folder is replaced yet. Where the folder holds the table T.db that a
// DROP TABLE marked, the rows are its records in stored order and their
// values are written into its own structure (TableUpdate.h): what `loss`
// allows of its indexes may go, nothing else. Otherwise, or where `loss`
// gives up the key, the rows become a new unkeyed level-5 table `fileName`
// (T.db, with T.mb when needed), in the code page and sort order of the
// table it replaces. `openRows` gives the rows from
// the first each time it is called, with the values of the given columns
// (positions in `columns`) in that order; they are read twice and never
// held, the first time only as far as the field types need. Fails when a
// table of that name is in the folder and has not been dropped.
using OpenRows = std::function<std::unique_ptr<Rows>(const std::vector<std::size_t>& columns)>;
StagedExport ExportToParadox(const QString& folder, const QString& fileName,
                             const std::vector<ScratchColumn>& columns, const OpenRows& openRows, pdx::FileOps& files,
                             IndexLoss loss = IndexLoss::None, const pdx::Progress& progress = {});

// Puts the staged table in place of the whole old family, keeping what it
// replaces as a history entry when the staged export has a history plan,
// and then keeping only as many entries as the plan says. `beforeSwap`,
// when given, is the last look at the old table, just before the journal
// is written: when it throws, nothing is replaced.
void CommitExport(StagedExport& staged, const std::function<void()>& beforeSwap = {});

}  // namespace orl::ado
