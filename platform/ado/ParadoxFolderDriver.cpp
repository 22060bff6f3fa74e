#include "platform/ado/ParadoxFolderDriver.h"

#include "platform/ado/ParadoxValues.h"
#include "platform/ado/DroppedTables.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/TableLock.h"
#include "platform/pdx/WorkingNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace orl::ado {

namespace {

const QString DriverPart = QStringLiteral("Driver={Microsoft Paradox Driver (*.db )};");

Error driverError(const QString& message) { return Error::provider(message); }

// The rows of one table, read record by record as the caller asks.
class TableRows final : public Rows {
 public:
  TableRows(pdx::Table table, std::vector<std::size_t> picked)
      : table_(std::move(table)),
        codePage_(table_.header().textCodePage()),
        picked_(std::move(picked)),
        cursor_(table_.cursor()) {
    for (std::size_t index : picked_) {
      const pdx::Field& field = table_.fields()[index];
      columns_.push_back({QString::fromStdString(field.name), AdoTypeOf(static_cast<char>(field.type))});
    }
  }

  const std::vector<Column>& columns() const override { return columns_; }
  std::int64_t recordCount() override { return table_.header().recordCount; }

  bool next(std::vector<Value>& row) override {
    try {
      if (!cursor_.nextStored()) return false;
      row.clear();
      for (std::size_t p = 0; p < picked_.size(); ++p) row.push_back(valueOf(p));
    } catch (const pdx::Error& error) {
      throw driverError(QString::fromStdString(error.what()));
    }
    return true;
  }

 private:
  // Only the picked fields are decoded, and a memo value many rows share is
  // read and converted once: the last one of each picked field is kept with
  // the place in the memo file it came from.
  Value valueOf(std::size_t pickedAt) {
    const std::size_t index = picked_[pickedAt];
    const pdx::FieldType type = table_.fields()[index].type;
    const std::uint64_t address = cursor_.memoAddress(index);
    if (address == 0) return FromParadox(cursor_.value(index), type, codePage_);
    if (lastMemos_.empty()) lastMemos_.resize(picked_.size());
    auto& [lastAddress, lastValue] = lastMemos_[pickedAt];
    if (address != lastAddress) {
      lastValue = Value();  // the old one goes before the new one is read
      lastMemos_[pickedAt] = {address, FromParadox(cursor_.value(index), type, codePage_)};
    }
    return lastValue;
  }

  pdx::Table table_;
  pdx::CodePage codePage_;
  std::vector<std::size_t> picked_;
  pdx::Cursor cursor_;
  std::vector<Column> columns_;
  std::vector<std::pair<std::uint64_t, Value>> lastMemos_;
};

}  // namespace

QString WorkingFolderRefusal(const QString& folder, const QString& workingFolder) {
  return QStringLiteral("The folder '%1' lies inside '%2', where this program keeps the history and working files "
                        "of the tables beside it: its tables are copies kept for stepping back, not tables to "
                        "open or change. Choose the folder the table itself is in.")
      .arg(folder, workingFolder);
}

std::optional<QString> LockHolder(const QString& path) {
  if (pdx::TableLock::heldHere(QFile::encodeName(path).toStdString())) return std::nullopt;
  // Without blocking: a pipe in the table's place must not hang the probe.
  const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return std::nullopt;
  std::optional<QString> holder;
  struct flock wanted {};
  wanted.l_type = F_WRLCK;
  wanted.l_whence = SEEK_SET;
  if (::fcntl(descriptor, F_GETLK, &wanted) == 0 && wanted.l_type != F_UNLCK)
    holder = QStringLiteral("process %1").arg(wanted.l_pid);
  else if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    holder = QStringLiteral("a process");
  ::close(descriptor);  // releases the probe's own lock, if it took one
  return holder;
}

int AdoTypeOf(char paradoxType) {
  switch (static_cast<pdx::FieldType>(paradoxType)) {
    case pdx::FieldType::Alpha:
      return 200;
    case pdx::FieldType::Memo:
      return 201;
    case pdx::FieldType::Short:
      return 2;
    case pdx::FieldType::Long:
    case pdx::FieldType::Autoincrement:
      return 3;
    case pdx::FieldType::Number:
    case pdx::FieldType::Money:
      return 5;
    case pdx::FieldType::Bcd:
      return 14;
    case pdx::FieldType::Date:
      return 133;
    case pdx::FieldType::Time:
    case pdx::FieldType::Timestamp:
      return 135;
    case pdx::FieldType::Logical:
      return 11;
    case pdx::FieldType::Bytes:
      return 128;
    case pdx::FieldType::Binary:
    case pdx::FieldType::FormattedMemo:
    case pdx::FieldType::Graphic:
    case pdx::FieldType::Ole:
      return 205;
  }
  return 0;
}

