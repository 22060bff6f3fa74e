#include "tools/pdxtool/Copy.h"

#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"
#include "tools/pdxtool/Commands.h"

#include <ctime>

namespace orl::pdxtool {

std::uint32_t copyTable(pdx::FileOps& files, const std::string& in, const std::string& out,
                        std::uint32_t modifiedTime) {
  const pdx::Table table = pdx::Table::open(in);
  const pdx::TableHeader& header = table.header();
  pdx::WriterSettings settings;
  settings.fields = header.fields;
  settings.codePage = header.textCodePage();
  settings.sortOrder = header.sortOrder;
  if (!header.sortOrderName.empty()) settings.sortOrderName = header.sortOrderName;
  settings.autoIncrement = header.autoIncrement;
  settings.modifiedTime = modifiedTime;

  pdx::TableWriter writer(files, out, settings);
  auto cursor = table.cursor();
  std::vector<pdx::Value> row;
  while (cursor.next(row)) writer.append(row);
  writer.finish();
  return writer.rowCount();
}

int runCopy(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() != 2) throw UsageError{};
  pdx::PosixFileOps files;
  const auto rows = copyTable(files, arguments[0], arguments[1], static_cast<std::uint32_t>(std::time(nullptr)));
  out << arguments[1] << ": " << rows << " rows\n";
  return 0;
}

}  // namespace orl::pdxtool
