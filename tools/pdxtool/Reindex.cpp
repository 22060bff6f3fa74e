#include "platform/pdx/FileOps.h"
#include "platform/pdx/IndexBuild.h"
#include "tools/pdxtool/Commands.h"

namespace orl::pdxtool {

int runReindex(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() < 2) throw UsageError{};
  const std::string& table = arguments[0];
  std::vector<std::string> which(arguments.begin() + 2, arguments.end());
  if (which.empty()) {
    const pdx::IndexDescription indexes = pdx::describeIndexes(table);
    if (!indexes.primaryIndexFile.empty()) which.push_back(indexes.primaryIndexFile);
    for (const auto& index : indexes.secondary) which.push_back(index.indexFile);
  }
  pdx::PosixFileOps files;
  for (const std::string& path : pdx::rebuildIndexes(files, table, table, arguments[1], which)) out << path << '\n';
  return 0;
}

}  // namespace orl::pdxtool
