#pragma once

// The sub-commands of pdxtool. Each throws on failure (main prints the
// message on one line and exits non-zero) and returns the exit status.

#include <ostream>
#include <string>
#include <vector>

namespace orl::pdxtool {

using Arguments = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;  // the arguments, as the usage line shows them
  int (*run)(const Arguments& arguments, std::ostream& out);
  // The exit status when it fails; `diff` keeps 1 for "they differ", as diff(1) does.
  int failureStatus = 1;
};

// A wrong number or form of arguments; main shows the usage.
struct UsageError {};

// `info FILE`: the header and the fields.
int runInfo(const Arguments& arguments, std::ostream& out);
// `dump FILE`: the header, the fields and every record as JSON.
int runDump(const Arguments& arguments, std::ostream& out);
// `copy IN OUT`: a level-5 copy of a table.
int runCopy(const Arguments& arguments, std::ostream& out);
// `generate OUT --rows N [--distinct K] [--seed S]`: a synthetic table.
int runGenerate(const Arguments& arguments, std::ostream& out);
// `diff A B`: every difference between two tables and their families;
// 0 when there is none, 1 when there are some (failures exit with 2).
int runDiff(const Arguments& arguments, std::ostream& out);

// `reindex TABLE OUTDIR [INDEX...]`: the table's index files (all, or the
// named .PX/.Xnn/.XGn with their trees) rebuilt from its records into OUTDIR.
int runReindex(const Arguments& arguments, std::ostream& out);
// `check TABLE`: the table's blocks and every index file it has; exit 1 and
// one line a fault when anything is wrong.
int runCheck(const Arguments& arguments, std::ostream& out);

}  // namespace orl::pdxtool
