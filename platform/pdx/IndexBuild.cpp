#include "platform/pdx/IndexBuild.h"

#include "platform/pdx/BlockFile.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/Header.h"
#include "platform/pdx/IndexFile.h"
#include "platform/pdx/IndexFormat.h"
#include "platform/pdx/SortOrder.h"
#include "platform/pdx/TableData.h"
#include "platform/pdx/ValueText.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace orl::pdx {

using namespace detail;
using namespace indexformat;

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, int value) {
  bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

void put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

void requireReproducible(const TableHeader& header, const std::vector<int>& fieldNumbers, const std::string& what) {
  for (int number : fieldNumbers) {
    const Field& field = header.fields[static_cast<std::size_t>(number - 1)];
    if (field.type == FieldType::Alpha && !sortOrderReproducible(header))
      throw Error(what + ": its field \"" + field.name + "\" is text, and the table's sort order \"" +
                  header.sortOrderName + "\" is not one this program reproduces exactly");
  }
}

std::string keyText(const std::vector<Value>& row, const std::vector<int>& fieldNumbers) {
  std::string text;
  for (int number : fieldNumbers) {
    if (!text.empty()) text += ", ";
    text += "\"" + valueText(row[static_cast<std::size_t>(number - 1)]) + "\"";
  }
  return text;
}

std::string fieldNames(const TableHeader& header, const std::vector<int>& fieldNumbers) {
  std::string text;
  for (int number : fieldNumbers) text += (text.empty() ? "\"" : ", \"") + header.fields[static_cast<std::size_t>(number - 1)].name + "\"";
  return text;
}

KeyOrder orderOf(const TableHeader& header, const std::vector<int>& fields, const std::string& what) {
  requireReproducible(header, fields, what);
  return *KeyOrder::of(header, fields);
}

std::vector<std::uint32_t> keyOrder(const TableData& data, const std::string& path) {
  const std::vector<int> fields = primaryKeyFields(data.header);
  const KeyOrder byKey = orderOf(data.header, fields, path + ": the primary key cannot be re-sorted");
  std::vector<Bytes> keys;
  for (const Bytes& record : data.records) keys.push_back(keyOf(data, record, fields));
  std::vector<std::uint32_t> order(data.records.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) { return byKey.less(keys[a], keys[b]); });
  for (std::size_t i = 1; i < order.size(); ++i) {
    // Values the sort order does not tell apart are one key to Paradox.
    if (byKey.compare(keys[order[i - 1]].data(), keys[order[i]].data()) != 0) continue;
    std::vector<std::vector<Value>> rows;
    auto cursor = Table::open(path).cursor();
    std::vector<Value> row;
    while (cursor.next(row)) rows.push_back(row);
    throw DuplicateKeyError(path + ": two records would have the same primary key (" + fieldNames(data.header, fields) +
                            "): " + keyText(rows[order[i - 1]], fields) + " and " + keyText(rows[order[i]], fields));
  }
  return order;
}

void writeBlockFile(FileOps& files, const std::string& path, const BlockFile& file) {
  auto out = files.createExclusive(path);
  out->write(0, file.header.data(), file.header.size());
  std::uint64_t at = file.header.size();
  for (const Bytes& block : file.blocks) {
    out->write(at, block.data(), block.size());
    at += block.size();
  }
  out->flush();
  out->close();
}

// An entry of a tree: the key of the first record below it, the block it
// leads to and the records below it.
struct TreeEntry {
  Bytes key;
  int block = 0;
  int count = 0;
};

// Lays `records` into a file shaped after `old`: its chain of blocks with
// their counts when the number of records is the same, else blocks filled
// in order. Returns the chain it used.
std::vector<int> layOut(BlockFile& file, const BlockFile& old, int oldFirstBlock, const std::vector<Bytes>& records) {
  std::vector<int> chain = old.chainFrom(oldFirstBlock);
  std::vector<int> counts;
  for (int block : chain) counts.push_back(old.recordsIn(block));
  const int capacity = (file.blockSize - static_cast<int>(BlockHeaderSize)) / file.recordSize;
  if (std::accumulate(counts.begin(), counts.end(), std::size_t{0}) != records.size() ||
      std::any_of(counts.begin(), counts.end(), [&](int count) { return count < 1 || count > capacity; })) {
    chain.clear();
    counts.clear();
    for (std::size_t done = 0; done < records.size(); done += static_cast<std::size_t>(capacity)) {
      chain.push_back(static_cast<int>(chain.size()) + 1);
      counts.push_back(static_cast<int>(std::min(records.size() - done, static_cast<std::size_t>(capacity))));
    }
  }
  const int highest = chain.empty() ? 0 : *std::max_element(chain.begin(), chain.end());
  file.blocks.assign(static_cast<std::size_t>(std::max(highest, old.blockCount())), Bytes(static_cast<std::size_t>(file.blockSize), 0));
  std::size_t next = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    file.setLinks(chain[i], i + 1 < chain.size() ? chain[i + 1] : 0, i > 0 ? chain[i - 1] : 0, counts[i]);
    for (int j = 0; j < counts[i]; ++j, ++next)
      std::copy(records[next].begin(), records[next].end(), file.block(chain[i]) + BlockHeaderSize + static_cast<std::size_t>(j * file.recordSize));
  }
  return chain;
}

