// orlintide-bench: generates synthetic tables and measures, on the same
// table, `pdxtool copy` (the floor), the case-change run phase by phase, and
// the scratch engine alone doing the run's work (the floor of any run).
// Each measurement runs in a child process of its own, so that its peak
// memory is its own.
//
//   orlintide-bench [--work DIR] [--workloads W1,W2,W3] [--rounds N] [--history-rounds N]

#include "platform/pdx/FileCopy.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/Generate.h"
#include "platform/pdx/History.h"
#include "tools/bench/EngineFloor.h"
#include "tools/bench/Measure.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <vector>

namespace {

using orl::bench::Figures;

struct Workload {
  const char* name;
  std::uint32_t rows, distinct;
};
constexpr Workload Workloads[] = {{"W1", 100000, 2000}, {"W2", 1000000, 20000}, {"W3", 200000, 200000}};

void say(const QString& text) {
  std::fputs(text.toUtf8().constData(), stdout);
  std::fflush(stdout);
}

Figures inChild(const QStringList& arguments) {
  QProcess child;
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), arguments);
  if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
    throw std::runtime_error(("the measurement " + arguments.join(QLatin1Char(' ')) + " failed").toStdString());
  return orl::bench::ParseFigures(QString::fromUtf8(child.readAllStandardOutput()));
}

