#include "platform/pdx/Indexes.h"

#include "platform/pdx/CodePage.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/IndexFile.h"
#include "platform/pdx/IndexFormat.h"
#include "platform/pdx/SortOrder.h"

#include <algorithm>

namespace orl::pdx {
namespace {

using namespace indexformat;

std::string upperExtension(const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  std::string extension = dot == std::string::npos ? std::string() : fileName.substr(dot + 1);
  for (char& c : extension) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return extension;
}

// The family member whose extension is `extension` (upper case), if any.
std::string memberWithExtension(const std::vector<std::string>& family, const std::string& extension) {
  const auto found = std::find_if(family.begin(), family.end(),
                                  [&](const std::string& name) { return upperExtension(name) == extension; });
  return found == family.end() ? std::string() : *found;
}

SecondaryIndex describeSecondary(const std::string& folder, const std::string& fileName,
                                 const std::vector<std::string>& family, const TableHeader& table,
                                 const CodePage& codePage) {
  const std::string path = joinPath(folder, fileName);
  const IndexFileHeader header = readIndexHeader(*openFileSource(path));
  const auto fail = [&](const std::string& what) { return Error(path + ": " + what); };
  const std::string extension = upperExtension(fileName);

  SecondaryIndex index;
  index.indexFile = fileName;
  index.treeFile = memberWithExtension(family, "Y" + extension.substr(1));
  index.composite = extension[1] == 'G';
  if (header.isTree() || index.composite != (header.fileType == CompositeIndexType ||
                                             header.fileType == CompositeMaintainedType))
    throw fail("its file type (" + std::to_string(header.fileType) + ") does not fit its name");
  index.maintained = header.fileType == SingleMaintainedType || header.fileType == CompositeMaintainedType;
  index.sortOrder = header.sortOrder;
  index.sortOrderName = header.sortOrderName;

  // The entries hold the indexed fields, then the table's key, then the data block.
  const int indexedCount = header.keyFieldCount - table.keyFieldCount;
  if (indexedCount < 1 || header.keyFieldCount + 1 != static_cast<int>(header.fields.size()))
    throw fail("its fields do not fit the table's key (" + std::to_string(header.keyFieldCount) + " key fields of " +
               std::to_string(header.fields.size()) + ")");
  for (int i = 0; i < indexedCount; ++i) {
    const IndexFileField& field = header.fields[static_cast<std::size_t>(i)];
    if (field.number < 1 || field.number > static_cast<int>(table.fields.size()))
      throw fail("it names field " + std::to_string(field.number) + ", which the table does not have");
    const Field& tableField = table.fields[static_cast<std::size_t>(field.number - 1)];
    if (codePage.decode(field.name).value_or("") != tableField.name)
      throw fail("its field \"" + codePage.decode(field.name).value_or("?") + "\" is not the table's field " +
                 std::to_string(field.number) + " (\"" + tableField.name + "\")");
    index.fields.push_back(IndexedField{field.number, tableField.name});
  }
  if (index.composite) {
    index.name = codePage.decode(header.indexName).value_or("");
  } else {
    index.name = index.fields.front().name;
    index.caseSensitive = true;
    index.descending = false;
  }
  return index;
}

}  // namespace

IndexDescription describeIndexes(const std::string& tablePath) {
  const TableHeader table = Table::inspect(tablePath);
  const CodePage codePage(table.textCodePage());
  const std::string folder = folderOf(tablePath);

  IndexDescription description;
  description.family = tableFamily(tablePath);
  description.primaryIndexFile = memberWithExtension(description.family, "PX");
  if (table.keyed()) {
    for (int i = 0; i < table.keyFieldCount; ++i)
      description.primaryKey.push_back(IndexedField{i + 1, table.fields[static_cast<std::size_t>(i)].name});
  }
  for (const std::string& name : description.family) {
    const std::string extension = upperExtension(name);
    if (extension.size() == 3 && extension[0] == 'X')
      description.secondary.push_back(describeSecondary(folder, name, description.family, table, codePage));
  }
  return description;
}

bool sortOrderReproducible(const TableHeader& header) { return TextOrder::of(header).has_value(); }

}  // namespace orl::pdx
