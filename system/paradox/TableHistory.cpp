#include "system/paradox/TableHistory.h"

#include "platform/common/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/TableLock.h"

#include <QDir>
#include <QFile>

namespace orl::Paradox {

namespace {

Error historyError(const pdx::Error& error) { return Error::provider(QString::fromStdString(error.what())); }

pdx::TableHistory historyOf(pdx::PosixFileOps& files, const QString& folder, const QString& table) {
  return pdx::TableHistory(files, folder.toStdString(), TableFileIn(folder, table).toStdString());
}

}  // namespace

int HistoryEntriesSetting(ui::SettingsStore& settings) {
  bool isNumber = false;
  const int entries = settings.read(QString::fromLatin1(HistoryEntriesKey), QString()).trimmed().toInt(&isNumber);
  return isNumber && entries >= 0 ? entries : pdx::DefaultHistoryEntries;
}

QString TableFileIn(const QString& folder, const QString& table) {
  const std::string wanted = (table + QStringLiteral(".db")).toStdString();
  QStringList found;
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
    if (pdx::sameNameButCase(name.toStdString(), wanted)) found << name;
  if (found.isEmpty()) throw Error::provider(QStringLiteral("The folder '%1' holds no table '%2'.").arg(folder, table));
  if (found.size() > 1)
    throw Error::provider(QStringLiteral("The folder holds more than one file for table '%1' (%2), differing only in "
                                         "letter case; rename all but one.")
                              .arg(table, found.join(QStringLiteral(", "))));
  return found.front();
}

std::vector<pdx::HistoryEntry> HistoryOf(const QString& folder, const QString& table) {
  pdx::PosixFileOps files;
  try {
    return historyOf(files, folder, table).entries();
  } catch (const pdx::Error& error) {
    throw historyError(error);
  }
}

HistoryPlaces HistoryPlacesOf(const QString& folder, const QString& table) {
  pdx::PosixFileOps files;
  try {
    const pdx::TableHistory history = historyOf(files, folder, table);
    const std::string place = history.place();
    HistoryPlaces places{QString::fromStdString(place), pdx::inPrivateHistory(place), {}};
    for (const auto& other : history.untrustedPlaces()) places.untrusted << QString::fromStdString(other);
    return places;
  } catch (const pdx::Error& error) {
    throw historyError(error);
  }
}

QString DescribeEntry(const pdx::HistoryEntry& entry) {
  const QString field = QString::fromStdString(entry.facts.field);
  return QStringLiteral("%1, %2, %3")
      .arg(QString::fromStdString(entry.facts.when),
           entry.facts.kind == "restore" ? QStringLiteral("undo of ") + field : field,
           QString::fromStdString(entry.facts.caseName));
}

RestoreOutcome RestoreTable(const QString& folder, const QString& table, int number, int keepEntries,
                            ui::MessageBoxes& boxes) {
  pdx::PosixFileOps files;
  try {
    // A restore replaces the table as a run does, so it holds it as a run does.
    const pdx::TableLock lock(QFile::encodeName(QDir(folder).filePath(TableFileIn(folder, table))).toStdString());
    pdx::TableHistory history = historyOf(files, folder, table);
    pdx::RestoreOptions options;
    options.keepEntries = keepEntries;
    if (!history.unchangedSince(number)) {
      const auto entries = history.entries();
      const QString question =
          QStringLiteral("The table %1 was changed by another program after the case change of %2. Restoring it "
                         "as it was before that change also undoes those changes. Restore it anyway?")
              .arg(table, QString::fromStdString(entries.at(static_cast<std::size_t>(number - 1)).facts.when));
      if (!boxes.askYesNo(question)) return RestoreOutcome::Declined;
      options.evenIfChangedOutside = true;
    }
    return history.restore(number, options) ? RestoreOutcome::Restored : RestoreOutcome::AlreadyAsBefore;
  } catch (const pdx::Error& error) {
    throw historyError(error);
  }
}

}  // namespace orl::Paradox
