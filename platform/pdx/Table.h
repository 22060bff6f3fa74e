#pragma once

// Reading Paradox tables (levels 3.0 to 7.x) and their memo files. Free of Qt.
//
//   auto table = orl::pdx::Table::open("/data/CUSTOMER.DB");
//   auto cursor = table.cursor();
//   std::vector<orl::pdx::Value> row;
//   while (cursor.next(row)) { ... }
//
// Every failure throws orl::pdx::Error with a message that names the file.
// A table and its cursors share one code-page converter: use them from one
// thread at a time.

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/Value.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orl::pdx {

inline constexpr int FileTypeKeyed = 0;

inline constexpr int FileTypeUnkeyed = 2;

// What a table's header says about it.
struct TableHeader {
  std::string level;             // "3.0", "3.5", "4.x", "5.x" or "7.x"
  int versionId = 0;             // the header's file-version byte
  int fileType = 0;              // FileTypeKeyed or FileTypeUnkeyed
  std::optional<int> codePage;   // absent below level 4; 0 when the table names none
  int sortOrder = 0;             // the header's sort-order byte
  std::string sortOrderName;     // e.g. "ascii"; empty when the header names none
  std::uint32_t recordCount = 0;
  bool encrypted = false;        // password protected
  int recordSize = 0;
  int headerSize = 0;
  int blockSize = 0;             // bytes
  int firstBlock = 0;            // the first data block in the chain (1 = the one after the header)
  int keyFieldCount = 0;         // the leading fields that make up the primary key
  std::uint32_t autoIncrement = 0;  // the last value an autoincrement field was given
  std::string tableName;         // as stored in the header
  std::vector<Field> fields;

  bool keyed() const { return fileType == FileTypeKeyed; }
  // The code page text is decoded with: the header's, or 437 (the DOS
  // default) when it names none.
  int textCodePage() const;
};

class Cursor;

// What a table declares of its size: its records, and the memo values they
// point to, as long as the records say they are (none of them is read).
struct DeclaredSize {
  std::uint64_t rows = 0;
  std::uint64_t recordBytes = 0;  // rows times the record size
  std::uint64_t memoBytes = 0;    // the lengths of the values kept in the memo file, once for each record pointing to one
  std::uint64_t largestMemo = 0;
};

class Table {
 public:
  // The header and fields of a table file, password protected or not.
  static TableHeader inspect(const std::string& path);

  // Opens a table for reading; its memo file is the `.mb` beside it, in any
  // letter case. Password-protected tables are refused.
  static Table open(const std::string& path);

  // The same from sources already open: `blobs` is the memo file, if any.
  static Table open(std::shared_ptr<const ByteSource> table, std::shared_ptr<const ByteSource> blobs);

  const TableHeader& header() const { return *header_; }
  const std::vector<Field>& fields() const { return header_->fields; }
  const std::string& path() const { return table_->name(); }

  // A forward cursor over the records in their stored order. Cursors are
  // independent of each other; each holds one data block at a time.
  Cursor cursor() const;

  // Reads every record's memo pointers, not the memo file. Throws orl::pdx::Error.
  DeclaredSize declaredSize() const;

 private:
  Table(std::shared_ptr<const ByteSource> table, std::shared_ptr<const ByteSource> blobs,
        std::shared_ptr<const TableHeader> header);

  std::shared_ptr<const ByteSource> table_;
  std::shared_ptr<const ByteSource> blobs_;
  std::shared_ptr<const TableHeader> header_;
  std::shared_ptr<const CodePage> codePage_;
  friend class Cursor;
};

class Cursor {
 public:
  // Fills `row` with the next record's values (one per field) and returns
  // true, or returns false after the last record.
  bool next(std::vector<Value>& row);
  // Moves to the next record without decoding it or reading its memo
  // values, for a caller that wants only its stored bytes; false after the last.
  bool nextStored();
  // The value of field `index` of the record `next` or `nextStored` gave
  // last; records that share one memo value have it read and decoded once.
  Value value(std::size_t index);

  // The stored bytes of the record `next` gave last, and where in the table
  // file they lie (for tools that compare tables byte for byte).
  std::span<const std::uint8_t> recordBytes() const;
  std::uint64_t recordOffset() const;
  // The stored bytes of one field of that record.
  std::span<const std::uint8_t> fieldBytes(std::size_t index) const;
  // Where in the memo file the value of blob field `index` of that record
  // lies (its pointer and length): records that share one give the same
  // number. 0 for a value kept in the record, a blank one or another field type.
  std::uint64_t memoAddress(std::size_t index) const;

 private:
  explicit Cursor(const Table& table);
  bool loadNextBlock();
  Value decodeField(std::size_t index, const std::uint8_t* bytes);
  Value readBlob(std::size_t index, const std::uint8_t* bytes);
  std::string decodeText(std::size_t index, const std::uint8_t* bytes, std::size_t length);
  [[noreturn]] void fail(const std::string& what) const;

  // The memo value each field read last, by its memoAddress.
  std::vector<std::pair<std::uint64_t, Value>> lastMemos_;
  // The memo file, read a block at a time: values lie side by side in its blocks.
  std::shared_ptr<const ByteSource> blobBlocks_;

  Table table_;
  std::vector<std::uint8_t> block_;
  std::vector<std::size_t> fieldOffsets_;
  std::uint32_t nextBlock_ = 0;
  std::uint32_t currentBlock_ = 0;
  std::uint64_t blocksRead_ = 0;
  int recordsInBlock_ = 0;
  int recordInBlock_ = 0;
  std::uint64_t recordsRead_ = 0;
  friend class Table;
};

}  // namespace orl::pdx
