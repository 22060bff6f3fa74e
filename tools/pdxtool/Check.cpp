#include "platform/pdx/IndexCheck.h"
#include "tools/pdxtool/Commands.h"

namespace orl::pdxtool {

int runCheck(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() != 1) throw UsageError{};
  const std::vector<std::string> faults = pdx::checkTable(arguments[0]);
  for (const std::string& fault : faults) out << fault << '\n';
  if (faults.empty()) out << "ok\n";
  return faults.empty() ? 0 : 1;
}

}  // namespace orl::pdxtool
