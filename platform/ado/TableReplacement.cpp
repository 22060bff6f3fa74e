#include "platform/ado/TableReplacement.h"

#include "platform/common/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>
#include <set>

namespace orl::ado::TableReplacement {

namespace {

const QString OldSuffix = QStringLiteral(".orlintide-old");

// The replacements this process has under way; recovery leaves them alone.
std::set<QString>& underWay() {
  static std::set<QString> replacements;
  return replacements;
}

QString keyOf(const QString& folder, const QString& table) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return (canonical.isEmpty() ? folder : canonical) + QChar(0) + table.toUpper();
}

std::string pathIn(const QString& folder, const QString& name) {
  return pdx::joinPath(folder.toStdString(), name.toStdString());
}

QString journalName(const QString& table) { return QLatin1Char('.') + table + QStringLiteral(".orlintide-journal"); }
QString markerName(const QString& table) { return QLatin1Char('.') + table + QStringLiteral(".orlintide-verified"); }
QString oldName(const QString& name) { return QLatin1Char('.') + name + OldSuffix; }
QString newStem(const QString& table) { return QLatin1Char('.') + table + QStringLiteral(".orlintide-new"); }

Error failure(const pdx::FileOpError& error) {
  QString text = QStringLiteral("Could not %1 the file '%2': %3")
                     .arg(QString::fromLatin1(pdx::fileOpName(error.op())), QString::fromStdString(error.path()),
                          QString::fromLocal8Bit(std::strerror(error.errorCode())));
  if (!error.otherPath().empty()) text += QStringLiteral(" (to '%1')").arg(QString::fromStdString(error.otherPath()));
  return Error(error.diskFull() ? ErrorNumber::DiskFull : ErrorNumber::PathFileAccessError, text);
}

bool isFamilyExtension(const QString& extension) {
  static const QRegularExpression family(
      QStringLiteral("^(db|px|mb|val|tv|x[0-9a-f]{2}|y[0-9a-f]{2}|xg[0-9a-f]|yg[0-9a-f])$"),
      QRegularExpression::CaseInsensitiveOption);
  return family.match(extension).hasMatch();
}

bool isFamilyName(const QString& name, const QString& table) {
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  return dot > 0 && name.left(dot).compare(table, Qt::CaseInsensitive) == 0 && isFamilyExtension(name.mid(dot + 1));
}

QStringList namesIn(const QString& folder, pdx::FileOps& files) {
  QStringList names;
  for (const std::string& name : files.list(folder.toStdString())) names << QString::fromStdString(name);
  return names;
}

// The name in the folder equal to `wanted` without regard to letter case.
std::optional<QString> findName(const QStringList& names, const QString& wanted) {
  for (const QString& name : names)
    if (name.compare(wanted, Qt::CaseInsensitive) == 0) return name;
  return std::nullopt;
}

// The family as the journal lists it; the set-aside files when it is gone.
QStringList journalled(const QString& folder, const QString& table, const QStringList& names) {
  QStringList listed;
  if (const auto journal = findName(names, journalName(table))) {
    QFile file(QString::fromStdString(pathIn(folder, *journal)));
    if (file.open(QIODevice::ReadOnly))
      for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty()) listed << QString::fromUtf8(line);
  }
  if (listed.isEmpty()) {
    for (const QString& name : names) {
      if (!name.startsWith(QLatin1Char('.')) || !name.endsWith(OldSuffix)) continue;
      const QString original = name.mid(1, name.size() - 1 - OldSuffix.size());
      if (isFamilyName(original, table)) listed << original;
    }
  }
  return listed;
}

void removeIfThere(const QString& folder, const QStringList& names, const QString& wanted, pdx::FileOps& files) {
  if (const auto found = findName(names, wanted)) files.remove(pathIn(folder, *found));
}

}  // namespace

QStringList FamilyOf(const QString& folder, const QString& table, pdx::FileOps& files) {
  QStringList family;
  try {
    for (const QString& name : namesIn(folder, files))
      if (isFamilyName(name, table)) family << name;
  } catch (const pdx::FileOpError& error) {
    throw failure(error);
  }
  return family;
}

void setAside(const QString& folder, const QString& table, pdx::FileOps& files) {
  recover(folder, table, files);
  const QStringList family = FamilyOf(folder, table, files);
  if (!findName(family, table + QStringLiteral(".db")))
    throw Error::provider(QStringLiteral("The table '%1' is not in the folder '%2'.").arg(table, folder));
  underWay().insert(keyOf(folder, table));
  try {
    auto journal = files.createExclusive(pathIn(folder, journalName(table)));
    const QByteArray listing = family.join(QLatin1Char('\n')).toUtf8() + '\n';
    journal->write(0, listing.constData(), static_cast<std::size_t>(listing.size()));
    journal->flush();
    journal->close();
    files.syncFolder(folder.toStdString());
    for (const QString& name : family) files.rename(pathIn(folder, name), pathIn(folder, oldName(name)));
    files.syncFolder(folder.toStdString());
  } catch (const pdx::FileOpError& error) {
    const Error reported = failure(error);
    rollBack(folder, table, files);
    throw reported;
  }
}