bool ParadoxFolderDriver::accepts(const QString& connectionString) {
  return connectionString.startsWith(DriverPart, Qt::CaseInsensitive);
}

QString ParadoxFolderDriver::folderOf(const QString& connectionString) {
  // The exact form the program builds names the folder twice; read that way,
  // a folder holding ";" or "=" is taken whole.
  const QString head = DriverPart + QStringLiteral("DriverID=538;Fil=Paradox 5.X;DefaultDir=");
  const QString tail = QStringLiteral(";CollatingSequence=ASCII;");
  const QString middle = QStringLiteral(";Dbq=");
  if (connectionString.startsWith(head) && connectionString.endsWith(tail)) {
    const QString both = connectionString.mid(head.size(), connectionString.size() - head.size() - tail.size());
    const qsizetype half = (both.size() - middle.size()) / 2;
    if (half >= 0 && both == both.left(half) + middle + both.left(half)) return both.left(half);
  }
  QString folder;
  for (const QString& part : connectionString.split(QLatin1Char(';'))) {
    const qsizetype equals = part.indexOf(QLatin1Char('='));
    if (equals >= 0 && part.left(equals).trimmed().compare(QLatin1String("Dbq"), Qt::CaseInsensitive) == 0)
      folder = part.mid(equals + 1);
  }
  return folder;
}

ParadoxFolderDriver::ParadoxFolderDriver(const QString& connectionString, const Seams& seams)
    : folder_(folderOf(connectionString)), seams_(seams) {
  if (folder_.isEmpty() || !QFileInfo(folder_).isDir())
    throw driverError(QStringLiteral("The Paradox folder '%1' does not exist or is not a folder. Correct the folder "
                                     "on the setup window (\"Setup Paradox Connection\").")
                          .arg(folder_));
  // The tables there are the history's copies: read or changed, they would
  // no longer match the history's record, and the way back would be lost.
  if (const std::string working = pdx::workingFolderOn(QFile::encodeName(folder_).toStdString()); !working.empty())
    throw driverError(WorkingFolderRefusal(folder_, QFile::decodeName(working.c_str())));
}

ParadoxFolderDriver::~ParadoxFolderDriver() {
  for (const QString& table : dropped_) DroppedTables::unmark(folder_, table);
}

pdx::FileOps& ParadoxFolderDriver::files() { return seams_.files ? *seams_.files : realFiles_; }

QString ParadoxFolderDriver::tableFile(const QString& table) const {
  if (DroppedTables::isMarked(folder_, table))
    throw driverError(QStringLiteral("Internal error: the table '%1' was read after it had been dropped.").arg(table));
  const std::string wanted = (table + QStringLiteral(".db")).toStdString();
  QStringList found;
  const QDir folder(folder_);
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System))
    if (pdx::sameNameButCase(name.toStdString(), wanted)) found << name;
  if (found.isEmpty())
    throw driverError(QStringLiteral("The table '%1' is no longer in the folder '%2': it was renamed, moved or "
                                     "deleted after the table list was made. Start the program again to list "
                                     "the folder's tables as they are now.")
                          .arg(table, folder_));
  if (found.size() > 1)
    throw driverError(QStringLiteral("The folder holds more than one file for table '%1' (%2), differing only in "
                                     "letter case; rename all but one.")
                          .arg(table, found.join(QStringLiteral(", "))));
  return folder.filePath(found.front());
}

