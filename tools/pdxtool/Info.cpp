#include "platform/pdx/Table.h"
#include "tools/pdxtool/Commands.h"

namespace orl::pdxtool {

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
  return 0;
}

}  // namespace orl::pdxtool
