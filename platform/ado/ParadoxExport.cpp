#include "platform/ado/ParadoxExport.h"

#include "platform/ado/DroppedTables.h"
#include "platform/common/Error.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/ado/ParadoxValues.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/TableUpdate.h"
#include "platform/pdx/Writer.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace orl::ado {

namespace {

using pdx::FieldType;

constexpr int MemoSize = 20;    // 10 bytes of each memo kept in the record
constexpr int BinarySize = 10;  // nothing of the value kept in the record
constexpr std::int64_t LargestExactDouble = std::int64_t{1} << 53;

QString shown(const Value& value) {
  if (value.kind() == Value::Kind::Bytes) return QStringLiteral("(%1 bytes)").arg(value.asBytes().size());
  const QString text = value.toText();
  return text.size() > 60 ? QLatin1Char('\'') + text.left(60) + QStringLiteral("...'")
                          : QLatin1Char('\'') + text + QLatin1Char('\'');
}

Error cannotKeep(const QString& field, const Value& value, const QString& why) {
  return Error::provider(QStringLiteral("The value %1 of field '%2' cannot be written unchanged into a Paradox table: %3")
                             .arg(shown(value), field, why));
}

bool isEmptyText(const Value& value) { return value.kind() == Value::Kind::Text && value.asText().isEmpty(); }

int scaleOf(const pdx::Decimal& number) {
  const auto point = number.text.find('.');
  return point == std::string::npos ? 0 : static_cast<int>(number.text.size() - point - 1);
}

bool isWhole(const Value& value) {
  return value.kind() == Value::Kind::Int16 || value.kind() == Value::Kind::Int32;
}

// Long cannot hold its lowest value: those bits mean a blank field.
bool fitsLong(std::int32_t number) { return number != std::numeric_limits<std::int32_t>::min(); }

Error bothTextAndBytes(const QString& field) {
  return Error::provider(QStringLiteral("The field '%1' holds both text and binary values.").arg(field));
}

}  // namespace

void ColumnFacts::observe(const ScratchColumn& column, const Value& value, const pdx::CodePage& codePage) {
  if (value.isNull() || isEmptyText(value)) return;
  const QString& type = column.scratchType;
  if (type == QLatin1String("TEXT")) {
    if (value.kind() == Value::Kind::Bytes) {
      if (text) throw bothTextAndBytes(column.name);
      bytes = true;
      longest = std::max(longest, value.asBytes().size());
      return;
    }
    if (bytes) throw bothTextAndBytes(column.name);
    text = true;
    const auto encoded = codePage.encode(value.toText().toStdString());
    if (!encoded)
      throw cannotKeep(column.name, value,
                       QStringLiteral("it holds a character that code page %1 cannot hold").arg(codePage.number()));
    longest = std::max(longest, encoded->size());
  } else if (type == QLatin1String("INT")) {
    notLong = notLong || !isWhole(value) || !fitsLong(value.asInteger());
  } else if (type == QLatin1String("DECIMAL")) {
    if (value.kind() != Value::Kind::Decimal) return;
    const int own = scaleOf(value.asDecimal());
    if (scale && *scale != own)
      throw cannotKeep(column.name, value,
                       QStringLiteral("the field's other values have %1 digits after the point").arg(*scale));
    scale = own;
  } else if (type == QLatin1String("DATETIME")) {
    dates = dates || value.kind() == Value::Kind::Date;
    times = times || value.kind() == Value::Kind::Time;
    moments = moments || value.kind() == Value::Kind::Timestamp;
    if (times && (dates || moments))
      throw Error::provider(QStringLiteral("The field '%1' holds both times of day and dates.").arg(column.name));
  }
}

bool ColumnFacts::observes(const ScratchColumn& column) {
  const QString& type = column.scratchType;
  return type == QLatin1String("TEXT") || type == QLatin1String("INT") || type == QLatin1String("DECIMAL") ||
         type == QLatin1String("DATETIME");
}

