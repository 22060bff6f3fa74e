#pragma once

#include "platform/pdx/FileOps.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace orl::ado {

// Replacing a table's family of files in a folder so that no data is ever
// lost. Dropping a table moves its family aside under hidden names and
// journals it; the new table is written beside it; only once the new table
// has been read back and found right is the old family removed. Any failure
// before that restores the old family, and a run that was killed is put
// right the next time the table is touched:
//
//   journal, no marker   the new table was never verified: it is removed
//                        and the old family comes back;
//   journal and marker   the new table was verified: the old family goes.
//
// The hidden names are ".<file>.orlintide-old" for each file of the old
// family, ".<T>.orlintide-journal" listing them, ".<T>.orlintide-verified"
// for the marker and ".<T>.orlintide-new.db" (and ".mb") while the new table
// is being written.
namespace TableReplacement {

// The files of table T's family in the folder (T.db, .px, .mb, .Xnn, .Ynn,
// .XGn, .YGn, .val, .tv in any letter case), by name.
QStringList FamilyOf(const QString& folder, const QString& table, pdx::FileOps& files);

// Moves the family aside and journals it. On failure the family is back in place.
void setAside(const QString& folder, const QString& table, pdx::FileOps& files);

// The old table's ".db" file while its family is set aside.
std::optional<QString> setAsideTableFile(const QString& folder, const QString& table, pdx::FileOps& files);

// Where the new table is written before it takes the table's name.
QString newTableFile(const QString& folder, const QString& table);

// Gives the new, verified table its place for good: the old family is removed.
void commit(const QString& folder, const QString& table, pdx::FileOps& files);

// Removes whatever of a new table exists and puts the old family back.
void rollBack(const QString& folder, const QString& table, pdx::FileOps& files);

// Puts right what an interrupted replacement of T left behind, unless this
// process is replacing T right now. True when there was something to do.
bool recover(const QString& folder, const QString& table, pdx::FileOps& files);

// The same for every table of the folder.
void recoverFolder(const QString& folder, pdx::FileOps& files);

}  // namespace TableReplacement

}  // namespace orl::ado
