#pragma once

// Giving a table new values while keeping everything else of it: header,
// level, field types and sizes, key, indexes, validity checks, views.
//
//   TableUpdate update(files, "/data/CUSTOMER.DB");
//   update.write(changes);      // the new values, record by record
//   update.verify(field, check); // the staged table read back against the old one
//   update.commit();            // swapped in through the journal
//
// The staged table is a copy of the old file in which only the bytes of the
// changed values differ: records keep their blocks and slots, so every index
// that covers no changed field stays valid byte for byte. A changed memo
// keeps its place in the memo file when its length is the same and is
// appended otherwise; the memo file is staged only when a memo changes.
// Every other family file stays where it is, untouched.
//
// Where a changed field is covered by the key or a secondary index, the
// indexes follow as the caller allows (Indexes): a changed key puts the
// records in key order (the same blocks, each holding as many records) and
// every index is rebuilt; a changed indexed field rebuilds that index. Two
// records given the same key are refused, naming their old values.
//
// The folder lock, the recovery of leftovers, the staged names and the
// journal are FamilyReplacement's (SafeReplace.h).

#include "platform/pdx/CodePage.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/SafeReplace.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orl::pdx {

// One record's new values: for each field, nothing when it keeps its old
// value (and its bytes), or the value it is to hold.
using RecordChanges = std::vector<std::optional<Value>>;

// Given a record's old values, gives its changes; false after the last
// record (the old table's records, in stored order, are the rows asked for).
using ChangeSource = std::function<bool(const std::vector<Value>& before, RecordChanges& changes)>;

// Whether a changed field's value is what the change was meant to give.
using ChangeCheck = std::function<bool(const Value& before, const Value& after)>;

// Called every few records while a table is written or checked.
using Progress = std::function<void(std::uint64_t recordsDone)>;

// The indexes that order a table's records by one of its fields.
struct FieldIndexes {
  bool key = false;                // the field is part of the primary key
  std::vector<std::string> files;  // secondary index files covering it (.Xnn .Ynn .XGn .YGn), by name
  bool any() const { return key || !files.empty(); }
};

// Looks at the table's header and the index files beside it. Throws Error
// when an index file cannot be read.
FieldIndexes indexesOfField(FileOps& files, const std::string& tablePath, std::size_t field);

// The new text with every character that the code page cannot hold put back
// as the old text had it at the same place: a case change whose result the
// code page lacks (µ to Greek capital Mu in 1252) leaves that letter alone.
// Nothing when the two texts differ in length or the old text cannot help.
std::optional<std::string> keepUnholdableLetters(const std::string& before, const std::string& after,
                                                 const CodePage& codePage);

class TableUpdate {
 public:
  enum class Indexes {
    Keep,                // a changed field that an index covers is refused
    Rebuild,             // the indexes a change involves are rebuilt; one that cannot be is refused
    DropThoseOfChanged,  // as Rebuild, but a secondary index that cannot be rebuilt is removed
  };

  // Takes the folder's replacement lock and puts right what an interrupted
  // replacement of this table left. Throws Error when the table cannot be read.
  TableUpdate(FileOps& files, const std::string& tablePath, Indexes indexes = Indexes::Keep);
  ~TableUpdate();
  TableUpdate(const TableUpdate&) = delete;
  TableUpdate& operator=(const TableUpdate&) = delete;

  const TableHeader& header() const { return header_; }
  const std::string& tablePath() const { return tablePath_; }
  const std::string& stagedTablePath() const { return stagedTable_; }

  // Writes the staged table with the changes applied. Throws Error naming
  // the field and the value that the field cannot hold unchanged, or the key
  // or index a change would break; the folder is then as it was.
  //
  // `changing`, when given, names the fields (positions) that may change:
  // only they are read and given to `changes`, which sees every other field
  // as Null and must leave it unchanged; those fields keep their bytes.
  void write(const ChangeSource& changes, const Progress& progress = {},
             const std::optional<std::vector<std::size_t>>& changing = std::nullopt);

  // Whether any record got a new value in that field.
  bool changed(std::size_t field) const { return changed_.at(field); }
  // The index files the commit removes.
  const std::vector<std::string>& droppedIndexes() const { return droppedIndexes_; }
  // The index files (trees included) rebuilt under staged names, which the commit puts in place.
  const std::vector<std::string>& rebuiltIndexes() const { return rebuiltIndexes_; }
  // Whether the records were put in a new order because their key changed.
  bool reordered() const { return reordered_; }

  // Reads the staged table against the old one: the header identical, every
  // field but `field` byte for byte (memos value for value), and `field`
  // either as it was or as `check` accepts. Records put in key order are
  // matched to the old ones by content rather than by place. Rebuilt indexes
  // are checked against the records. `check` must judge by the two values
  // alone: a pair of stored field bytes it accepted once is not asked again.
  // Throws Error at the first difference; the folder is then as it was.
  void verify(std::optional<std::size_t> field, const ChangeCheck& check, const Progress& progress = {}) const;

  // Puts the staged table (and memo file) in place of the old ones and
  // removes the dropped indexes, through the journal. With a keeper, the
  // replaced files are kept (History.h) instead of removed.
  void commit(AsideKeeper* keeper = nullptr);
  // Files that a finished commit could not remove.
  const std::vector<std::string>& leftovers() const { return replacement_->leftovers(); }

 private:
  class Writing;
  void writeStaged(const ChangeSource& changes, const Progress& progress, const std::vector<std::size_t>& changing);
  void followIndexes();
  void refuseDuplicateKeys() const;
  void putInKeyOrder();
  std::shared_ptr<const ByteSource> stagedBlobSource() const;
  void verifyInPlace(std::optional<std::size_t> field, const ChangeCheck& check, const Progress& progress) const;
  void verifyReordered(std::optional<std::size_t> field, const ChangeCheck& check, const Progress& progress) const;

  FileOps& files_;
  std::string tablePath_;
  std::string folder_;
  std::string tableName_;
  std::optional<std::string> blobName_;  // the memo file's name, if there is one
  Indexes indexes_;
  TableHeader header_;
  std::unique_ptr<FamilyReplacement> replacement_;
  std::string stagedTable_;
  std::string stagedBlobs_;  // empty until a memo changes
  std::vector<bool> changed_;
  std::vector<std::string> droppedIndexes_;
  std::vector<std::string> rebuiltIndexes_;
  std::string unsortedTable_;  // the staged table before it was put in key order, while it exists
  bool reordered_ = false;
  bool written_ = false;
};

}  // namespace orl::pdx
