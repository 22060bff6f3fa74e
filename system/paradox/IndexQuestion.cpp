#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/TableUpdate.h"
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
  pdx::FieldIndexes covering;
  try {
    const pdx::TableHeader header = pdx::Table::inspect(tablePath);
    // Only text has a letter case: a number, date or logical field reads back
    // the same after any run, so its key and indexes stay valid.
    for (std::size_t f = 0; f < header.fields.size(); ++f)
      if (header.fields[f].type == pdx::FieldType::Alpha &&
          QString::fromStdString(header.fields[f].name).compare(field, Qt::CaseInsensitive) == 0)
        covering = pdx::indexesOfField(files, tablePath, f);
    if (!covering.any()) return ado::IndexLoss::None;
    const QString question =
        covering.key
            ? QStringLiteral("The field \"%1\" is part of the key of the table %2. Orlintide cannot yet put the "
                             "records in the order of their new key, so if you go on, the table comes back without "
                             "its key and indexes: written anew as an unkeyed table, without %3. Programs that "
                             "rely on them may stop working until the key and indexes are made again.\n\n"
                             "Change the field anyway?")
                  .arg(field, table, joined(structureFiles(files, tablePath)))
            : QStringLiteral("The field \"%1\" of the table %2 is covered by the index %3. Orlintide cannot yet "
                             "rebuild that index, so if you go on, the table comes back without it: its files are "
                             "removed, while the key, the other indexes and the validity checks stay. Programs that "
                             "use that index may need it made again.\n\nChange the field anyway?")
                  .arg(field, table, joined(covering.files));
    if (!boxes.askYesNo(question)) return std::nullopt;
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
  return covering.key ? ado::IndexLoss::KeyAndIndexes : ado::IndexLoss::SecondaryIndexes;
}

}  // namespace orl::Paradox
