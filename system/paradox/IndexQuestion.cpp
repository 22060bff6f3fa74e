#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/Indexes.h"
#include "platform/pdx/Table.h"
#include "system/paradox/Paradox.h"

#include <QFileInfo>
#include <QStringList>

namespace orl::Paradox {

namespace {

QString joined(const std::vector<std::string>& names) {
  QStringList list;
  for (const std::string& name : names) list << QString::fromStdString(name);
  return list.join(QStringLiteral(", "));
}

// The family files a table written anew goes without: all but the table and its memo file.
std::vector<std::string> structureFiles(pdx::FileOps& files, const std::string& tablePath) {
  std::vector<std::string> lost;
  for (const std::string& name : pdx::familyOf(files, pdx::folderOf(tablePath), pdx::nameOf(tablePath))) {
    const std::string extension = QFileInfo(QString::fromStdString(name)).suffix().toUpper().toStdString();
    if (extension != "DB" && extension != "MB") lost.push_back(name);
  }
  return lost;
}

}  // namespace

std::optional<ado::IndexLoss> AskAboutIndexes(const QString& table, const QString& field, const DataAccess& access,
                                              ui::MessageBoxes& boxes) {
  ado::Connection paradox(access.seams);
  paradox.open(ParadoxConnectionString(access.folder.folderText()));
  const std::string tablePath = dynamic_cast<ado::ParadoxFolderDriver&>(paradox.provider()).tableFile(table).toStdString();
  paradox.close();

  pdx::PosixFileOps realFiles;
  pdx::FileOps& files = access.seams.files ? *access.seams.files : realFiles;
  try {
    const pdx::TableHeader header = pdx::Table::inspect(tablePath);
    // Only text has a letter case: a number, date or logical field reads back
    // the same after any run, so its key and indexes stay valid.
    std::optional<int> number;
    for (std::size_t f = 0; f < header.fields.size(); ++f)
      if (header.fields[f].type == pdx::FieldType::Alpha &&
          QString::fromStdString(header.fields[f].name).compare(field, Qt::CaseInsensitive) == 0)
        number = static_cast<int>(f) + 1;
    if (!number) return ado::IndexLoss::None;
    // What the engine rebuilds exactly is rebuilt without asking.
    const pdx::IndexDescription indexes = pdx::describeIndexes(tablePath);
    const bool key = header.keyed() && *number <= header.keyFieldCount;
    bool keyLost = key && !pdx::sortOrderReproducible(header);
    std::vector<std::string> lost;
    QString why;
    for (const std::string& name : pdx::indexesInvolving(indexes, {*number})) {
      try {
        pdx::checkRebuildable(tablePath, {name});
      } catch (const pdx::Error& error) {
        keyLost = keyLost || pdx::sameNameButCase(name, indexes.primaryIndexFile);
        if (why.isEmpty()) why = QString::fromStdString(error.what());
        lost.push_back(name);
        for (const pdx::SecondaryIndex& index : indexes.secondary)
          if (index.indexFile == name && !index.treeFile.empty()) lost.push_back(index.treeFile);
      }
    }
    if (!keyLost && lost.empty()) return ado::IndexLoss::None;
    const QString question =
        keyLost
            ? QStringLiteral("The field \"%1\" is part of the key of the table %2, whose sort order Orlintide cannot "
                             "reproduce exactly, so it cannot put the records in the order of their new key. If you go "
                             "on, the table comes back without its key and indexes: written anew as an unkeyed table, "
                             "without %3. Programs that rely on them may stop working until the key and indexes are "
                             "made again.\n\nChange the field anyway?")
                  .arg(field, table, joined(structureFiles(files, tablePath)))
            : QStringLiteral("Changing the field \"%1\" of the table %2 means rebuilding the index %3, which "
                             "Orlintide cannot rebuild exactly (%4). If you go on, the table comes back without it: its "
                             "files are removed, while the key, the other indexes and the validity checks stay. "
                             "Programs that use that index may need it made again.\n\nChange the field anyway?")
                  .arg(field, table, joined(lost), why);
    if (!boxes.askYesNo(question)) return std::nullopt;
    return keyLost ? ado::IndexLoss::KeyAndIndexes : ado::IndexLoss::SecondaryIndexes;
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
}

}  // namespace orl::Paradox
