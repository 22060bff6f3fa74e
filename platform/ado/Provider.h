#pragma once

#include "platform/ado/Value.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace orl::ado {

// A column of a result, with its type as an ADO DataTypeEnum number.
struct Column {
  QString name;
  int type;
};

// The rows a statement or a schema query gives, read front to back.
class Rows {
 public:
  virtual ~Rows() = default;
  virtual const std::vector<Column>& columns() const = 0;
  // The exact number of rows, counted before the first is read.
  virtual std::int64_t recordCount() = 0;
  // Fills the next row; false when there is none left.
  virtual bool next(std::vector<Value>& row) = 0;
};

// What one provider behind a connection string does. Every failure raises orl::Error.
class Provider {
 public:
  virtual ~Provider() = default;
  // Carries out one statement; the rows it gives, or nothing for a statement without rows.
  virtual std::unique_ptr<Rows> execute(const QString& statement) = 0;
  // The tables schema (20) with the columns TABLE_NAME and TABLE_TYPE.
  virtual std::unique_ptr<Rows> openSchema(int schema) = 0;
  // Completes what the statements left pending; a provider released without
  // being closed cancels it instead.
  virtual void close() {}
};

// Hears every statement a provider receives, before it is carried out.
class StatementLog {
 public:
  virtual ~StatementLog() = default;
  virtual void received(const QString& connectionString, const QString& statement) = 0;
};

// Rows already in memory.
class RowsInMemory final : public Rows {
 public:
  RowsInMemory(std::vector<Column> columns, std::vector<std::vector<Value>> rows)
      : columns_(std::move(columns)), rows_(std::move(rows)) {}
  const std::vector<Column>& columns() const override { return columns_; }
  std::int64_t recordCount() override { return static_cast<std::int64_t>(rows_.size()); }
  bool next(std::vector<Value>& row) override {
    if (position_ >= rows_.size()) return false;
    row = std::move(rows_[position_++]);
    return true;
  }

 private:
  std::vector<Column> columns_;
  std::vector<std::vector<Value>> rows_;
  std::size_t position_ = 0;
};

}  // namespace orl::ado
