#pragma once

#include <QString>

#include <cstdint>
#include <map>

namespace orl::bench {

// Named figures one measurement gives, in seconds, megabytes or counts.
using Figures = std::map<QString, double>;

// The largest resident size this process has had so far, in megabytes.
double PeakMegabytes();

// Times `pdxtool copy` of the table `in` to `out`.
Figures MeasureCopy(const QString& in, const QString& out);

// Carries out the case-change run on `field` of `table` in `folder` with the
// scratch database of `programFolder`, and times its phases: staging (up to
// the distinct-value query), the update loop (to the write-back's first
// statement), the write-back with its check, and the whole run; "pauses"
// is the time the mandated waits spent sleeping, all of it inside the loop;
// "peak_staging" and "peak_loop" the peak memory at the end of those phases;
// "processor" the processor time the whole run took, which a busy machine
// disturbs less than the time on the clock.
// The run keeps `historyEntries` entries of the table's history (0: none).
Figures MeasureRun(const QString& folder, const QString& table, const QString& field, const QString& programFolder,
                   int historyEntries);

// Figures as "name=value" lines, and back.
QString FormatFigures(const Figures& figures);
Figures ParseFigures(const QString& text);

}  // namespace orl::bench