std::unique_ptr<Rows> ParadoxFolderDriver::execute(const QString& statement) {
  static const QRegularExpression selectAll(QStringLiteral("^SELECT \\* FROM `([^`]*)`$"),
                                            QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression selectOne(QStringLiteral("^SELECT `([^`]*)` FROM `([^`]*)`$"),
                                            QRegularExpression::CaseInsensitiveOption);
  static const QRegularExpression dropTable(QStringLiteral("^DROP TABLE `([^`]*)`$"),
                                            QRegularExpression::CaseInsensitiveOption);
  if (const auto match = selectAll.match(statement); match.hasMatch()) return select(match.captured(1), nullptr);
  if (const auto match = selectOne.match(statement); match.hasMatch()) {
    const QString field = match.captured(1);
    return select(match.captured(2), &field);
  }
  if (const auto match = dropTable.match(statement); match.hasMatch()) {
    drop(match.captured(1));
    return nullptr;
  }
  throw driverError(QStringLiteral("Internal error: the Paradox folder reader was given a statement it does not "
                                   "read: %1").arg(statement));
}

QString ParadoxFolderDriver::tableFileToRead(const QString& table) {
  try {
    // Whoever opens a table first puts right what an interrupted replacement left.
    if (!DroppedTables::isMarked(folder_, table))
      pdx::FamilyReplacement::recover(files(), folder_.toStdString(), (table + QStringLiteral(".db")).toStdString());
  } catch (const pdx::Error& error) {
    throw driverError(QString::fromStdString(error.what()));
  }
  return tableFile(table);
}

std::unique_ptr<Rows> ParadoxFolderDriver::select(const QString& table, const QString* field) {
  const QString file = tableFileToRead(table);
  try {
    const pdx::TableHeader header = pdx::Table::inspect(file.toStdString());
    if (header.encrypted)
      throw driverError(QStringLiteral("The table '%1' is protected by a password; it is not read. Remove the "
                                       "password in Paradox first, or leave the table alone.")
                            .arg(table));
    pdx::Table opened = pdx::Table::open(file.toStdString());
    std::vector<std::size_t> picked;
    for (std::size_t i = 0; i < opened.fields().size(); ++i) {
      if (!field || QString::fromStdString(opened.fields()[i].name).compare(*field, Qt::CaseInsensitive) == 0)
        picked.push_back(i);
      if (field && !picked.empty()) break;
    }
    if (field && picked.empty())
      throw driverError(QStringLiteral("The table '%1' has no field '%2' (any more): click the table to list its "
                                       "fields again.")
                            .arg(table, *field));
    return std::make_unique<TableRows>(std::move(opened), std::move(picked));
  } catch (const pdx::Error& error) {
    throw driverError(QString::fromStdString(error.what()));
  }
}

void ParadoxFolderDriver::drop(const QString& table) {
  const QString file = tableFile(table);
  // Nothing of the table is to change while another program has it open or
  // its owner has made it read-only; said before anything is touched.
  const QFileInfo info(file);
  const QDir folder(folder_);
  for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    const QFileInfo member(folder.filePath(name));
    if (!pdx::sameNameButCase(member.completeBaseName().toStdString(), info.completeBaseName().toStdString())) continue;
    if (member.suffix().compare(QLatin1String("lck"), Qt::CaseInsensitive) == 0 &&
        !pdx::TableLock::heldHere(QFile::encodeName(member.filePath()).toStdString()))
      throw driverError(QStringLiteral("The table '%1' is in use by another program (its lock file %2 is in the "
                                       "folder); close the table there and try again.")
                            .arg(table, name));
  }
  for (const std::string& name : pdx::familyOf(files(), folder_.toStdString(), info.fileName().toStdString())) {
    const QFileInfo member(folder.filePath(QString::fromStdString(name)));
    // Replacing a link would leave the table it leads to as it was (TableLock.h).
    if (member.isSymLink())
      throw driverError(QStringLiteral("The table '%1' is not changed: its file %2 is a symbolic link. A table is "
                                       "changed only in the folder its files are in.")
                            .arg(table, member.fileName()));
    // A file without any write permission is read-only even to the
    // super-user, who may write anything; for others it is whether they may.
    constexpr auto Writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    if (!(member.permissions() & Writable) || ::access(QFile::encodeName(member.filePath()).constData(), W_OK) != 0)
      throw driverError(QStringLiteral("The file '%1' of table '%2' is read-only; make it writable to change the "
                                       "table.")
                            .arg(member.fileName(), table));
  }
  if (const auto holder = LockHolder(file))
    throw driverError(QStringLiteral("The table '%1' is in use by another program (%2 holds a lock on %3); close "
                                     "the table there and try again.")
                          .arg(table, *holder, info.fileName()));
  DroppedTables::mark(folder_, table);
  dropped_ << table;
}

void ParadoxFolderDriver::close() {
  const QStringList dropped = std::exchange(dropped_, {});
  for (const QString& table : dropped) {
    if (!DroppedTables::isMarked(folder_, table)) continue;  // an export has taken its place
    DroppedTables::unmark(folder_, table);
    try {
      for (const std::string& name :
           pdx::familyOf(files(), folder_.toStdString(), (table + QStringLiteral(".db")).toStdString()))
        files().remove(pdx::joinPath(folder_.toStdString(), name));
      files().syncFolder(folder_.toStdString());
    } catch (const pdx::Error& error) {
      throw driverError(QString::fromStdString(error.what()));
    }
  }
}

std::unique_ptr<Rows> ParadoxFolderDriver::openSchema(int schema) {
  throw driverError(QStringLiteral("Internal error: the Paradox folder reader offers no schema %1.").arg(schema));
}

}  // namespace orl::ado
