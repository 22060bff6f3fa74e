#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/TableLock.h"
#include "system/paradox/Paradox.h"

#include <QFile>

namespace orl::Paradox {

std::unique_ptr<pdx::TableLock> LockTable(const QString& table, const DataAccess& access) {
  RequireQuotableName(table, QStringLiteral("table"));
  ado::Connection paradox(access.seams);
  paradox.open(ParadoxConnectionString(access.folder.folderText()));
  auto& driver = dynamic_cast<ado::ParadoxFolderDriver&>(paradox.provider());
  try {
    // What an interrupted replacement left is put right first, so that the
    // table is noted as it will be read, not as the recovery finds it.
    pdx::PosixFileOps realFiles;
    pdx::FamilyReplacement::recover(access.seams.files ? *access.seams.files : realFiles,
                                    QFile::encodeName(driver.folder()).toStdString(),
                                    QFile::encodeName(table + QStringLiteral(".db")).toStdString());
    return std::make_unique<pdx::TableLock>(QFile::encodeName(driver.tableFile(table)).toStdString());
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
}

}  // namespace orl::Paradox
