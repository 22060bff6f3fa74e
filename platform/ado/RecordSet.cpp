#include "platform/ado/RecordSet.h"

#include "platform/common/Error.h"

#include <limits>

namespace orl::ado {

const QString& Field::name() const { return records_->column(position_).name; }

int Field::type() const { return records_->column(position_).type; }

const Value& Field::value() const {
  records_->requireRow();
  return records_->current_[static_cast<std::size_t>(position_)];
}

int Fields::count() const {
  records_.requireOpen();
  return static_cast<int>(records_.rows_->columns().size());
}

Field Fields::item(int position) const {
  records_.column(position);
  return Field(records_, position);
}

void RecordSet::setCursorLocation(int location) {
  if (location != adUseServer && location != adUseClient)
    throw Error(ErrorNumber::InvalidCall, QStringLiteral("Cursor location %1 is not known.").arg(location));
  cursorLocation_ = location;
}

void RecordSet::open(const QString& source, Connection& connection, int cursorType, int lockType) {
  if (rows_) throw Error::provider(QStringLiteral("Internal error: an open record set was opened again."));
  if (cursorType < -1 || cursorType > 3 || lockType < -1 || lockType > 4)
    throw Error(ErrorNumber::InvalidCall,
                QStringLiteral("Cursor type %1 or lock type %2 is not known.").arg(cursorType).arg(lockType));
  std::unique_ptr<Rows> rows = connection.query(source);
  if (!rows)
    throw Error::provider(
        QStringLiteral("Internal error: the statement gives no rows to open a record set on: %1").arg(source));
  adopt(std::move(rows));
}

void RecordSet::openSchema(Connection& connection, int schema) {
  if (rows_) throw Error::provider(QStringLiteral("Internal error: an open record set was opened again."));
  adopt(connection.openSchema(schema));
}

void RecordSet::adopt(std::unique_ptr<Rows> rows) {
  const std::int64_t count = rows->recordCount();
  if (count > std::numeric_limits<int>::max())
    throw Error::provider(QStringLiteral("The result holds %1 rows, more than a record set can count.").arg(count));
  recordCount_ = static_cast<int>(count);
  current_.clear();
  eof_ = !rows->next(current_);
  rows_ = std::move(rows);
}

void RecordSet::requireOpen() const {
  if (!rows_) throw Error::provider(QStringLiteral("Internal error: a record set was used while it was closed."));
}

void RecordSet::requireRow() const {
  requireOpen();
  if (eof_)
    throw Error::provider(QStringLiteral("Internal error: a value was read past the last row of a record set."));
}

const Column& RecordSet::column(int position) const {
  requireOpen();
  const auto& columns = rows_->columns();
  if (position < 0 || static_cast<std::size_t>(position) >= columns.size())
    throw Error::provider(QStringLiteral("Internal error: a record set has no column %1.").arg(position));
  return columns[static_cast<std::size_t>(position)];
}

bool RecordSet::eof() const {
  requireOpen();
  return eof_;
}

int RecordSet::recordCount() const {
  requireOpen();
  return recordCount_;
}

const Value& RecordSet::value(const QString& columnName) const {
  requireOpen();
  const auto& columns = rows_->columns();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].name.compare(columnName, Qt::CaseInsensitive) == 0) {
      requireRow();
      return current_[i];
    }
  }
  throw Error::provider(QStringLiteral("Internal error: a record set has no column '%1'.").arg(columnName));
}

void RecordSet::moveNext() {
  requireRow();
  current_.clear();
  eof_ = !rows_->next(current_);
}

void RecordSet::close() {
  requireOpen();
  rows_.reset();
  current_.clear();
  eof_ = true;
  recordCount_ = 0;
}

}  // namespace orl::ado