std::vector<pdx::Field> ParadoxFieldsFor(const std::vector<ScratchColumn>& columns,
                                         const std::vector<ColumnFacts>& facts, std::uint64_t rows) {
  std::vector<pdx::Field> fields;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    const ScratchColumn& column = columns[c];
    const ColumnFacts& seen = facts.at(c);
    const std::string name = column.name.toStdString();
    const QString& type = column.scratchType;
    if (type == QLatin1String("TEXT")) {
      if (seen.bytes)
        fields.push_back(seen.longest <= 255
                             ? pdx::Field{name, FieldType::Bytes, static_cast<int>(std::max<std::size_t>(seen.longest, 1))}
                             : pdx::Field{name, FieldType::Binary, BinarySize});
      else
        fields.push_back(seen.longest <= 255 ? pdx::Field{name, FieldType::Alpha, 255}
                                             : pdx::Field{name, FieldType::Memo, MemoSize});
    } else if (type == QLatin1String("MEMO")) {
      fields.push_back({name, FieldType::Memo, MemoSize});
    } else if (type == QLatin1String("INT")) {
      fields.push_back(seen.notLong ? pdx::Field{name, FieldType::Number, 8} : pdx::Field{name, FieldType::Long, 4});
    } else if (type == QLatin1String("FLOAT")) {
      fields.push_back({name, FieldType::Number, 8});
    } else if (type == QLatin1String("DECIMAL")) {
      fields.push_back({name, FieldType::Bcd, seen.scale.value_or(2)});
    } else if (type == QLatin1String("DATETIME")) {
      if (seen.times)
        fields.push_back({name, FieldType::Time, 4});
      else if (seen.moments)
        fields.push_back({name, FieldType::Timestamp, 8});
      else
        fields.push_back({name, FieldType::Date, 4});
    } else {
      fields.push_back({name, FieldType::Binary, BinarySize});
    }
  }
  if (rows > pdx::mostRowsFor(fields)) {
    // Alpha fields 255 wide would not leave room for every row: each is
    // made as wide as its longest value instead.
    for (std::size_t c = 0; c < fields.size(); ++c)
      if (fields[c].type == FieldType::Alpha)
        fields[c].size = static_cast<int>(std::clamp<std::size_t>(facts[c].longest, 1, 255));
  }
  return fields;
}

