#pragma once

// The way back from a run, for the windows and the command line: a table's
// history entries, described, and the restore that asks before it undoes
// what another program changed. The files are platform/pdx/History.h's.

#include "platform/pdx/History.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/SettingsStore.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace orl::Paradox {

// The setting that says how many entries a table's history keeps; 0 keeps none.
inline constexpr const char* HistoryEntriesKey = "HistoryEntries";

// The setting's number, or the default when it is missing or not a whole number from 0.
int HistoryEntriesSetting(ui::SettingsStore& settings);

// The file name of table T (T.db, any letter case) in the folder. Raises
// orl::Error when there is none or more than one.
QString TableFileIn(const QString& folder, const QString& table);

// The table's complete entries, the latest first.
std::vector<pdx::HistoryEntry> HistoryOf(const QString& folder, const QString& table);

// Where the table's history is: the folder of its entries (empty when it
// has none), and the history folders left unread because another user
// made them, others may write in them or they are links.
struct HistoryPlaces {
  QString entries;
  bool elsewhere = false;  // in the user's own data folder, not beside the table
  QStringList untrusted;
};
HistoryPlaces HistoryPlacesOf(const QString& folder, const QString& table);

// "2024-05-01 12:00:00, Last Name, Proper Case", with "undo of" before the
// field of an entry that a restore made.
QString DescribeEntry(const pdx::HistoryEntry& entry);

enum class RestoreOutcome { Restored, AlreadyAsBefore, Declined };

// Puts table T back as it was before entry `number` (1 = the latest
// change). When another program changed the table since, asks first; No
// changes nothing. Raises orl::Error when the restore fails; the table is
// then as it was.
RestoreOutcome RestoreTable(const QString& folder, const QString& table, int number, int keepEntries,
                            ui::MessageBoxes& boxes);

}  // namespace orl::Paradox