void setBlockCounts(BlockFile& file, std::uint32_t entries, int used, int first, int last) {
  put32(file.header, RecordCountAt, entries);
  put16(file.header, NextFreeBlockAt, used);
  put16(file.header, FileBlocksAt, file.blockCount());
  put16(file.header, FirstBlockAt, first);
  put16(file.header, LastBlockAt, last);
}

// A B-tree over `leaves`, in a file shaped after the old tree: one level
// when they fit one block (the root where the old root was), else full
// blocks level by level, the root last.
BlockFile buildTree(const BlockFile& old, const IndexFileHeader& oldHeader, std::vector<TreeEntry> leaves) {
  BlockFile file;
  file.name = old.name;
  file.header = old.header;
  file.recordSize = old.recordSize;
  file.blockSize = old.blockSize;
  const int capacity = (file.blockSize - static_cast<int>(BlockHeaderSize)) / file.recordSize;
  std::vector<std::vector<TreeEntry>> blocks;
  std::vector<TreeEntry> level = std::move(leaves);
  int levels = 1;
  while (static_cast<int>(level.size()) > capacity) {
    std::vector<TreeEntry> parents;
    for (std::size_t done = 0; done < level.size(); done += static_cast<std::size_t>(capacity)) {
      const auto end = level.begin() + static_cast<std::ptrdiff_t>(std::min(level.size(), done + static_cast<std::size_t>(capacity)));
      std::vector<TreeEntry> block(level.begin() + static_cast<std::ptrdiff_t>(done), end);
      int below = 0;
      for (const auto& entry : block) below += entry.count;
      blocks.push_back(block);
      parents.push_back(TreeEntry{block.front().key, static_cast<int>(blocks.size()), below});
    }
    level = std::move(parents);
    ++levels;
  }
  const bool sameRoot = levels == 1 && oldHeader.levelCount == 1 && oldHeader.rootBlock >= 1 && oldHeader.rootBlock <= old.blockCount();
  const int root = sameRoot ? oldHeader.rootBlock : static_cast<int>(blocks.size()) + 1;
  file.blocks.assign(static_cast<std::size_t>(std::max(root, old.blockCount())), Bytes(static_cast<std::size_t>(file.blockSize), 0));
  blocks.push_back(level);
  std::uint32_t entries = 0;
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    const int number = i + 1 == blocks.size() ? root : static_cast<int>(i) + 1;
    file.setLinks(number, 0, 0, static_cast<int>(blocks[i].size()));
    for (std::size_t j = 0; j < blocks[i].size(); ++j) {
      std::uint8_t* at = file.block(number) + BlockHeaderSize + j * static_cast<std::size_t>(file.recordSize);
      std::copy(blocks[i][j].key.begin(), blocks[i][j].key.end(), at);
      putShortValue(at + blocks[i][j].key.size(), blocks[i][j].block);
      putShortValue(at + blocks[i][j].key.size() + 2, blocks[i][j].count);
      putShortValue(at + blocks[i][j].key.size() + 4, 0);
      ++entries;
    }
  }
  setBlockCounts(file, entries, static_cast<int>(blocks.size()), 1, static_cast<int>(blocks.size()));
  put16(file.header, RootBlockAt, root);
  file.header[LevelCountAt] = static_cast<std::uint8_t>(levels);
  return file;
}

// The tree entries over a chain of blocks: each block's first key and count.
std::vector<TreeEntry> leavesOver(const BlockFile& file, const std::vector<int>& chain, std::size_t keyWidth) {
  std::vector<TreeEntry> leaves;
  for (int block : chain) {
    const std::uint8_t* first = file.record(block, 0);
    leaves.push_back(TreeEntry{Bytes(first, first + keyWidth), block, file.recordsIn(block)});
  }
  return leaves;
}

std::string primaryIndexPath(const std::string& folder, const IndexDescription& indexes) {
  return joinPath(folder, indexes.primaryIndexFile);
}