pdx::Value ToParadox(const Value& value, const pdx::Field& field) {
  if (value.isNull()) return pdx::Null{};
  if (isEmptyText(value)) return pdx::Null{};
  // The field's name is made text only for a message: this runs for every value.
  const auto name = [&] { return QString::fromStdString(field.name); };
  const auto wrong = [&] { return cannotKeep(name(), value, QStringLiteral("it is not a value of the field's type")); };
  // A run's update gives every field text; a number or a date keeps its own
  // kind only where the scratch database recognised its standard form.
  const bool isText = value.kind() == Value::Kind::Text;
  switch (field.type) {
    case FieldType::Alpha:
    case FieldType::Memo:
      if (value.kind() == Value::Kind::Bytes) throw wrong();
      return value.toText().toStdString();
    case FieldType::Bytes:
    case FieldType::Binary:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
      if (value.kind() != Value::Kind::Bytes) throw wrong();
      return value.asBytes();
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::Autoincrement: {
      if (isWhole(value)) return std::int64_t{value.asInteger()};
      const auto whole = isText ? ParseInteger(value.asText()) : std::nullopt;
      if (!whole) throw wrong();
      return *whole;
    }
    case FieldType::Number:
    case FieldType::Money:
      switch (value.kind()) {
        case Value::Kind::Double:
          return value.asDouble();
        case Value::Kind::Int16:
        case Value::Kind::Int32:
          return static_cast<double>(value.asInteger());
        case Value::Kind::Text:
          if (const auto number = ParseDouble(value.asText().toLower())) return *number;
          throw wrong();
        case Value::Kind::Decimal: {
          const auto whole = ParseInteger(value.toText());
          if (!whole || *whole > LargestExactDouble || *whole < -LargestExactDouble)
            throw cannotKeep(name(), value, QStringLiteral("a Paradox number cannot hold it exactly"));
          return static_cast<double>(*whole);
        }
        default:
          throw wrong();
      }
    case FieldType::Logical:
      if (value.kind() == Value::Kind::Boolean) return value.asBoolean();
      if (isText && value.asText().compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
      if (isText && value.asText().compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) return false;
      throw wrong();
    case FieldType::Bcd:
      if (value.kind() == Value::Kind::Decimal) return value.asDecimal();
      if (const auto decimal = isText ? ParseDecimal(value.asText()) : std::nullopt) return *decimal;
      throw wrong();
    case FieldType::Date:
      if (value.kind() == Value::Kind::Date) return value.asDate();
      if (const auto date = isText ? ParseDate(value.asText()) : std::nullopt) return *date;
      throw wrong();
    case FieldType::Time:
      if (value.kind() == Value::Kind::Time) return value.asTime();
      if (const auto time = isText ? ParseTime(value.asText()) : std::nullopt) return *time;
      throw wrong();
    case FieldType::Timestamp:
      if (value.kind() == Value::Kind::Date) return pdx::Timestamp{value.asDate(), pdx::TimeOfDay{0}};
      if (value.kind() == Value::Kind::Timestamp) return value.asTimestamp();
      if (const auto stamp = isText ? ParseTimestamp(value.asText()) : std::nullopt) return *stamp;
      throw wrong();
  }
  throw wrong();
}

namespace {

// Whether a scratch value is the old field's value as the staging copy gave
// it: blank for blank, the same bytes, or the same standard text form.
bool readsBackTheSame(const Value& scratch, const pdx::Value& before, const pdx::Field& field,
                      const pdx::CodePage& codePage) {
  const Value was = FromParadox(before, field.type, codePage);
  const auto blank = [](const Value& value) { return value.isNull() || isEmptyText(value); };
  if (blank(was) || blank(scratch)) return blank(was) && blank(scratch);
  const bool wasBytes = was.kind() == Value::Kind::Bytes;
  if (wasBytes || scratch.kind() == Value::Kind::Bytes)
    return wasBytes && scratch.kind() == Value::Kind::Bytes && was.asBytes() == scratch.asBytes();
  return was.toText() == scratch.toText();
}

// The value a record's field is to hold, or nothing when it keeps its old one
// (and so its bytes, whatever the scratch database could not represent).
std::optional<pdx::Value> changedValue(const Value& scratch, const pdx::Value& before, const pdx::Field& field,
                                       const pdx::CodePage& codePage) {
  try {
    pdx::Value fresh = ToParadox(scratch, field);
    if (pdx::identical(fresh, before) || readsBackTheSame(scratch, before, field, codePage)) return std::nullopt;
    return fresh;
  } catch (const Error&) {
    if (readsBackTheSame(scratch, before, field, codePage)) return std::nullopt;
    throw;
  }
}

// The new values written into the old table's own structure.
StagedExport exportIntoStructure(const QString& folder, const QString& table, const std::string& tablePath,
                                 const std::vector<ScratchColumn>& columns, const OpenRows& openRows,
                                 pdx::FileOps& files, IndexLoss loss, const pdx::Progress& progress) {
  StagedExport staged{folder, table, {}, nullptr,
                      std::make_unique<pdx::TableUpdate>(files, tablePath,
                                                         loss == IndexLoss::SecondaryIndexes
                                                             ? pdx::TableUpdate::Indexes::DropThoseOfChanged
                                                             : pdx::TableUpdate::Indexes::Rebuild),
                      &files, pdx::nameOf(tablePath), {}};
  const pdx::TableHeader& header = staged.update->header();
  if (columns.size() != header.fields.size())
    throw Error::provider(QStringLiteral("The scratch table '%1' has %2 columns where the Paradox table has %3 fields.")
                              .arg(table)
                              .arg(columns.size())
                              .arg(header.fields.size()));
  std::vector<std::size_t> written;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].name.compare(QString::fromStdString(header.fields[c].name), Qt::CaseInsensitive) != 0)
      throw Error::provider(QStringLiteral("Column %1 of the scratch table '%2' is '%3' where the Paradox table has '%4'.")
                                .arg(c + 1)
                                .arg(table, columns[c].name, QString::fromStdString(header.fields[c].name)));
    if (columns[c].written) written.push_back(c);
  }
  const pdx::CodePage codePage(header.textCodePage());
  // Rows are read even when no column was written, so that their number is checked.
  const auto rows = openRows(written.empty() ? std::vector<std::size_t>{0} : written);
  std::vector<Value> row;
  staged.update->write(
      [&](const std::vector<pdx::Value>& before, pdx::RecordChanges& changes) {
        if (!rows->next(row)) return false;
        if (before.empty() || written.empty()) return true;
        if (row.size() != written.size())
          throw Error::provider(
              QStringLiteral("A row of the scratch table holds %1 values, not %2.").arg(row.size()).arg(written.size()));
        for (std::size_t i = 0; i < written.size(); ++i) {
          const std::size_t c = written[i];
          changes[c] = changedValue(row[i], before[c], header.fields[c], codePage);
        }
        return true;
      },
      progress, written);
  staged.stagedTable = QString::fromStdString(staged.update->stagedTablePath());
  return staged;
}

}  // namespace

