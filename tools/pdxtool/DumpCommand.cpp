#include "tools/pdxtool/Commands.h"
#include "tools/pdxtool/Dump.h"

namespace orl::pdxtool {

int runDump(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() != 1) throw UsageError{};
  writeDump(arguments[0], out);
  return 0;
}

}  // namespace orl::pdxtool
