#include "platform/pdx/Indexes.h"
#include "platform/pdx/Table.h"
#include "tools/pdxtool/Commands.h"

namespace orl::pdxtool {
namespace {

std::string fieldList(const std::vector<pdx::IndexedField>& fields) {
  std::string text;
  for (const auto& field : fields) text += (text.empty() ? "" : ", ") + std::to_string(field.number) + ' ' + field.name;
  return text;
}

std::string yesNoUnknown(const std::optional<bool>& value, const char* yes, const char* no) {
  return value ? (*value ? yes : no) : "not known";
}

void writeIndexes(const pdx::IndexDescription& indexes, std::ostream& out) {
  out << "family:";
  for (const auto& name : indexes.family) out << ' ' << name;
  out << '\n' << "primary index: " << (indexes.primaryIndexFile.empty() ? "none" : indexes.primaryIndexFile);
  if (!indexes.primaryKey.empty()) out << " on " << fieldList(indexes.primaryKey);
  out << '\n' << "secondary indexes: " << indexes.secondary.size() << '\n';
  for (const auto& index : indexes.secondary) {
    out << "  " << index.indexFile << (index.treeFile.empty() ? "" : " + " + index.treeFile) << ' '
        << (index.composite ? "composite" : "single") << " \"" << index.name << "\" on " << fieldList(index.fields)
        << "; " << (index.maintained ? "maintained" : "not maintained") << "; "
        << yesNoUnknown(index.caseSensitive, "case-sensitive", "case-insensitive") << "; "
        << yesNoUnknown(index.unique, "unique", "not unique") << "; "
        << yesNoUnknown(index.descending, "descending", "ascending") << "; sort order " << index.sortOrder
        << (index.sortOrderName.empty() ? "" : " (" + index.sortOrderName + ")") << '\n';
  }
}

}  // namespace

int runInfo(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() != 1) throw UsageError{};
  const pdx::TableHeader header = pdx::Table::inspect(arguments[0]);
  out << "file: " << arguments[0] << '\n'
      << "level: " << header.level << " (file version " << header.versionId << ")\n"
      << "file type: " << header.fileType << (header.keyed() ? " (keyed)" : " (unkeyed)") << '\n'
      << "key fields: " << header.keyFieldCount << '\n'
      << "code page: " << (header.codePage ? std::to_string(*header.codePage) : "none") << '\n'
      << "sort order: " << header.sortOrder
      << (header.sortOrderName.empty() ? "" : " (" + header.sortOrderName + ")") << '\n'
      << "password protected: " << (header.encrypted ? "yes" : "no") << '\n'
      << "records: " << header.recordCount << '\n'
      << "record size: " << header.recordSize << '\n'
      << "header size: " << header.headerSize << '\n'
      << "block size: " << header.blockSize << '\n'
      << "autoincrement: " << header.autoIncrement << '\n'
      << "fields: " << header.fields.size() << '\n';
  int number = 0;
  for (const auto& field : header.fields) {
    out << "  " << ++number << ' ' << static_cast<char>(field.type) << ' ' << field.size << ' ' << field.name
        << '\n';
  }
  out << "sort order reproduced: " << (pdx::sortOrderReproducible(header) ? "yes" : "no") << '\n';
  writeIndexes(pdx::describeIndexes(arguments[0]), out);
  return 0;
}

}  // namespace orl::pdxtool
