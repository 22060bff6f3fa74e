#include "system/run/CaseChangeRun.h"

#include "platform/ado/RecordSet.h"
#include "platform/ado/ScratchDatabase.h"
#include "platform/ado/ScratchLock.h"
#include "platform/common/Error.h"
#include "platform/pdx/TableLock.h"
#include "system/case/Case.h"
#include "system/case/NameCase.h"
#include "system/main/ErrorReport.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"

#include <array>
#include <cassert>
#include <optional>

namespace orl::Run {

namespace {

using Case::CaseKind;

// The step numbers of one case kind: its test in the loop, the null test,
// the null statement and the value statement; its test after the loop and
// the preview re-casing. Name Case came after the four: its loop steps take
// the four even numbers after the last step (208), as none are free together
// between 162 and 166, and its preview steps follow the four kinds' (200, 202).
struct KindSteps {
  CaseKind kind;
  int test, nullTest, nullStatement, valueStatement, previewTest, preview;
  QString (*transform)(const QString&);
  void (*recase)(ui::ListItems&);
};

const std::array<KindSteps, 5> Kinds = {{
    {CaseKind::Upper, 132, 134, 136, 138, 184, 186, Case::Upper, Case::ListUpperCase},
    {CaseKind::Lower, 140, 142, 144, 146, 188, 190, Case::Lower, Case::ListLowerCase},
    {CaseKind::Proper, 148, 150, 152, 154, 192, 194, Case::ProperCase, Case::ListProperCase},
    {CaseKind::Sentence, 156, 158, 160, 162, 196, 198, Case::SentenceCase, Case::ListSentenceCase},
    {CaseKind::Name, 210, 212, 214, 216, 200, 202, Case::NameCase, Case::ListNameCase},
}};

QString doubledQuotes(QString text) { return text.replace(QLatin1Char('\''), QStringLiteral("''")); }

// The whole run's progress, shown on the window's bar in percent.
class BarProgress final : public Progress {
 public:
  explicit BarProgress(RunWindow& window) : window_(window) {}
  void reached(double fraction) override { window_.setProgressValue(fraction * 100.0); }

