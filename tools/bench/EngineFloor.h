#pragma once

#include "tools/bench/Measure.h"

namespace orl::bench {

// What the scratch engine alone needs for the work a run gives it: the rows
// of the table at `tableFile` inserted through one prepared statement in
// one transaction, the rows of each value of `field` read once, each row
// updated through one prepared statement, and the field read in row order
// as the export reads it, in a fresh SQLite file at
// `databaseFile` with the scratch database's settings. No statement text
// is built or read, and nothing is checked or written back: a run cannot
// take less than this.
Figures MeasureEngineFloor(const QString& tableFile, const QString& field, const QString& databaseFile);

}  // namespace orl::bench
