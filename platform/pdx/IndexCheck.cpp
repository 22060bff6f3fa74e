#include "platform/pdx/IndexCheck.h"

#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/IndexFormat.h"
#include "platform/pdx/SortOrder.h"
#include "platform/pdx/Indexes.h"
#include "platform/pdx/TableData.h"

#include <algorithm>
#include <map>

namespace orl::pdx {

using namespace detail;
using namespace indexformat;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Faults = std::vector<std::string>;

// The chain of a table-like file: linked both ways, ending where the header
// says, and the entries the header counts.
std::vector<int> checkChain(const BlockFile& file, int first, int last, std::uint64_t counted, Faults& faults) {
  std::vector<int> chain;
  try {
    chain = file.chainFrom(first);
  } catch (const Error& error) {
    faults.push_back(error.what());
    return {};
  }
  std::uint64_t entries = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const int expected = i == 0 ? 0 : chain[i - 1];
    if (file.previousOf(chain[i]) != expected)
      faults.push_back(file.name + ": block " + std::to_string(chain[i]) + " names block " +
                       std::to_string(file.previousOf(chain[i])) + " as the one before it, but block " +
                       std::to_string(expected) + " is");
    const int count = file.recordsIn(chain[i]);
    if (count < 0) faults.push_back(file.name + ": block " + std::to_string(chain[i]) + " has an impossible entry count");
    entries += static_cast<std::uint64_t>(std::max(count, 0));
  }
  if (!chain.empty() && chain.back() != last)
    faults.push_back(file.name + ": the header names block " + std::to_string(last) + " as the last, but the chain ends at " +
                     std::to_string(chain.back()));
  if (entries != counted)
    faults.push_back(file.name + ": the header counts " + std::to_string(counted) + " entries but the blocks hold " +
                     std::to_string(entries));
  return chain;
}

struct Leaf {
  Bytes key;
  int block;
  int count;
};

// Walks a tree from its root; every block once, each entry's key and count
// those of what it leads to. Returns the leaf entries in order.
std::vector<Leaf> walkTree(const OldFile& tree, std::size_t keyWidth, Faults& faults) {
  const BlockFile& file = tree.file;
  std::vector<Leaf> leaves;
  std::vector<bool> used(static_cast<std::size_t>(file.blockCount()) + 1, false);
  std::uint32_t entries = 0;
  // Returns the first key below the block and the records below it.
  const auto walk = [&](auto&& self, int number, int level) -> std::pair<Bytes, int> {
    if (number < 1 || number > file.blockCount() || used[static_cast<std::size_t>(number)]) {
      faults.push_back(file.name + ": the tree leads to block " + std::to_string(number) + " twice or past the file's end");
      return {{}, 0};
    }
    used[static_cast<std::size_t>(number)] = true;
    const int count = file.recordsIn(number);
    if (count < 1) {
      faults.push_back(file.name + ": tree block " + std::to_string(number) + " holds no entries");
      return {{}, 0};
    }
    std::pair<Bytes, int> result;
    for (int i = 0; i < count; ++i, ++entries) {
      const std::uint8_t* entry = file.record(number, i);
      Bytes key(entry, entry + keyWidth);
      const int target = shortValue(entry + keyWidth);
      const int below = shortValue(entry + keyWidth + 2);
      if (i == 0) result.first = key;
      result.second += below;
      if (level > 1) {
        const auto [childKey, childCount] = self(self, target, level - 1);
        if (childKey != key || childCount != below)
          faults.push_back(file.name + ": entry " + std::to_string(i + 1) + " of block " + std::to_string(number) +
                           " does not agree with block " + std::to_string(target) + " below it");
      } else {
        leaves.push_back(Leaf{std::move(key), target, below});
      }
    }
    return result;
  };
  if (tree.header.levelCount < 1) {
    faults.push_back(file.name + ": the tree has no levels");
    return {};
  }
  walk(walk, tree.header.rootBlock, tree.header.levelCount);
  if (entries != tree.header.recordCount)
    faults.push_back(file.name + ": the header counts " + std::to_string(tree.header.recordCount) +
                     " entries but the tree holds " + std::to_string(entries));
  return leaves;
}

// The leaves of a tree over a chain: one per block, in chain order, with its
// first key and its count.
void checkLeaves(const std::string& treeName, const std::vector<Leaf>& leaves, const BlockFile& over,
                 const std::vector<int>& chain, std::size_t keyWidth, Faults& faults) {
  std::vector<int> blocks;
  for (int block : chain) {
    if (over.recordsIn(block) > 0) blocks.push_back(block);
  }
  if (leaves.size() != blocks.size()) {
    faults.push_back(treeName + ": it has " + std::to_string(leaves.size()) + " entries for " + std::to_string(blocks.size()) +
                     " blocks of " + over.name);
    return;
  }
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const std::uint8_t* first = over.record(blocks[i], 0);
    const std::string which = treeName + ": entry " + std::to_string(i + 1);
    if (leaves[i].block != blocks[i])
      faults.push_back(which + " leads to block " + std::to_string(leaves[i].block) + " instead of " + std::to_string(blocks[i]));
    else if (leaves[i].count != over.recordsIn(blocks[i]))
      faults.push_back(which + " counts " + std::to_string(leaves[i].count) + " records; block " + std::to_string(blocks[i]) +
                       " holds " + std::to_string(over.recordsIn(blocks[i])));
    else if (!std::equal(leaves[i].key.begin(), leaves[i].key.end(), first, first + keyWidth))
      faults.push_back(which + " does not hold the first key of block " + std::to_string(blocks[i]));
  }
}