 private:
  RunWindow& window_;
};

}  // namespace

bool PushButton1_Click(RunWindow& window, RunServices& services) {
  ErrorReport report(QStringLiteral("Brennick"), QStringLiteral("Form2"), QStringLiteral("PushButton1_Click"),
                     services.boxes);
  // Declared first so that it is given up last, after every scratch connection of the run.
  std::optional<ado::ScratchLock> scratchLock;
  std::optional<ado::Connection> connection;
  std::optional<ado::RecordSet> cursor;

  report.step(100, [&] { connection.emplace(services.seams); });
  report.step(102, [&] { cursor.emplace(); });

  // Only a table and a field the window shows as chosen are ever changed.
  bool tableChosen = false;
  if (!report.test(104, [&] {
        tableChosen = window.tableShownSelected();
        return tableChosen && window.fieldShownSelected();
      })) {
    report.step(208, [&] {
      services.boxes.inform(tableChosen ? QStringLiteral("Please select a field.")
                                        : QStringLiteral("Please select a table."));
    });
    return false;
  }

  BarProgress bar(window);
  ProgressShare staging(bar, StagingBegins, StagingEnds);
  ProgressShare updates(bar, StagingEnds, UpdatesEnd);
  ProgressShare writeBack(bar, UpdatesEnd, 1.0);
  const auto endOfRun = [&] {
    window.setMousePointer(DefaultPointer);
    window.setProgressValue(0);
  };

  report.step(106, [&] {
    window.setMousePointer(HourglassPointer);
    staging.reached(0.0);
  });

  // Table, field and case are taken once, here, and used unchanged to the end.
  QString table, field, caseName;
  const KindSteps* kind = nullptr;
  Paradox::FixedFolderText folder{QString()};
  std::optional<Paradox::DataAccess> access;
  std::optional<ado::IndexLoss> indexLoss;
  std::unique_ptr<pdx::TableLock> tableLock;
  const bool staged = report.step(108, [&] {
    table = window.selectedTable();
    field = window.selectedField();
    const QString choice = window.caseChoice();
    caseName = choice;
    const auto recognised = Case::CaseKindFromChoice(choice);
    if (!recognised)
      throw Error(ErrorNumber::InvalidCall,
                  QStringLiteral("The case choice \"%1\" names none of UPPER CASE, lower case, Proper Case, "
                                 "Sentence case and Name Case.")
                      .arg(choice));
    for (const KindSteps& steps : Kinds)
      if (steps.kind == *recognised) kind = &steps;
    assert(kind != nullptr);  // every case kind has its steps
    Paradox::RequireQuotableName(table, QStringLiteral("table"));
    Paradox::RequireQuotableName(field, QStringLiteral("field"));
    folder = Paradox::FixedFolderText(window.selectedTableFolder());
    access.emplace(Paradox::DataAccess{folder, services.programFolder, services.pump, services.seams});
    scratchLock.emplace(ado::ScratchDatabase::databaseFile(Paradox::ScratchConnectionString(services.programFolder)));
    // Other programs stay out of the table from before it is read until it is replaced.
    tableLock = Paradox::LockTable(table, *access);
    // A key or indexed field: nothing is changed unless the user agrees to what the table loses.
    indexLoss = Paradox::AskAboutIndexes(table, field, *access, services.boxes);
    if (indexLoss) Paradox::StageTable(table, *access, &staging, *indexLoss);
  });
  if (!staged || !indexLoss) {
    // Nothing is written back from a scratch table that may lack rows.
    endOfRun();
    return false;
  }

  Paradox::FieldChange change{field, kind->transform, {}, false, *indexLoss, caseName, services.historyEntries,
                              tableLock.get()};

  report.step(110, [&] { connection->setMode(ado::adModeReadWrite); });
  if (!report.step(112, [&] { connection->open(Paradox::ScratchConnectionString(services.programFolder)); }))
    change.anyValueMayBeLeftAlone = true;
  if (!report.step(114, [&] {
        cursor->open(QStringLiteral("SELECT distinct `") + field + QStringLiteral("` FROM `") + table +
                         QLatin1Char('`'),
                     *connection, ado::adOpenStatic, ado::adLockOptimistic);
      }))
    change.anyValueMayBeLeftAlone = true;

  std::int32_t last = 0;
  if (!report.step(122, [&] { last = cursor->recordCount() - 1; })) change.anyValueMayBeLeftAlone = true;

  if (report.test(124, [&] { return !cursor->eof(); })) {
    for (std::int32_t i = 0; i <= last; ++i) {
      report.step(128, [&] { services.pump.pumpOnce(); });
      report.step(130, [&] { updates.reached((i + 1.0) / (last + 1.0)); });

      for (const KindSteps& steps : Kinds) {
        if (!report.test(steps.test, [&] { return steps.kind == kind->kind; })) continue;
        ado::Value old;
        const bool isNull = report.test(steps.nullTest, [&] {
          old = cursor->fields().item(0).value();
          return old.isNull();
        });
        if (isNull) {
          // Also reached when the value could not be read, which leaves it as it was.
          if (!old.isNull()) change.anyValueMayBeLeftAlone = true;
          if (!report.step(steps.nullStatement, [&] {
                const QString replacement = steps.transform(Main::NullToDefault(old, ado::Value::text(QString())).toText());
                connection->execute(QStringLiteral("update [") + table + QStringLiteral("] set [") + field +
                                    QStringLiteral("]='") + doubledQuotes(replacement) + QStringLiteral("' where [") +
                                    field + QStringLiteral("] is null "));
              }))
            change.valuesLeftAlone.insert(QString());
        } else if (!report.step(steps.valueStatement, [&] {
                     const QString oldText = old.toText();
                     const QString replacement = steps.transform(oldText);
                     connection->execute(QStringLiteral("update [") + table + QStringLiteral("] set [") + field +
                                         QStringLiteral("]='") + doubledQuotes(replacement) +
                                         QStringLiteral("' where [") + field + QStringLiteral("]='") +
                                         doubledQuotes(oldText) + QLatin1Char('\''));
                   })) {
          if (old.kind() == ado::Value::Kind::Bytes)
            change.anyValueMayBeLeftAlone = true;
          else
            change.valuesLeftAlone.insert(old.toText());
        }
      }

      report.step(166, [&] {
        if (i % 5000 == 0) Main::WaitSeconds(1, services.clock, services.pump);
      });
      if (!report.step(168, [&] { cursor->moveNext(); })) change.anyValueMayBeLeftAlone = true;
    }
  }

  report.step(172, [&] { cursor->close(); });
  // The pointer stays busy through the write-back: the window still takes no change then.
  report.step(174, [&] { Main::WaitSeconds(0.4, services.clock, services.pump); });
  report.step(176, [&] {
    updates.reached(1.0);
    window.setProgressText(QStringLiteral("Progress Bar"));
  });

  bool replaced = false;
  report.step(178, [&] {
    writeBack.reached(0.0);
    Paradox::WriteBackTable(table, *access, &change, &replaced, &writeBack);
  });
  tableLock.reset();
  // A table replaced has its new values even when a later step failed.
  if (replaced) writeBack.reached(1.0);
  report.step(180, [&] { window.setMousePointer(DefaultPointer); });
  report.step(182, [&] { services.pump.pumpOnce(); });
  // A table not replaced kept its old values, so the preview keeps them too.
  if (!replaced) {
    endOfRun();
    return false;
  }

  for (const KindSteps& steps : Kinds)
    if (report.test(steps.previewTest, [&] { return steps.kind == kind->kind; }))
      report.step(steps.preview, [&] { steps.recase(window.preview()); });

  report.step(206, [&] { services.boxes.inform(QStringLiteral("Done.")); });
  endOfRun();
  return true;
}

}  // namespace orl::Run
