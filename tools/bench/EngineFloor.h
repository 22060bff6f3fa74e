#pragma once

#include "tools/bench/Measure.h"

namespace orl::bench {

// What the scratch engine alone needs for the work a run gives it: the rows
// of the table at `tableFile` inserted through one prepared statement in
// one transaction, `field` indexed, one prepared update a distinct value,
// and the table read twice as the export does, in a fresh SQLite file at
// `databaseFile` with the scratch database's settings. No statement text
// is built or read, and nothing is checked or written back: a run cannot
// take less than this.
Figures MeasureEngineFloor(const QString& tableFile, const QString& field, const QString& databaseFile);

}  // namespace orl::bench
