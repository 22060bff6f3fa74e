#pragma once

// What indexes a table has: its primary key and the secondary indexes in its
// family, read from the headers of the table and of its index files. Free of Qt.
//
//   const auto indexes = orl::pdx::describeIndexes("/data/CUSTOMER.DB");
//   for (const auto& index : indexes.secondary) ... index.fields ...
//
// Throws orl::pdx::Error naming the file when the table or one of its index
// files cannot be read or is damaged.

#include "platform/pdx/Table.h"

#include <optional>
#include <string>
#include <vector>

namespace orl::pdx {

struct IndexedField {
  int number = 0;    // 1 for the table's first field
  std::string name;  // UTF-8, as the table names it
};

struct SecondaryIndex {
  std::string indexFile;  // the .Xnn or .XGn file's name
  std::string treeFile;   // its .Ynn or .YGn; empty when the family has none
  bool composite = false; // an .XGn: several fields, or a name or case rule of its own
  std::string name;       // an .XGn's own name; the field's name for an .Xnn
  std::vector<IndexedField> fields;  // the indexed fields, most significant first
  bool maintained = false;           // kept up to date on every change of the table
  // What the files do not say is left empty rather than guessed. A single
  // field index (.Xnn) is always case-sensitive and ascending.
  std::optional<bool> caseSensitive;
  std::optional<bool> unique;
  std::optional<bool> descending;
  int sortOrder = 0;           // the index file's sort-order byte
  std::string sortOrderName;   // as the index file names it
};

struct IndexDescription {
  std::vector<std::string> family;     // every file of the table's family, in byte order
  std::string primaryIndexFile;        // the .PX file's name; empty when there is none
  std::vector<IndexedField> primaryKey;  // the key fields; empty for an unkeyed table
  std::vector<SecondaryIndex> secondary;
};

IndexDescription describeIndexes(const std::string& tablePath);

// Whether the engine compares values exactly as Paradox does in the table's
// sort order, so that it may re-sort records and rebuild index files: see
// TextOrder::of. A sort order it cannot reproduce exactly is never guessed at.
bool sortOrderReproducible(const TableHeader& header);

}  // namespace orl::pdx
