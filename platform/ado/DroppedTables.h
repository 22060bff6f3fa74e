#pragma once

#include <QString>

namespace orl::ado::DroppedTables {

// The Paradox tables that a connection has dropped and whose files still
// stand, so that an export into the same folder may take their place. A
// table is keyed by its folder and its name without regard to letter case.
void mark(const QString& folder, const QString& table);
bool isMarked(const QString& folder, const QString& table);
void unmark(const QString& folder, const QString& table);

}  // namespace orl::ado::DroppedTables