bool coversText(const TableHeader& header, const std::vector<int>& fields) {
  return std::any_of(fields.begin(), fields.end(), [&](int number) {
    return header.fields[static_cast<std::size_t>(number - 1)].type == FieldType::Alpha;
  });
}

void checkTree(const TableData& data, const std::string& path, std::size_t width, Faults& faults) {
  try {
    const OldFile tree = readOld(path);
    if (width + TreeEntryTailSize != static_cast<std::size_t>(tree.header.recordSize)) {
      faults.push_back(path + ": its entries do not fit the table's key");
      return;
    }
    checkLeaves(path, walkTree(tree, width, faults), data.file, data.chain, width, faults);
  } catch (const Error& error) {
    faults.push_back(error.what());
  }
}

// The records in key order and, when the table has one (a keyed table
// found without it is still read), the primary index over them.
void checkPrimary(const TableData& data, const std::string& path, Faults& faults) {
  const std::vector<int> fields = primaryKeyFields(data.header);
  std::vector<Bytes> keys;
  for (const Bytes& record : data.records) keys.push_back(keyOf(data, record, fields));
  if (!path.empty()) checkTree(data, path, keys.empty() ? 0 : keys.front().size(), faults);
  const std::optional<KeyOrder> byKey = KeyOrder::of(data.header, fields);
  if (!byKey) return;
  for (std::size_t i = 1; i < keys.size(); ++i) {
    if (!byKey->less(keys[i - 1], keys[i]))
      faults.push_back(data.file.name + ": record " + std::to_string(i + 1) + " is not after record " + std::to_string(i) +
                       " in key order");
  }
}

void checkSecondary(const TableData& data, const SecondaryIndex& index, const std::string& folder, Faults& faults) {
  const std::string path = joinPath(folder, index.indexFile);
  OldFile sorted;
  try {
    sorted = readOld(path);
  } catch (const Error& error) {
    faults.push_back(error.what());
    return;
  }
  const std::vector<int> chain = checkChain(sorted.file, sorted.header.firstBlock, sorted.header.lastBlock,
                                            sorted.header.recordCount, faults);
  std::vector<int> fields;
  for (const auto& field : index.fields) fields.push_back(field.number);
  const std::vector<int> keyFields = primaryKeyFields(data.header);
  // Each record by its index entry without the block number: entry -> its block.
  std::map<Bytes, int> expected;
  for (std::size_t i = 0; i < data.records.size(); ++i) {
    Bytes entry = keyOf(data, data.records[i], fields);
    const Bytes key = keyOf(data, data.records[i], keyFields);
    entry.insert(entry.end(), key.begin(), key.end());
    expected[entry] = data.blockOfRecord[i];
  }
  const std::size_t width = static_cast<std::size_t>(sorted.header.recordSize) - BlockNumberFieldSize;
  Bytes previous;
  // The entries are checked for order where the engine knows it: the case
  // rule matters only for text.
  std::vector<int> entryFields = fields;
  entryFields.insert(entryFields.end(), keyFields.begin(), keyFields.end());
  std::optional<KeyOrder> byEntry = KeyOrder::of(data.header, entryFields);
  if (coversText(data.header, fields) && !index.caseSensitive.value_or(false)) byEntry.reset();
  for (int block : chain) {
    for (int i = 0; i < sorted.file.recordsIn(block); ++i) {
      const std::uint8_t* entry = sorted.file.record(block, i);
      Bytes key(entry, entry + width);
      const std::string which = path + ": entry " + std::to_string(i + 1) + " of block " + std::to_string(block);
      const auto found = expected.find(key);
      if (found == expected.end()) {
        faults.push_back(which + " is no record's, or a record's twice");
      } else {
        // The block number is a hint: Paradox leaves it naming the block a
        // record was in before blocks split, and finds the record by key.
        if (shortValue(entry + width) < 1 || shortValue(entry + width) > data.file.blockCount())
          faults.push_back(which + " names data block " + std::to_string(shortValue(entry + width)) +
                           ", which the table does not have");
        expected.erase(found);
      }
      if (byEntry && !previous.empty() && !byEntry->less(previous, key)) faults.push_back(which + " is out of order");
      previous = std::move(key);
    }
  }
  if (!expected.empty() && sorted.header.recordCount == data.records.size())
    faults.push_back(path + ": " + std::to_string(expected.size()) + " records have no entry");
  if (index.treeFile.empty()) return;
  const std::string treePath = joinPath(folder, index.treeFile);
  try {
    const OldFile tree = readOld(treePath);
    checkLeaves(treePath, walkTree(tree, width, faults), sorted.file, chain, width, faults);
  } catch (const Error& error) {
    faults.push_back(error.what());
  }
}

}  // namespace

std::vector<std::string> checkTable(const std::string& tablePath) {
  Faults faults;
  const TableHeader header = Table::inspect(tablePath);
  if (header.encrypted) return {tablePath + ": the table is password protected; it is not checked"};
  TableData data;
  try {
    const auto source = openFileSource(tablePath);
    const BlockFile file = readBlockFile(*source, header.headerSize, header.blockSize, header.recordSize);
    checkChain(file, header.firstBlock, little16(file.header.data() + LastBlockAt), header.recordCount, faults);
    if (!faults.empty()) return faults;
    data = loadTable(tablePath);
  } catch (const Error& error) {
    faults.push_back(error.what());
    return faults;
  }
  const IndexDescription indexes = describeIndexes(tablePath);
  const std::string folder = folderOf(tablePath);
  if (header.keyed()) checkPrimary(data, indexes.primaryIndexFile.empty() ? std::string() : joinPath(folder, indexes.primaryIndexFile), faults);
  for (const auto& index : indexes.secondary) checkSecondary(data, index, folder, faults);
  return faults;
}

}  // namespace orl::pdx