struct Result {
  Workload workload;
  Figures copy, run, engine;
  double perValue() const { return (run.at(QStringLiteral("loop")) - run.at(QStringLiteral("pauses"))) / workload.distinct; }
  double wholeAside() const { return run.at(QStringLiteral("whole")) - run.at(QStringLiteral("pauses")); }
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Each figure's median over the rounds, so that one disturbed round on a
// busy machine does not make the figures.
Figures medians(const std::vector<Figures>& rounds) {
  Figures result;
  for (const auto& [name, value] : rounds.front()) {
    std::vector<double> values;
    for (const Figures& round : rounds) values.push_back(round.at(name));
    result[name] = median(values);
  }
  return result;
}

void replaceFolderWithCopy(const QDir& from, const QDir& to) {
  QDir(to).removeRecursively();
  QDir().mkpath(to.path());
  for (const QString& name : from.entryList(QDir::Files))
    if (!QFile::copy(from.filePath(name), to.filePath(name)))
      throw std::runtime_error(("cannot copy " + from.filePath(name)).toStdString());
}

Result measure(const Workload& workload, const QDir& work, const QString& scratch, int rounds) {
  QDir folder(work.filePath(QString::fromLatin1(workload.name)));
  folder.removeRecursively();
  QDir().mkpath(folder.filePath(QStringLiteral("program")));
  QFile::copy(scratch, folder.filePath(QStringLiteral("program/dbTemp.mdb")));
  QDir().mkpath(folder.filePath(QStringLiteral("pristine")));
  const QString pristine = folder.filePath(QStringLiteral("pristine/BENCH.db"));
  const QString table = folder.filePath(QStringLiteral("data/BENCH.db"));
  const QString copy = folder.filePath(QStringLiteral("COPY.db"));
  orl::pdx::PosixFileOps files;
  say(QStringLiteral("%1: generating %2 rows, %3 distinct names...\n").arg(QString::fromLatin1(workload.name)).arg(workload.rows).arg(workload.distinct));
  orl::pdx::generateTable(files, pristine.toStdString(), {workload.rows, workload.distinct, 2026, 0});
  std::vector<Figures> copies, runs, engines;
  for (int round = 0; round < rounds; ++round) {
    replaceFolderWithCopy(QDir(folder.filePath(QStringLiteral("pristine"))), QDir(folder.filePath(QStringLiteral("data"))));
    QFile::remove(copy);
    QFile::remove(folder.filePath(QStringLiteral("COPY.mb")));
    copies.push_back(inChild({QStringLiteral("--measure-copy"), table, copy}));
    runs.push_back(inChild({QStringLiteral("--measure-run"), folder.filePath(QStringLiteral("data")), QStringLiteral("BENCH"),
                            QStringLiteral("Name"), folder.filePath(QStringLiteral("program")),
                            QString::number(orl::pdx::DefaultHistoryEntries)}));
    if (runs.back().at(QStringLiteral("updates")) != workload.distinct)
      throw std::runtime_error("the run did not send one update a distinct value");
    engines.push_back(inChild({QStringLiteral("--measure-engine"), pristine, QStringLiteral("Name"),
                               folder.filePath(QStringLiteral("engine.sqlite"))}));
  }
  return {workload, medians(copies), medians(runs), medians(engines)};
}

// The run's time with the table's history off and on, on fresh copies of
// one table, in alternating order so that a noisy machine weighs on both alike.
struct HistoryCost {
  Workload workload;
  std::vector<double> off, on;                    // the whole run, pauses aside, one a round
  std::vector<double> processorOff, processorOn;  // its processor time
  std::vector<double> swapOff, swapOn;            // the swap of the new table alone, with its pruning
};

// The one part of a run that history changes: the swap that puts the new
// table in place (hashing both families and writing the entry when on),
// then the pruning. The new table is a copy of the old one.
double timeSwap(const QString& folder, bool history) {
  using Clock = std::chrono::steady_clock;
  orl::pdx::PosixFileOps files;
  const std::string path = folder.toStdString();
  orl::pdx::FamilyReplacement replacement(files, path, "BENCH.db");
  orl::pdx::copyWholeFile(files, path + "/BENCH.db", replacement.stagedPath("BENCH.db"));
  const auto start = Clock::now();
  const std::vector<std::string> replaced{"BENCH.db"};
  if (history) {
    orl::pdx::HistoryKeeper keeper(files, path, "BENCH.db", orl::pdx::ChangeFacts{});
    replacement.commit(replaced, &keeper);
  } else {
    replacement.commit(replaced);
  }
  orl::pdx::TableHistory(files, path, "BENCH.db").prune(history ? orl::pdx::DefaultHistoryEntries : 0);
  return std::chrono::duration<double>(Clock::now() - start).count();
}


HistoryCost measureHistoryCost(const Workload& workload, const QDir& work, const QString& scratch, int rounds) {
  QDir folder(work.filePath(QString::fromLatin1(workload.name) + QStringLiteral("-history")));
  folder.removeRecursively();
  QDir().mkpath(folder.filePath(QStringLiteral("program")));
  QFile::copy(scratch, folder.filePath(QStringLiteral("program/dbTemp.mdb")));
  QDir().mkpath(folder.filePath(QStringLiteral("pristine")));
  orl::pdx::PosixFileOps files;
  say(QStringLiteral("%1: generating %2 rows for the history rounds...\n").arg(QString::fromLatin1(workload.name)).arg(workload.rows));
  orl::pdx::generateTable(files, folder.filePath(QStringLiteral("pristine/BENCH.db")).toStdString(),
                          {workload.rows, workload.distinct, 2026, 0});
  HistoryCost cost{workload, {}, {}, {}, {}, {}, {}};
  for (int round = 0; round < rounds; ++round) {
    for (const bool history : {round % 2 == 0, round % 2 != 0}) {
      replaceFolderWithCopy(QDir(folder.filePath(QStringLiteral("pristine"))), QDir(folder.filePath(QStringLiteral("data"))));
      const Figures run = inChild({QStringLiteral("--measure-run"), folder.filePath(QStringLiteral("data")),
                                   QStringLiteral("BENCH"), QStringLiteral("Name"), folder.filePath(QStringLiteral("program")),
                                   QString::number(history ? orl::pdx::DefaultHistoryEntries : 0)});
      const double aside = run.at(QStringLiteral("whole")) - run.at(QStringLiteral("pauses"));
      (history ? cost.on : cost.off).push_back(aside);
      (history ? cost.processorOn : cost.processorOff).push_back(run.at(QStringLiteral("processor")));
      say(QStringLiteral("  round %1, history %2: %3 s, pauses aside; processor %4 s\n")
              .arg(round + 1)
              .arg(history ? QStringLiteral("on") : QStringLiteral("off"))
              .arg(QString::number(aside, 'f', 2), QString::number(run.at(QStringLiteral("processor")), 'f', 2)));
    }
  }
  for (int round = 0; round < rounds; ++round) {
    for (const bool history : {round % 2 == 0, round % 2 != 0}) {
      replaceFolderWithCopy(QDir(folder.filePath(QStringLiteral("pristine"))), QDir(folder.filePath(QStringLiteral("swap"))));
      (history ? cost.swapOn : cost.swapOff).push_back(timeSwap(folder.filePath(QStringLiteral("swap")), history));
    }
  }
  return cost;
}


void print(const std::vector<HistoryCost>& costs) {
  bool met = true;
  const auto compare = [&](const HistoryCost& cost, const QString& what, const std::vector<double>& off,
                           const std::vector<double>& on) {
    const double growth = (median(on) / median(off) - 1) * 100;
    say(QStringLiteral("%1 %2, medians of %3 alternating rounds: history off %4 s, on %5 s: %6%7%\n")
            .arg(QString::fromLatin1(cost.workload.name), what)
            .arg(off.size())
            .arg(QString::number(median(off), 'f', 2), QString::number(median(on), 'f', 2),
                 growth >= 0 ? QStringLiteral("+") : QString(), QString::number(growth, 'f', 1)));
  };
  for (const HistoryCost& cost : costs) {
    say(QStringLiteral("%1 (on a busy machine the whole runs vary by more than history costs; the swap alone "
                       "tells its cost)\n")
            .arg(QString::fromLatin1(cost.workload.name)));
    compare(cost, QStringLiteral("run, pauses aside"), cost.off, cost.on);
    compare(cost, QStringLiteral("run's processor time"), cost.processorOff, cost.processorOn);
    const double swapGrowth = median(cost.swapOn) - median(cost.swapOff);
    const double share = swapGrowth / median(cost.off) * 100;
    say(QStringLiteral("%1 swap of the new table, medians of %2: history off %3 s, on %4 s: %5 s more, %6% of the "
                       "run with history off (goal <= 5%) %7\n")
            .arg(QString::fromLatin1(cost.workload.name))
            .arg(cost.swapOff.size())
            .arg(QString::number(median(cost.swapOff), 'f', 2), QString::number(median(cost.swapOn), 'f', 2),
                 QString::number(swapGrowth, 'f', 2), QString::number(share, 'f', 1),
                 share <= 5 ? QStringLiteral("met") : QStringLiteral("MISSED")));
    met &= share <= 5;
  }
  say(met ? QStringLiteral("All goals met.\n") : QStringLiteral("Some goals missed.\n"));
}

QString row(const QStringList& cells) {
  static const std::vector<int> widths = {4, 8, 8, 7, 7, 8, 7, 9, 8, 8, 8, 7};
  QString line;
  for (qsizetype i = 0; i < cells.size(); ++i)
    line += cells[i].rightJustified(widths[static_cast<std::size_t>(i) % widths.size()]) + QLatin1Char(' ');
  return line.trimmed() + QLatin1Char('\n');
}

QString fixed(double value, int decimals) { return QString::number(value, 'f', decimals); }

void print(const std::vector<Result>& results) {
  say(row({"load", "rows", "distinct", "copy s", "stage s", "loop s", "pause s", "µs/value", "write s",
           "whole s", "x copy", "peak MB"}));
  for (const Result& r : results)
    say(row({QString::fromLatin1(r.workload.name), QString::number(r.workload.rows), QString::number(r.workload.distinct),
             fixed(r.copy.at(QStringLiteral("copy")), 2), fixed(r.run.at(QStringLiteral("stage")), 2),
             fixed(r.run.at(QStringLiteral("loop")), 2), fixed(r.run.at(QStringLiteral("pauses")), 2),
             fixed(r.perValue() * 1e6, 1), fixed(r.run.at(QStringLiteral("writeback")), 2),
             fixed(r.run.at(QStringLiteral("whole")), 2), fixed(r.wholeAside() / r.copy.at(QStringLiteral("copy")), 1),
             fixed(r.run.at(QStringLiteral("peak")), 0)}));
  say(QStringLiteral("(\"x copy\" is the whole run, pauses aside, over the copy)\n"));
  for (const Result& r : results) {
    const double engine = r.engine.at(QStringLiteral("engine"));
    say(QStringLiteral("%1 scratch engine alone, after reading the table in %9 s: inserts %2 s, rows of each "
                       "value %3 s, updates %4 s, the export's read %5 s; %6 s together, %7 x copy, %8 of the run pauses aside\n")
            .arg(QString::fromLatin1(r.workload.name), fixed(r.engine.at(QStringLiteral("engine_insert")), 2),
                 fixed(r.engine.at(QStringLiteral("engine_value_rows")), 2), fixed(r.engine.at(QStringLiteral("engine_updates")), 2),
                 fixed(r.engine.at(QStringLiteral("engine_reads")), 2), fixed(engine, 2),
                 fixed(engine / r.copy.at(QStringLiteral("copy")), 1), fixed(engine / r.wholeAside(), 2),
                 fixed(r.engine.at(QStringLiteral("engine_table_read")), 2)));
  }
  for (const Result& r : results)
    say(QStringLiteral("%1 peak MB by the end of staging %2, of the loop %3, of the write-back %4\n")
            .arg(QString::fromLatin1(r.workload.name), fixed(r.run.at(QStringLiteral("peak_staging")), 0),
                 fixed(r.run.at(QStringLiteral("peak_loop")), 0), fixed(r.run.at(QStringLiteral("peak")), 0)));

  const auto find = [&](const char* name) -> const Result* {
    for (const Result& r : results)
      if (qstrcmp(r.workload.name, name) == 0) return &r;
    return nullptr;
  };
  const auto goal = [](const QString& what, double value, double limit) {
    say(QStringLiteral("%1: %2 (goal <= %3) %4\n").arg(what, fixed(value, 2), fixed(limit, 0), value <= limit ? "met" : "MISSED"));
    return value <= limit;
  };
  bool met = true;
  const Result* w1 = find("W1");
  const Result* w2 = find("W2");
  const Result* w3 = find("W3");
  if (w2) {
    const double overCopy = w2->wholeAside() / w2->copy.at(QStringLiteral("copy"));
    met &= goal(QStringLiteral("W2 whole run, pauses aside, over copy"), overCopy, 4);
    met &= goal(QStringLiteral("The same with the write-back that keeps the table's structure"), overCopy, 10);
    met &= goal(QStringLiteral("W2 peak memory, MB"), w2->run.at(QStringLiteral("peak")), 300);
  }
  if (w1 && w2) met &= goal(QStringLiteral("W2 whole run over W1's, pauses aside"), w2->wholeAside() / w1->wholeAside(), 11);
  if (w1 && w3) met &= goal(QStringLiteral("W3 update time per value over W1's"), w3->perValue() / w1->perValue(), 2);
  say(met ? QStringLiteral("All goals met.\n") : QStringLiteral("Some goals missed.\n"));
}

int runChild(const QStringList& arguments) {
  Figures figures;
  if (arguments.size() == 3 && arguments[0] == QStringLiteral("--measure-copy"))
    figures = orl::bench::MeasureCopy(arguments[1], arguments[2]);
  else if (arguments.size() == 6 && arguments[0] == QStringLiteral("--measure-run"))
    figures = orl::bench::MeasureRun(arguments[1], arguments[2], arguments[3], arguments[4], arguments[5].toInt());
  else if (arguments.size() == 4 && arguments[0] == QStringLiteral("--measure-engine"))
    figures = orl::bench::MeasureEngineFloor(arguments[1], arguments[2], arguments[3]);
  else
    return 2;
  say(orl::bench::FormatFigures(figures));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication application(argc, argv);
  try {
    const QStringList arguments = application.arguments().mid(1);
    if (!arguments.isEmpty() && arguments[0].startsWith(QStringLiteral("--measure-"))) return runChild(arguments);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times the case-change run against a table copy."));
    parser.addHelpOption();
    const QCommandLineOption workOption(QStringLiteral("work"), QStringLiteral("Folder for the generated tables (kept)."),
                                        QStringLiteral("DIR"));
    const QCommandLineOption loadsOption(QStringLiteral("workloads"), QStringLiteral("Which of W1,W2,W3 to run."),
                                         QStringLiteral("LIST"), QStringLiteral("W1,W2,W3"));
    const QCommandLineOption roundsOption(
        QStringLiteral("rounds"),
        QStringLiteral("Measures each workload N times on fresh copies of its table and prints the medians."),
        QStringLiteral("N"), QStringLiteral("1"));
    const QCommandLineOption historyOption(
        QStringLiteral("history-rounds"),
        QStringLiteral("Instead of the usual figures, times the run with the table's history off and on, N times "
                       "each, alternately, and compares the medians."),
        QStringLiteral("N"));
    parser.addOption(workOption);
    parser.addOption(loadsOption);
    parser.addOption(historyOption);
    parser.addOption(roundsOption);
    parser.process(application);
    const auto count = [&](const QCommandLineOption& option) {
      bool isNumber = false;
      const int value = parser.value(option).toInt(&isNumber);
      if (!isNumber || value < 1)
        throw std::runtime_error(("--" + option.names().front() + " needs a whole number from 1").toStdString());
      return value;
    };
    const int historyRounds = parser.isSet(historyOption) ? count(historyOption) : 0;
    const int rounds = count(roundsOption);

    const QString scratch = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("dbTemp.mdb"));
    if (!QFile::exists(scratch)) throw std::runtime_error("dbTemp.mdb is not beside the bench");
    QTemporaryDir temporary;
    const QDir work(parser.isSet(workOption) ? parser.value(workOption) : temporary.path());
    QDir().mkpath(work.path());

    const QStringList wanted = parser.value(loadsOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
    // What `measureOne` gives for each chosen workload, in the order of Workloads.
    const auto measureChosen = [&](const auto& measureOne) {
      std::vector<decltype(measureOne(Workloads[0]))> measured;
      for (const Workload& workload : Workloads)
        if (wanted.contains(QString::fromLatin1(workload.name), Qt::CaseInsensitive))
          measured.push_back(measureOne(workload));
      if (measured.empty()) throw std::runtime_error("no known workload chosen");
      return measured;
    };
    if (historyRounds > 0)
      print(measureChosen([&](const Workload& w) { return measureHistoryCost(w, work, scratch, historyRounds); }));
    else
      print(measureChosen([&](const Workload& w) { return measure(w, work, scratch, rounds); }));
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orlintide-bench: %s\n", error.what());
    return 1;
  }
}