const SecondaryIndex* findSecondary(const IndexDescription& indexes, const std::string& name) {
  for (const auto& index : indexes.secondary) {
    if (sameNameButCase(index.indexFile, name)) return &index;
  }
  return nullptr;
}

std::vector<int> numbersOf(const std::vector<IndexedField>& fields) {
  std::vector<int> numbers;
  for (const auto& field : fields) numbers.push_back(field.number);
  return numbers;
}

bool coversText(const TableHeader& header, const std::vector<int>& fieldNumbers) {
  return std::any_of(fieldNumbers.begin(), fieldNumbers.end(), [&](int number) {
    return header.fields[static_cast<std::size_t>(number - 1)].type == FieldType::Alpha;
  });
}

// An index's case rule matters only for its text fields. How Paradox orders
// text without regard to case is not known well enough to reproduce.
void checkSecondaryRebuildable(const TableHeader& header, const SecondaryIndex& index, const std::string& path) {
  if (coversText(header, numbersOf(index.fields))) {
    if (!index.caseSensitive)
      throw Error(path + ": the index file does not say whether it is case-sensitive, so it is not rebuilt");
    if (!*index.caseSensitive) throw Error(path + ": an index that ignores letter case is not rebuilt");
  }
  // Its entries hold the primary key after the indexed fields.
  std::vector<int> entryFields = numbersOf(index.fields);
  const std::vector<int> keyFields = primaryKeyFields(header);
  entryFields.insert(entryFields.end(), keyFields.begin(), keyFields.end());
  if (index.descending && *index.descending) throw Error(path + ": a descending index is not rebuilt");
  requireReproducible(header, entryFields, path + ": the index cannot be rebuilt");
}

}  // namespace

std::vector<std::string> indexesInvolving(const IndexDescription& indexes, const std::vector<int>& changedFields) {
  const auto changed = [&](const std::vector<IndexedField>& fields) {
    return std::any_of(fields.begin(), fields.end(), [&](const IndexedField& field) {
      return std::find(changedFields.begin(), changedFields.end(), field.number) != changedFields.end();
    });
  };
  const bool keyChanged = changed(indexes.primaryKey);
  std::vector<std::string> names;
  if (keyChanged && !indexes.primaryIndexFile.empty()) names.push_back(indexes.primaryIndexFile);
  for (const auto& index : indexes.secondary) {
    if (keyChanged || changed(index.fields)) names.push_back(index.indexFile);
  }
  return names;
}

void checkRebuildable(const std::string& tablePath, const std::vector<std::string>& indexFiles) {
  const TableHeader header = Table::inspect(tablePath);
  const IndexDescription indexes = describeIndexes(tablePath);
  const std::string folder = folderOf(tablePath);
  for (const std::string& name : indexFiles) {
    if (!indexes.primaryIndexFile.empty() && sameNameButCase(name, indexes.primaryIndexFile)) {
      requireReproducible(header, primaryKeyFields(header), joinPath(folder, name) + ": the primary key cannot be re-sorted");
    } else if (const SecondaryIndex* index = findSecondary(indexes, name)) {
      checkSecondaryRebuildable(header, *index, joinPath(folder, name));
    } else {
      throw Error(joinPath(folder, name) + ": no index of the table has this name");
    }
  }
}

std::vector<std::uint32_t> primaryKeyOrder(const std::string& tablePath) {
  const TableData data = loadTable(tablePath);
  if (!data.header.keyed()) throw Error(tablePath + ": the table has no primary key");
  return keyOrder(data, tablePath);
}

void writeInKeyOrder(FileOps& files, const std::string& tablePath, const std::string& outPath) {
  TableData data = loadTable(tablePath);
  if (!data.header.keyed()) throw Error(tablePath + ": the table has no primary key");
  const std::vector<std::uint32_t> order = keyOrder(data, tablePath);
  std::size_t next = 0;
  for (int block : data.chain) {
    for (int i = 0; i < data.file.recordsIn(block); ++i, ++next) {
      const Bytes& record = data.records[order[next]];
      std::copy(record.begin(), record.end(), data.file.block(block) + BlockHeaderSize + static_cast<std::size_t>(i * data.header.recordSize));
    }
  }
  writeBlockFile(files, outPath, data.file);
}

std::vector<std::string> rebuildIndexes(FileOps& files, const std::string& tablePath, const std::string& oldTablePath,
                                        const std::string& outFolder, const std::vector<std::string>& indexFiles) {
  return rebuildIndexes(
      files, tablePath, oldTablePath, [&](const std::string& name) { return joinPath(outFolder, name); }, indexFiles);
}

