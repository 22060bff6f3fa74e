#include "platform/ado/ParadoxFolderDriver.h"
#include "platform/ado/RecordSet.h"
#include "platform/common/Error.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"
#include "system/main/Main.h"
#include "system/paradox/Paradox.h"

#include <QFile>

#include <sys/statvfs.h>

#include <algorithm>

namespace orl::Paradox {

namespace {

void appendDoubledQuotes(QString& statement, const QString& text) {
  if (!text.contains(QLatin1Char('\''))) {
    statement += text;
    return;
  }
  statement += QString(text).replace(QLatin1Char('\''), QStringLiteral("''"));
}

// Appends one value of the INSERT's value list the way the statement
// expects it: after the opening quote already written.
void appendValue(QString& statement, const ado::Value& value) {
  if (value.kind() == ado::Value::Kind::Bytes && !value.asBytes().empty()) {
    // Bytes stand where the text would, as a blob literal.
    statement.chop(1);
    const auto& bytes = value.asBytes();
    statement += QStringLiteral("X'") +
                 QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<qsizetype>(bytes.size()))
                                         .toHex()
                                         .toUpper()) +
                 QStringLiteral("', '");
    return;
  }
  // Only a text can hold a quote, or be empty.
  const bool isText = value.kind() == ado::Value::Kind::Text;
  if (value.isNull() || (isText && value.asText().isEmpty()) || value.kind() == ado::Value::Kind::Bytes) {
    statement.chop(1);
    statement += QStringLiteral("NULL, '");
    return;
  }
  if (isText)
    appendDoubledQuotes(statement, value.asText());
  else
    value.appendText(statement);
  statement += QStringLiteral("', '");
}

QString megabytes(std::uint64_t bytes) { return QString::number((bytes + (1u << 20) - 1) >> 20); }

// The smallest level-5 fields a table's values could become: the most rows
// a new table written in place of this one could ever hold.
std::uint64_t mostRowsOfANewTable(const std::vector<pdx::Field>& fields) {
  std::vector<pdx::Field> smallest;
  for (const pdx::Field& field : fields) smallest.push_back({field.name, pdx::FieldType::Alpha, 1});
  return pdx::mostRowsFor(smallest);
}

// Refuses, before anything is staged, a table whose declared size the
// write-back could not write, or whose working copy would not fit on the
// disk of the scratch database: otherwise the run would find out only when
// it had copied that much.
void RequireRoomToStage(const QString& table, const QString& tableFile, const QString& programFolder,
                        ado::IndexLoss loss) {
  const auto refuse = [&](const QString& why) {
    return Error::provider(QStringLiteral("The table '%1' cannot be changed: %2. Nothing was changed.").arg(table, why));
  };
  pdx::DeclaredSize size;
  std::vector<pdx::Field> fields;
  try {
    if (pdx::Table::inspect(tableFile.toStdString()).encrypted) return;
    const pdx::Table opened = pdx::Table::open(tableFile.toStdString());
    size = opened.declaredSize();
    fields = opened.fields();
  } catch (const pdx::Error&) {
    // Reading the table reports it, with what the driver makes of it first.
    return;
  }
  if (size.largestMemo > pdx::largestMemoForWriting())
    throw refuse(QStringLiteral("one of its memo values is %1 bytes long, and a memo file holds values of at most %2 "
                                "bytes")
                     .arg(size.largestMemo)
                     .arg(pdx::largestMemoForWriting()));
  // Giving up the key writes the table anew at level 5, every memo value on its own.
  if (loss == ado::IndexLoss::KeyAndIndexes) {
    if (size.rows > mostRowsOfANewTable(fields))
      throw refuse(QStringLiteral("it has %1 rows, and the level-5 table written in its place holds at most %2")
                       .arg(size.rows)
                       .arg(mostRowsOfANewTable(fields)));
    if (size.memoBytes > pdx::largestMemoFileForWriting())
      throw refuse(QStringLiteral("its memo values, one for each record, take %1 MB, more than the %2 MB a level-5 "
                                  "memo file can hold")
                       .arg(megabytes(size.memoBytes), megabytes(pdx::largestMemoFileForWriting())));
  }
  struct statvfs disk {};
  if (::statvfs(QFile::encodeName(programFolder).constData(), &disk) != 0) return;
  const std::uint64_t free = static_cast<std::uint64_t>(disk.f_bavail) * disk.f_frsize;
  const std::uint64_t needed = size.recordBytes + size.memoBytes;
  if (needed > free)
    throw refuse(QStringLiteral("its working copy needs about %1 MB in the scratch database, and the disk of '%2' "
                                "has %3 MB free")
                     .arg(megabytes(needed), programFolder, megabytes(free)));
}

}  // namespace

