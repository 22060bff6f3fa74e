#pragma once

#include "platform/ado/Connection.h"

#include <QString>

#include <memory>
#include <vector>

namespace orl::ado {

class RecordSet;

// One column of the current row.
class Field {
 public:
  const QString& name() const;
  int type() const;
  const Value& value() const;

 private:
  friend class Fields;
  Field(const RecordSet& records, int position) : records_(&records), position_(position) {}
  const RecordSet* records_;
  int position_;
};

// The columns of a record set, by position from 0.
class Fields {
 public:
  int count() const;
  Field item(int position) const;

 private:
  friend class RecordSet;
  explicit Fields(const RecordSet& records) : records_(records) {}
  const RecordSet& records_;
};

// The rows of a statement, one at a time, with the exact count known at once.
class RecordSet {
 public:
  RecordSet() = default;
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  void setCursorLocation(int location);
  // Cursor and lock type are ADO's; every cursor here is a static snapshot.
  void open(const QString& source, Connection& connection, int cursorType = -1, int lockType = -1);
  // The tables schema of a connection, as a record set.
  void openSchema(Connection& connection, int schema);

  bool eof() const;
  int recordCount() const;
  int state() const { return rows_ ? adStateOpen : adStateClosed; }
  Fields fields() const { return Fields(*this); }
  // The current row's value of a column, by name without regard to letter case.
  const Value& value(const QString& columnName) const;
  void moveNext();
  void close();

 private:
  friend class Field;
  friend class Fields;
  void adopt(std::unique_ptr<Rows> rows);
  void requireOpen() const;
  void requireRow() const;
  const Column& column(int position) const;

  int cursorLocation_ = adUseServer;
  std::unique_ptr<Rows> rows_;
  int recordCount_ = 0;
  bool eof_ = true;
  std::vector<Value> current_;
};

}  // namespace orl::ado
