#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/ado/ParadoxValues.h"
#include "platform/ado/RecordSet.h"
#include "platform/ado/ScratchDatabase.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/TableLock.h"
#include "platform/pdx/TableUpdate.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"

#include <QHash>

#include <optional>
#include <utility>

namespace orl::Paradox {

namespace {

bool isBlank(const ado::Value& value) {
  return value.isNull() || (value.kind() == ado::Value::Kind::Text && value.asText().isEmpty());
}

bool isNumber(const ado::Value& value) {
  using Kind = ado::Value::Kind;
  return value.kind() == Kind::Int16 || value.kind() == Kind::Int32 || value.kind() == Kind::Double ||
         value.kind() == Kind::Decimal;
}

// Whether two values are the same once the export's change of field type is
// allowed for: a Short read back as a Long, a logical as the text "True".
bool sameValue(const ado::Value& a, const ado::Value& b) {
  if (isBlank(a) || isBlank(b)) return isBlank(a) && isBlank(b);
  const bool aBytes = a.kind() == ado::Value::Kind::Bytes;
  const bool bBytes = b.kind() == ado::Value::Kind::Bytes;
  if (aBytes || bBytes) return aBytes && bBytes && a.asBytes() == b.asBytes();
  return a.toText() == b.toText();
}

// Whether a value read back is the text a transform gave; a number may read
// back in its own standard form ("1e+20" for "1E+20").
bool matchesText(const ado::Value& value, const QString& text) {
  if (text.isEmpty()) return isBlank(value);
  if (isBlank(value) || value.kind() == ado::Value::Kind::Bytes) return false;
  if (value.toText() == text) return true;
  if (!isNumber(value)) return false;
  const auto expected = ado::ParseDouble(text.toLower());
  const auto actual = ado::ParseDouble(value.toText());
  return expected && actual && *expected == *actual;
}

QString shown(const ado::Value& value) {
  if (value.isNull()) return QStringLiteral("(blank)");
  if (value.kind() == ado::Value::Kind::Bytes) return QStringLiteral("(%1 bytes)").arg(value.asBytes().size());
  const QString text = value.toText();
  return QLatin1Char('"') + (text.size() > 60 ? text.left(60) + QStringLiteral("...") : text) + QLatin1Char('"');
}

// The transform of each value and of its result, kept for the values met
// so far: a field of a million rows holds far fewer distinct values, and a
// transform costs more than finding it again. Forgotten when too many.
class ExpectedTexts {
 public:
  explicit ExpectedTexts(const FieldChange& change) : change_(change) {}
  // The transform once and twice; none when the transform fails.
  const std::optional<std::pair<QString, QString>>& of(const QString& before) {
    constexpr qsizetype MostKept = 100000;
    if (const auto found = known_.constFind(before); found != known_.constEnd()) return *found;
    if (known_.size() >= MostKept) known_.clear();
    std::optional<std::pair<QString, QString>> expected;
    try {
      QString once = change_.transform(before);
      QString twice = change_.transform(once);
      expected.emplace(std::move(once), std::move(twice));
    } catch (const Error&) {
    }
    return *known_.insert(before, std::move(expected));
  }

