#include "platform/ado/DroppedTables.h"

#include <QFileInfo>

#include <set>

namespace orl::ado::DroppedTables {

namespace {

std::set<QString>& marked() {
  static std::set<QString> tables;
  return tables;
}

QString keyOf(const QString& folder, const QString& table) {
  const QString canonical = QFileInfo(folder).canonicalFilePath();
  return (canonical.isEmpty() ? folder : canonical) + QChar(0) + table.toUpper();
}

}  // namespace

void mark(const QString& folder, const QString& table) { marked().insert(keyOf(folder, table)); }

bool isMarked(const QString& folder, const QString& table) { return marked().contains(keyOf(folder, table)); }

void unmark(const QString& folder, const QString& table) { marked().erase(keyOf(folder, table)); }

}  // namespace orl::ado::DroppedTables