StagedExport ExportToParadox(const QString& folder, const QString& fileName, const std::vector<ScratchColumn>& columns,
                             const OpenRows& openRows, pdx::FileOps& files, IndexLoss loss,
                             const pdx::Progress& progress) {
  if (!fileName.endsWith(QStringLiteral(".db"), Qt::CaseInsensitive) || fileName.size() <= 3)
    throw Error::provider(QStringLiteral("'%1' is not a Paradox table file name.").arg(fileName));
  const QString table = fileName.left(fileName.size() - 3);
  if (!QFileInfo(folder).isDir()) throw Error::provider(QStringLiteral("'%1' is not a valid path.").arg(folder));
  try {
    pdx::WriterSettings settings;
    std::optional<std::string> replaced;
    for (const std::string& name : pdx::familyOf(files, folder.toStdString(), fileName.toStdString()))
      if (pdx::sameNameButCase(name, fileName.toStdString())) replaced = name;
    if (replaced) {
      if (!DroppedTables::isMarked(folder, table))
        throw Error::provider(QStringLiteral("Table '%1' already exists.").arg(table));
      const std::string tablePath = pdx::joinPath(folder.toStdString(), *replaced);
      if (loss != IndexLoss::KeyAndIndexes)
        return exportIntoStructure(folder, table, tablePath, columns, openRows, files, loss, progress);
      // Text is written as the table being replaced had it.
      const pdx::TableHeader header = pdx::Table::inspect(tablePath);
      settings.codePage = header.textCodePage();
      settings.sortOrder = header.sortOrder;
      if (!header.sortOrderName.empty()) settings.sortOrderName = header.sortOrderName;
    }
    // Two passes, so that memory does not grow with the table: the first
    // chooses each field's type from every value, the second writes.
    const pdx::CodePage page(settings.codePage);
    std::vector<ColumnFacts> facts(columns.size());
    std::vector<std::size_t> observed, all;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      all.push_back(c);
      if (ColumnFacts::observes(columns[c])) observed.push_back(c);
    }
    std::vector<Value> row;
    std::uint64_t rowCount = 0;
    if (observed.empty()) {
      rowCount = static_cast<std::uint64_t>(openRows(all)->recordCount());
    } else {
      for (const auto rows = openRows(observed); rows->next(row); ++rowCount)
        for (std::size_t i = 0; i < observed.size() && i < row.size(); ++i)
          facts[observed[i]].observe(columns[observed[i]], row[i], page);
    }
    settings.fields = ParadoxFieldsFor(columns, facts, rowCount);
    // The new table takes the file name of the one it replaces, letter case
    // included: on this platform other programs find the table by that name.
    const std::string targetName = replaced ? *replaced : fileName.toStdString();
    settings.tableName = targetName;
    settings.modifiedTime = static_cast<std::uint32_t>(QDateTime::currentSecsSinceEpoch());

    StagedExport staged{folder, table, {},
                        std::make_unique<pdx::FamilyReplacement>(files, folder.toStdString(), targetName), nullptr,
                        &files, targetName, {}};
    pdx::TableWriter writer(files, staged.replacement->stagedPath(targetName), settings);
    std::vector<pdx::Value> record(settings.fields.size());
    for (const auto rows = openRows(all); rows->next(row);) {
      if (row.size() != record.size())
        throw Error::provider(QStringLiteral("A row of the scratch table holds %1 values, not %2.")
                                  .arg(row.size())
                                  .arg(record.size()));
      for (std::size_t c = 0; c < row.size(); ++c) record[c] = ToParadox(row[c], settings.fields[c]);
      writer.append(record);
    }
    writer.finish();
    staged.stagedTable = QString::fromStdString(writer.tablePath());
    return staged;
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
}

namespace {

// Takes the last look at the old table once the history entry has read it,
// so that nothing but the journal and the renames comes after the look.
class LookingKeeper final : public pdx::AsideKeeper {
 public:
  LookingKeeper(pdx::AsideKeeper& keeper, const std::function<void()>& look) : keeper_(keeper), look_(look) {}
  std::string prepare(const pdx::SwapPlan& plan) override {
    std::string keepIn = keeper_.prepare(plan);
    try {
      look_();
    } catch (...) {
      keeper_.discard();
      throw;
    }
    return keepIn;
  }
  void discard() noexcept override { keeper_.discard(); }

 private:
  pdx::AsideKeeper& keeper_;
  const std::function<void()>& look_;
};

}  // namespace

void CommitExport(StagedExport& staged, const std::function<void()>& beforeSwap) {
  const std::string folder = staged.folder.toStdString();
  try {
    // Once before anything is made for the history, and once more as late as can be.
    if (beforeSwap) beforeSwap();
    std::optional<pdx::HistoryKeeper> keeper;
    if (staged.history && staged.history->entries > 0)
      keeper.emplace(*staged.files, folder, staged.tableFile, staged.history->facts);
    pdx::AsideKeeper* keeping = keeper ? &*keeper : nullptr;
    std::optional<LookingKeeper> looking;
    if (beforeSwap && keeping) keeping = &looking.emplace(*keeping, beforeSwap);
    if (staged.update)
      staged.update->commit(keeping);
    else
      staged.replacement->commit(pdx::familyOf(*staged.files, folder, staged.tableFile), keeping);
  } catch (const pdx::Error& error) {
    throw Error::provider(QString::fromStdString(error.what()));
  }
  if (staged.history) {
    try {
      pdx::TableHistory(*staged.files, folder, staged.tableFile).prune(staged.history->entries);
    } catch (const pdx::Error&) {
      // The table is replaced; older entries stay until the next change prunes them.
    }
  }
  DroppedTables::unmark(staged.folder, staged.table);
}

}  // namespace orl::ado