 private:
  const FieldChange& change_;
  QHash<QString, std::optional<std::pair<QString, QString>>> known_;
};

bool changedAsExpected(const ado::Value& before, const ado::Value& after, const FieldChange& change,
                       ExpectedTexts& expected, const pdx::CodePage* codePage = nullptr) {
  const QString beforeText = before.kind() == ado::Value::Kind::Bytes ? QString() : before.toText();
  const bool mayBeLeftAlone =
      change.anyValueMayBeLeftAlone || before.kind() == ado::Value::Kind::Bytes ||
      change.valuesLeftAlone.contains(beforeText);
  if (mayBeLeftAlone && sameValue(before, after)) return true;
  if (before.kind() == ado::Value::Kind::Bytes) return false;
  const auto& texts = expected.of(beforeText);
  // A later update may have reached rows that an earlier one had changed.
  if (!texts) return false;
  if (matchesText(after, texts->first) || matchesText(after, texts->second)) return true;
  // A letter whose new case the table's code page lacks stays as it was.
  if (!codePage) return false;
  for (const QString* text : {&texts->first, &texts->second}) {
    const auto kept = pdx::keepUnholdableLetters(beforeText.toStdString(), text->toStdString(), *codePage);
    if (kept && matchesText(after, QString::fromStdString(*kept))) return true;
  }
  return false;
}

Error notReplaced(const QString& table, const QString& what) {
  return Error::provider(
      QStringLiteral("The table '%1' was not replaced: %2. The old table is kept unchanged.").arg(table, what));
}

pdx::Table openTable(const QString& path) {
  try {
    return pdx::Table::open(path.toStdString());
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
}

// Reads the staged new table and the old one side by side and raises
// orl::Error at the first row that differs from what the run did.
void CheckNewTable(const QString& table, const QString& oldFile, const QString& newFile, const FieldChange* change,
                   ui::EventPump& pump) {
  const pdx::Table before = openTable(oldFile);
  const pdx::Table after = openTable(newFile);
  const auto fail = [&](const QString& what) { return notReplaced(table, what); };
  if (before.fields().size() != after.fields().size())
    throw fail(QStringLiteral("the new table has %1 fields where the old one has %2")
                   .arg(after.fields().size())
                   .arg(before.fields().size()));
  std::optional<std::size_t> changed;
  for (std::size_t f = 0; f < before.fields().size(); ++f) {
    if (before.fields()[f].name != after.fields()[f].name)
      throw fail(QStringLiteral("field %1 is named \"%2\" in the new table and \"%3\" in the old one")
                     .arg(f + 1)
                     .arg(QString::fromStdString(after.fields()[f].name), QString::fromStdString(before.fields()[f].name)));
    if (change && QString::fromStdString(before.fields()[f].name).compare(change->field, Qt::CaseInsensitive) == 0)
      changed = f;
  }
  std::optional<ExpectedTexts> expected;
  if (change) expected.emplace(*change);
  const pdx::CodePage beforePage(before.header().textCodePage());
  const pdx::CodePage afterPage(after.header().textCodePage());
  try {
    pdx::Cursor oldRows = before.cursor();
    pdx::Cursor newRows = after.cursor();
    std::vector<pdx::Value> oldRow, newRow;
    for (std::uint64_t r = 1;; ++r) {
      pump.pumpOnce();
      const bool hasOld = oldRows.next(oldRow);
      const bool hasNew = newRows.next(newRow);
      if (!hasOld && !hasNew) return;
      if (hasOld != hasNew)
        throw fail(QStringLiteral("the new table has %1 rows than the old one from row %2 on")
                       .arg(hasNew ? QStringLiteral("more") : QStringLiteral("fewer"))
                       .arg(r));
      for (std::size_t f = 0; f < oldRow.size(); ++f) {
        const bool isChanged = changed && f == *changed;
        if (!isChanged && pdx::identical(oldRow[f], newRow[f])) continue;
        const ado::Value was = ado::FromParadox(oldRow[f], before.fields()[f].type, beforePage);
        const ado::Value is = ado::FromParadox(newRow[f], after.fields()[f].type, afterPage);
        const bool right = isChanged ? changedAsExpected(was, is, *change, *expected) : sameValue(was, is);
        if (!right)
          throw fail(QStringLiteral("in row %1, field \"%2\" reads back as %3 where it was %4")
                         .arg(r)
                         .arg(QString::fromStdString(before.fields()[f].name), shown(is), shown(was)));
      }
    }
  } catch (const pdx::Error& error) {
    throw fail(QString::fromStdString(error.what()));
  }
}

// Reads the table written into the old one's structure against the old one:
// every field but the changed one byte for byte, the changed one as the run
// meant it.
void CheckUpdatedTable(const QString& table, const pdx::TableUpdate& update, const FieldChange* change,
                       const pdx::Progress& progress) {
  const pdx::TableHeader& header = update.header();
  std::optional<std::size_t> changed;
  for (std::size_t f = 0; change && f < header.fields.size(); ++f)
    if (QString::fromStdString(header.fields[f].name).compare(change->field, Qt::CaseInsensitive) == 0) changed = f;
  const pdx::CodePage codePage(header.textCodePage());
  std::optional<ExpectedTexts> expected;
  if (change) expected.emplace(*change);
  const auto asExpected = [&](const pdx::Value& before, const pdx::Value& after) {
    const pdx::FieldType type = header.fields[*changed].type;
    // Numbers, dates and logical values have no letter case: the field's own type keeps them as they were.
    if (type != pdx::FieldType::Alpha && type != pdx::FieldType::Memo) return before == after;
    return changedAsExpected(ado::FromParadox(before, type, codePage), ado::FromParadox(after, type, codePage),
                             *change, *expected, &codePage);
  };
  try {
    update.verify(changed, asExpected, progress);
  } catch (const pdx::Error& error) {
    throw notReplaced(table, QString::fromStdString(error.what()));
  }
}

}  // namespace

void WriteBackTable(const QString& table, const DataAccess& access, const FieldChange* change, bool* replaced,
                    Progress* progress) {
  RequireQuotableName(table, QStringLiteral("table"));
  ado::Connection scratch(access.seams);
  ado::Connection paradox(access.seams);
  ado::RecordSet records;

  paradox.setCursorLocation(ado::adUseClient);
  paradox.open(ParadoxConnectionString(access.folder.folderText()));
  scratch.setCursorLocation(ado::adUseServer);
  scratch.setMode(ado::adModeReadWrite);
  scratch.open(ScratchConnectionString(access.programFolder));

  auto& driver = dynamic_cast<ado::ParadoxFolderDriver&>(paradox.provider());
  auto& scratchDatabase = dynamic_cast<ado::ScratchDatabase&>(scratch.provider());
  // The old table stays where it is until the new one has been checked.
  const QString oldFile = driver.tableFile(table);

  // Leaving early releases both connections unclosed, which cancels the drop
  // and removes a staged new table: the folder stays as it was.
  paradox.execute(QStringLiteral("DROP TABLE `") + table + QLatin1Char('`'));
  scratchDatabase.allowIndexLoss(change ? change->indexLoss : ado::IndexLoss::None);

  records.setCursorLocation(ado::adUseClient);
  records.open(QStringLiteral("select * from [") + table + QLatin1Char(']'), scratch, ado::adOpenStatic,
               ado::adLockOptimistic);
  int rowCount = 0;
  if (!records.eof()) rowCount = records.recordCount();
  if (records.state() != ado::adStateClosed) records.close();

  // Writing the new table is the first half of the work, checking it the second.
  const auto recordsDone = [&](double from) {
    return [&access, progress, from, rowCount](std::uint64_t done) {
      access.pump.pumpOnce();
      if (progress && rowCount > 0) progress->reached(from + 0.5 * static_cast<double>(done) / rowCount);
    };
  };
  scratchDatabase.reportExportProgress(recordsDone(0.0));
  if (change) {
    pdx::ChangeFacts facts;
    facts.field = change->field.toStdString();
    facts.caseName = change->caseName.toStdString();
    facts.rows = static_cast<std::uint64_t>(rowCount);
    scratchDatabase.keepHistory({facts, change->historyEntries});
  }
  const QString target = Main::CollapseBackslashes(access.folder.folderText() + QLatin1Char('/'));
  scratch.execute(QStringLiteral("select top ") + QString::number(rowCount) +
                  QStringLiteral(" * into [Paradox 5.x;Database=") + target + QStringLiteral("].[") + table +
                  QStringLiteral(".db] from [") + table + QLatin1Char(']'));

  const ado::StagedExport* staged = scratchDatabase.stagedExport();
  if (!staged) throw Error::provider(QStringLiteral("The export wrote no table for '%1'.").arg(table));
  try {
    if (staged->update)
      CheckUpdatedTable(table, *staged->update, change, recordsDone(0.5));
    else
      CheckNewTable(table, oldFile, staged->stagedTable, change, access.pump);
  } catch (const Error&) {
    // A difference that another program's change made is told as that change.
    if (change && change->tableLock) {
      try {
        change->tableLock->requireUnchanged();
      } catch (const pdx::Error& error) {
        throw Error::provider(QString::fromStdString(error.what()));
      }
    }
    throw;
  }
  std::function<void()> lastLook;
  if (change && change->tableLock) lastLook = [lock = change->tableLock] { lock->requireUnchanged(); };
  scratchDatabase.commitExport(lastLook);
  if (replaced) *replaced = true;

  // The table has its new values from here on, whatever else fails.
  try {
    if (ScratchTableExists(table, access)) scratch.execute(QStringLiteral("DROP TABLE [") + table + QLatin1Char(']'));
    scratch.close();
    paradox.close();
  } catch (const Error& error) {
    throw Error(error.number(),
                QStringLiteral("The table '%1' was replaced with its new values, but its working copy in the scratch "
                               "database could not be removed: %2")
                    .arg(table, error.description()));
  }
}

}  // namespace orl::Paradox