std::optional<QString> setAsideTableFile(const QString& folder, const QString& table, pdx::FileOps& files) {
  try {
    const QStringList names = namesIn(folder, files);
    for (const QString& original : journalled(folder, table, names)) {
      if (original.compare(table + QStringLiteral(".db"), Qt::CaseInsensitive) != 0) continue;
      if (const auto old = findName(names, oldName(original)))
        return QString::fromStdString(pathIn(folder, *old));
    }
  } catch (const pdx::FileOpError& error) {
    throw failure(error);
  }
  return std::nullopt;
}

QString newTableFile(const QString& folder, const QString& table) {
  return QString::fromStdString(pathIn(folder, newStem(table) + QStringLiteral(".db")));
}

void commit(const QString& folder, const QString& table, pdx::FileOps& files) {
  try {
    auto marker = files.createExclusive(pathIn(folder, markerName(table)));
    marker->flush();
    marker->close();
    files.syncFolder(folder.toStdString());
  } catch (const pdx::FileOpError& error) {
    const Error reported = failure(error);
    rollBack(folder, table, files);
    throw reported;
  }
  // The marker is on disk: from here on the new table stands. Tidying up
  // that fails now is finished by the next recovery.
  underWay().erase(keyOf(folder, table));
  try {
    recover(folder, table, files);
  } catch (const Error&) {
    // The hidden leftovers stay until the table is next opened; the
    // replacement itself has succeeded.
  }
}

void rollBack(const QString& folder, const QString& table, pdx::FileOps& files) {
  try {
    QStringList names = namesIn(folder, files);
    const QStringList listed = journalled(folder, table, names);
    for (const QString& name : names) {
      if (!isFamilyName(name, table)) continue;
      // A family file that the old family did not have, or whose old one is
      // still set aside, is part of the new table.
      if (!listed.contains(name) || findName(names, oldName(name))) files.remove(pathIn(folder, name));
    }
    removeIfThere(folder, names, newStem(table) + QStringLiteral(".db"), files);
    removeIfThere(folder, names, newStem(table) + QStringLiteral(".mb"), files);
    for (const QString& original : listed)
      if (const auto old = findName(names, oldName(original)))
        files.rename(pathIn(folder, *old), pathIn(folder, original));
    files.syncFolder(folder.toStdString());
    names = namesIn(folder, files);
    removeIfThere(folder, names, markerName(table), files);
    removeIfThere(folder, names, journalName(table), files);
    files.syncFolder(folder.toStdString());
  } catch (const pdx::FileOpError& error) {
    throw Error(failure(error).number(),
                failure(error).description() +
                    QStringLiteral(". The old table is kept under hidden names and is restored the next time "
                                   "the table is opened."));
  }
  underWay().erase(keyOf(folder, table));
}

bool recover(const QString& folder, const QString& table, pdx::FileOps& files) {
  if (underWay().contains(keyOf(folder, table))) return false;
  QStringList names;
  try {
    names = namesIn(folder, files);
  } catch (const pdx::FileOpError& error) {
    throw failure(error);
  }
  const bool journal = findName(names, journalName(table)).has_value();
  const bool marker = findName(names, markerName(table)).has_value();
  const QStringList listed = journalled(folder, table, names);
  bool setAsideLeft = false;
  for (const QString& original : listed) setAsideLeft = setAsideLeft || findName(names, oldName(original));
  const bool newLeft = findName(names, newStem(table) + QStringLiteral(".db")) ||
                       findName(names, newStem(table) + QStringLiteral(".mb"));
  if (!journal && !marker && !setAsideLeft && !newLeft) return false;
  if (!marker) {
    rollBack(folder, table, files);
    return true;
  }
  try {
    for (const QString& original : listed) removeIfThere(folder, names, oldName(original), files);
    removeIfThere(folder, names, journalName(table), files);
    removeIfThere(folder, names, markerName(table), files);
    files.syncFolder(folder.toStdString());
  } catch (const pdx::FileOpError& error) {
    throw failure(error);
  }
  return true;
}

void recoverFolder(const QString& folder, pdx::FileOps& files) {
  static const QRegularExpression leftover(
      QStringLiteral("^\\.(.+)\\.orlintide-(journal|verified|new\\.db|new\\.mb)$"));
  QStringList tables;
  try {
    for (const QString& name : namesIn(folder, files)) {
      if (const auto match = leftover.match(name); match.hasMatch()) tables << match.captured(1);
      if (name.startsWith(QLatin1Char('.')) && name.endsWith(OldSuffix)) {
        const QString original = name.mid(1, name.size() - 1 - OldSuffix.size());
        const qsizetype dot = original.lastIndexOf(QLatin1Char('.'));
        if (dot > 0) tables << original.left(dot);
      }
    }
  } catch (const pdx::FileOpError& error) {
    throw failure(error);
  }
  tables.removeDuplicates();
  for (const QString& table : tables) recover(folder, table, files);
}

}  // namespace orl::ado::TableReplacement
