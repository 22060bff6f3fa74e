#include "tools/bench/Measure.h"

#include "platform/common/TimeOfDayClock.h"
#include "platform/pdx/FileOps.h"
#include "platform/ui/MessageBoxes.h"
#include "platform/ui/QtEventPump.h"
#include "system/run/CaseChangeRun.h"
#include "tools/pdxtool/Copy.h"

#include <QStringList>

#include <sys/resource.h>

#include <chrono>
#include <optional>
#include <stdexcept>

namespace orl::bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

// The real pump; the time its waits sleep is the run's pause time.
class PauseCountingPump final : public ui::EventPump {
 public:
  void pumpOnce() override { pump_.pumpOnce(); }
  void pumpFor(int milliseconds) override {
    const auto start = Clock::now();
    pump_.pumpFor(milliseconds);
    pauses += secondsBetween(start, Clock::now());
  }
  double pauses = 0;

 private:
  ui::QtEventPump pump_;
};

// Marks the moments the run's phases begin, from the statements it sends.
class PhaseMarks final : public ado::StatementLog {
 public:
  void received(const QString&, const QString& statement) override {
    if (!loopStart && statement.startsWith(QStringLiteral("SELECT distinct "))) {
      loopStart = Clock::now();
      stagingPeak = PeakMegabytes();
      return;
    }
    if (statement.startsWith(QStringLiteral("update ["))) {
      ++updates;
      return;
    }
    if (loopStart && !writeBackStart) {
      writeBackStart = Clock::now();
      loopPeak = PeakMegabytes();
    }
  }
  double stagingPeak = 0, loopPeak = 0;
  std::optional<Clock::time_point> loopStart, writeBackStart;
  int updates = 0;
};

class ReportCountingBoxes final : public ui::MessageBoxes {
 public:
  void showErrorReport(const QString& text) override { reports << text; }
  void inform(const QString& text) override { informed << text; }
  void notify(const QString& text) override { informed << text; }
  bool askYesNo(const QString&) override { return false; }
  QStringList reports, informed;
};

class EmptyList final : public ui::ListItems {
 public:
  int count() const override { return 0; }
  QString text(int) const override { return {}; }
  void setText(int, const QString&) override {}
};

class BenchWindow final : public Run::RunWindow {
 public:
  BenchWindow(QString table, QString folder, QString field)
      : table_(std::move(table)), folder_(std::move(folder)), field_(std::move(field)) {}
  QString selectedTable() const override { return table_; }
  QString selectedTableFolder() const override { return folder_; }
  QString selectedField() const override { return field_; }
  bool tableShownSelected() const override { return true; }
  bool fieldShownSelected() const override { return true; }
  QString caseChoice() const override { return QStringLiteral("UPPER CASE"); }
  ui::ListItems& preview() override { return preview_; }
  void setProgressValue(double) override {}
  void setProgressText(const QString&) override {}
  void setMousePointer(int) override {}

 private:
  QString table_, folder_, field_;
  EmptyList preview_;
};

}  // namespace

// The processor time this process has used so far, in seconds: user and system.
double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

Figures MeasureCopy(const QString& in, const QString& out) {
  pdx::PosixFileOps files;
  const auto start = Clock::now();
  const std::uint32_t rows = pdxtool::copyTable(files, in.toStdString(), out.toStdString(), 0);
  return {{QStringLiteral("copy"), secondsBetween(start, Clock::now())},
          {QStringLiteral("rows"), rows},
          {QStringLiteral("peak"), PeakMegabytes()}};
}

Figures MeasureRun(const QString& folder, const QString& table, const QString& field, const QString& programFolder,
                   int historyEntries) {
  PhaseMarks marks;
  PauseCountingPump pump;
  SystemTimeOfDayClock clock;
  ReportCountingBoxes boxes;
  BenchWindow window(table, folder, field);
  Run::RunServices services{boxes, pump, clock, programFolder, ado::Seams{&marks, nullptr}, historyEntries};

  const double processorStart = ProcessorSeconds();
  const auto start = Clock::now();
  const bool done = Run::PushButton1_Click(window, services);
  const auto end = Clock::now();
  const double processor = ProcessorSeconds() - processorStart;
  if (!done || !boxes.reports.isEmpty())
    throw std::runtime_error(("the run failed: " + boxes.reports.join(QLatin1Char('\n'))).toStdString());
  if (!marks.loopStart || !marks.writeBackStart) throw std::runtime_error("the run sent no update loop");
  return {{QStringLiteral("stage"), secondsBetween(start, *marks.loopStart)},
          {QStringLiteral("loop"), secondsBetween(*marks.loopStart, *marks.writeBackStart)},
          {QStringLiteral("pauses"), pump.pauses},
          {QStringLiteral("writeback"), secondsBetween(*marks.writeBackStart, end)},
          {QStringLiteral("whole"), secondsBetween(start, end)},
          {QStringLiteral("processor"), processor},
          {QStringLiteral("updates"), marks.updates},
          {QStringLiteral("peak"), PeakMegabytes()},
          {QStringLiteral("peak_staging"), marks.stagingPeak},
          {QStringLiteral("peak_loop"), marks.loopPeak}};
}

QString FormatFigures(const Figures& figures) {
  QString text;
  for (const auto& [name, value] : figures) text += name + QLatin1Char('=') + QString::number(value, 'g', 10) + QLatin1Char('\n');
  return text;
}

Figures ParseFigures(const QString& text) {
  Figures figures;
  for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals <= 0) continue;
    bool number = false;
    const double value = line.mid(equals + 1).toDouble(&number);
    if (number) figures[line.left(equals)] = value;
  }
  return figures;
}

}  // namespace orl::bench