std::vector<std::string> rebuildIndexes(FileOps& files, const std::string& tablePath, const std::string& oldTablePath,
                                        const IndexOutPath& outPathOf, const std::vector<std::string>& indexFiles) {
  const TableData data = loadTable(tablePath);
  const IndexDescription indexes = describeIndexes(oldTablePath);
  const std::string oldFolder = folderOf(oldTablePath);
  checkRebuildable(oldTablePath, indexFiles);
  const std::vector<int> keyFields = primaryKeyFields(data.header);
  std::vector<Bytes> keys;
  for (const Bytes& record : data.records) keys.push_back(keyOf(data, record, keyFields));
  if (data.header.keyed()) {
    const KeyOrder byKey = orderOf(data.header, keyFields, tablePath + ": its records cannot be checked for key order");
    for (std::size_t i = 1; i < keys.size(); ++i) {
      if (!byKey.less(keys[i - 1], keys[i]))
        throw Error(tablePath + ": its records are not in primary-key order (record " + std::to_string(i + 1) + ")");
    }
  }

  std::vector<std::pair<std::string, BlockFile>> built;
  for (const std::string& name : indexFiles) {
    if (!indexes.primaryIndexFile.empty() && sameNameButCase(name, indexes.primaryIndexFile)) {
      const OldFile old = readOld(primaryIndexPath(oldFolder, indexes));
      const std::size_t keyWidth = keys.empty() ? 0 : keys.front().size();
      std::vector<TreeEntry> leaves;
      std::size_t first = 0;
      for (int block : data.chain) {
        const int count = data.file.recordsIn(block);
        if (count > 0) leaves.push_back(TreeEntry{keys[first], block, count});
        first += static_cast<std::size_t>(count);
      }
      if (keyWidth + TreeEntryTailSize != static_cast<std::size_t>(old.header.recordSize))
        throw Error(old.file.name + ": its entries do not fit the table's key");
      built.emplace_back(indexes.primaryIndexFile, buildTree(old.file, old.header, std::move(leaves)));
      continue;
    }
    const SecondaryIndex& index = *findSecondary(indexes, name);
    const OldFile old = readOld(joinPath(oldFolder, index.indexFile));
    std::vector<Bytes> entries;
    for (std::size_t i = 0; i < data.records.size(); ++i) {
      Bytes entry = keyOf(data, data.records[i], numbersOf(index.fields));
      entry.insert(entry.end(), keys[i].begin(), keys[i].end());
      entry.resize(entry.size() + BlockNumberFieldSize);
      putShortValue(entry.data() + entry.size() - BlockNumberFieldSize, data.blockOfRecord[i]);
      entries.push_back(std::move(entry));
    }
    if (!entries.empty() && entries.front().size() != static_cast<std::size_t>(old.header.recordSize))
      throw Error(old.file.name + ": its entries do not fit the table's fields");
    std::vector<int> entryFields = numbersOf(index.fields);
    entryFields.insert(entryFields.end(), keyFields.begin(), keyFields.end());
    const KeyOrder byEntry = orderOf(data.header, entryFields, old.file.name + ": the index cannot be rebuilt");
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const Bytes& a, const Bytes& b) { return byEntry.compare(a.data(), b.data()) < 0; });
    BlockFile sorted;
    sorted.name = old.file.name;
    sorted.header = old.file.header;
    sorted.recordSize = old.file.recordSize;
    sorted.blockSize = old.file.blockSize;
    const std::vector<int> chain = layOut(sorted, old.file, old.header.firstBlock, entries);
    setBlockCounts(sorted, static_cast<std::uint32_t>(entries.size()), static_cast<int>(chain.size()),
                   chain.empty() ? 0 : chain.front(), chain.empty() ? 0 : chain.back());
    if (!index.treeFile.empty()) {
      const OldFile oldTree = readOld(joinPath(oldFolder, index.treeFile));
      const std::size_t keyWidth = static_cast<std::size_t>(sorted.recordSize) - BlockNumberFieldSize;
      built.emplace_back(index.treeFile, buildTree(oldTree.file, oldTree.header, leavesOver(sorted, chain, keyWidth)));
    }
    built.emplace_back(index.indexFile, std::move(sorted));
  }

  std::vector<std::string> written;
  try {
    for (const auto& [name, file] : built) {
      const std::string path = outPathOf(name);
      writeBlockFile(files, path, file);
      written.push_back(path);
    }
  } catch (...) {
    for (const std::string& path : written) {
      try {
        files.remove(path);
      } catch (const Error&) {
        // The first failure is the one to report.
      }
    }
    throw;
  }
  return written;
}

}  // namespace orl::pdx
