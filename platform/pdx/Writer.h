#pragma once

// Writing unkeyed level-5 Paradox tables (file version 11) and their memo
// files, one row at a time. Free of Qt.
//
//   orl::pdx::TableWriter writer(files, "/data/NEW.db", settings);
//   writer.append({std::string("Smith"), std::int64_t{42}, orl::pdx::Null{}});
//   writer.finish();
//
// Memory does not grow with the table: one data block and one memo block
// are held at a time. Every failure throws orl::pdx::Error (a failed file
// operation as its FileOpError) with a message that names the file, or the
// field and the value that cannot be written unchanged.

#include "platform/pdx/CodePage.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/Value.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orl::pdx {

struct WriterSettings {
  std::vector<Field> fields;
  int codePage = 1252;  // the code page text is written in and the header names
  int sortOrder = 0;  // the header's sort-order byte
  std::string sortOrderName = "ascii";
  // The last value an autoincrement field was given; the header keeps the
  // larger of this and every value written.
  std::uint32_t autoIncrement = 0;
  // The header's time of the last change, seconds since 1970 (UTC).
  std::uint32_t modifiedTime = 0;
  // The name the header keeps for the table; the file's name when empty
  // (a table written under a temporary name is given its final one here).
  std::string tableName;
};

// The field sizes a level-5 table allows; throws Error naming the field.
void checkFieldForWriting(const Field& field);

// The most rows a level-5 table of these fields can hold: a record's size
// sets how many fit a data block, and there are at most 65,534 of those.
std::uint64_t mostRowsFor(const std::vector<Field>& fields);

// The longest memo or blob value a level-5 memo file holds: one block of at most 65,535 units.
std::uint64_t largestMemoForWriting();
// How far a level-5 memo file can grow: its pointers are 32-bit.
std::uint64_t largestMemoFileForWriting();

class TableWriter {
 public:
  // Creates the table file, and its memo file (the same name with the
  // extension "mb" in the letter case of the table's) when a field needs
  // one. Both are created exclusively: an existing file is never replaced.
  TableWriter(FileOps& files, std::string tablePath, WriterSettings settings);
  // A table never finished is removed again (its files would be partial).
  ~TableWriter();
  TableWriter(const TableWriter&) = delete;
  TableWriter& operator=(const TableWriter&) = delete;

  const std::string& tablePath() const { return tablePath_; }
  // Empty when no field needs a memo file.
  const std::string& blobPath() const { return blobPath_; }
  std::uint32_t rowCount() const { return rowCount_; }

  // One value per field, of the alternative Value.h gives for its type, or
  // Null for a blank field. A row that fails is not added; a failed file
  // operation leaves the writer unusable.
  void append(const std::vector<Value>& row);

  // Writes the header, flushes both files to disk and closes them.
  void finish();

 private:
  struct Blob;
  void checkUsable() const;
  void encodeField(std::size_t index, const Value& value, std::uint8_t* out, std::vector<Blob>& blobs);
  void storeBlob(Blob& blob);
  void writeBlockOut(bool last);
  void writeSubBlockOut();
  std::vector<std::uint8_t> tableHeader() const;
  void discard() noexcept;
  [[noreturn]] void failValue(std::size_t index, const Value& value, const std::string& why) const;

  FileOps& files_;
  std::string tablePath_;
  std::string blobPath_;
  WriterSettings settings_;
  CodePage codePage_;
  std::vector<std::size_t> offsets_;  // of each field in the record
  std::size_t recordSize_ = 0;
  std::size_t headerSize_ = 0;
  std::size_t recordsPerBlock_ = 0;

  std::unique_ptr<OutputFile> table_;
  std::unique_ptr<OutputFile> blobs_;
  std::vector<std::uint8_t> block_;
  std::size_t recordsInBlock_ = 0;
  std::uint32_t blocksWritten_ = 0;
  std::uint32_t rowCount_ = 0;
  std::uint32_t autoIncrement_ = 0;

  std::uint64_t blobFileSize_ = 0;  // memo file bytes allotted so far
  std::vector<std::uint8_t> subBlock_;  // the memo block small values share
  std::uint64_t subBlockOffset_ = 0;
  int subBlockEntries_ = 0;
  int subBlockChunks_ = 0;

  bool broken_ = false;
  bool finished_ = false;
};

}  // namespace orl::pdx