void StageTable(const QString& table, const DataAccess& access, Progress* progress, ado::IndexLoss loss) {
  RequireQuotableName(table, QStringLiteral("table"));
  ado::Connection scratch(access.seams);
  ado::Connection paradox(access.seams);
  ado::RecordSet records;

  paradox.setCursorLocation(ado::adUseClient);
  paradox.open(ParadoxConnectionString(access.folder.folderText()));
  scratch.setCursorLocation(ado::adUseServer);
  scratch.setMode(ado::adModeReadWrite);
  scratch.open(ScratchConnectionString(access.programFolder));

  if (ScratchTableExists(table, access)) scratch.execute(QStringLiteral("DROP TABLE `") + table + QLatin1Char('`'));

  bool defined = false;
  try {
    // Before the first row is read: that alone may be a memo of hundreds of megabytes.
    RequireRoomToStage(table, dynamic_cast<ado::ParadoxFolderDriver&>(paradox.provider()).tableFileToRead(table),
                       access.programFolder, loss);
    records.open(QStringLiteral("SELECT * FROM `") + table + QLatin1Char('`'), paradox);
    const int fieldCount = records.fields().count();

    QString definition = QStringLiteral("CREATE TABLE `") + table + QStringLiteral("`(");
    for (int i = 0; i < fieldCount; ++i) {
      access.pump.pumpOnce();
      const ado::Field field = records.fields().item(i);
      RequireQuotableName(field.name(), QStringLiteral("field"));
      const QString typeName = AdoTypeName(static_cast<std::int16_t>(field.type())).toLower();
      definition += QLatin1Char('`') + field.name() + ScratchColumnPiece(typeName);
    }
    definition.chop(1);
    definition += QStringLiteral(");");
    scratch.execute(definition);
    defined = true;

    const int rowCount = records.recordCount();
    const ado::Value empty = ado::Value::text(QString());
    qsizetype longestStatement = 0;
    for (int r = 0; r < rowCount; ++r) {
      access.pump.pumpOnce();
      // Room for the longest statement so far, so that it is not grown piece by piece.
      QString statement;
      statement.reserve(longestStatement);
      statement += QStringLiteral("INSERT INTO `") + table + QStringLiteral("` VALUES('");
      for (int j = 0; j < fieldCount; ++j) {
        access.pump.pumpOnce();
        appendValue(statement, Main::NullToDefault(records.fields().item(j).value(), empty));
      }
      statement.chop(3);
      statement += QLatin1Char(')');
      longestStatement = std::max(longestStatement, statement.size());
      scratch.execute(statement);
      records.moveNext();
      if (progress) progress->reached((r + 1.0) / rowCount);
    }
    // A table holding more rows than its count says would otherwise lose the rest.
    if (!records.eof())
      throw Error::provider(
          QStringLiteral("The table '%1' holds more rows than its header counts (%2): its file is damaged. Nothing "
                         "was changed; repair the table in Paradox first.")
              .arg(table)
              .arg(rowCount));
  } catch (...) {
    // A partial scratch table must never be written back.
    if (defined) {
      try {
        scratch.execute(QStringLiteral("DROP TABLE `") + table + QLatin1Char('`'));
      } catch (const Error&) {
        // The failure being reported matters more; the next staging drops it.
      }
    }
    throw;
  }

  records.close();
  scratch.close();
  paradox.close();
  if (progress) progress->reached(1.0);
}

}  // namespace orl::Paradox
