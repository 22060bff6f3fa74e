// pdxtool: looks into Paradox tables and makes them, for tests and benchmarks.

#include "tools/pdxtool/Commands.h"

#include <exception>
#include <iostream>
#include <string>

namespace {

using orl::pdxtool::Command;

const Command commands[] = {
    {"info", "FILE", orl::pdxtool::runInfo},
    {"dump", "FILE", orl::pdxtool::runDump},
    {"copy", "IN OUT", orl::pdxtool::runCopy},
    {"generate", "OUT --rows N [--distinct K] [--seed S]", orl::pdxtool::runGenerate},
    {"reindex", "TABLE OUTDIR [INDEX...]", orl::pdxtool::runReindex},
    {"check", "TABLE", orl::pdxtool::runCheck},
    {"diff", "A B", orl::pdxtool::runDiff, 2},
};

int usage() {
  std::cerr << "usage:";
  for (const Command& command : commands) std::cerr << "\n  pdxtool " << command.name << ' ' << command.usage;
  std::cerr << '\n';
  return 2;
}

std::string oneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string name = argv[1];
  const orl::pdxtool::Arguments arguments(argv + 2, argv + argc);
  for (const Command& command : commands) {
    if (name != command.name) continue;
    try {
      const int status = command.run(arguments, std::cout);
      std::cout.flush();
      if (!std::cout) {
        std::cerr << "pdxtool: the output cannot be written\n";
        return command.failureStatus;
      }
      return status;
    } catch (const orl::pdxtool::UsageError&) {
      std::cerr << "usage: pdxtool " << command.name << ' ' << command.usage << '\n';
      return 2;
    } catch (const std::exception& error) {
      std::cout.flush();
      std::cerr << "pdxtool: " << oneLine(error.what()) << '\n';
      return command.failureStatus;
    }
  }
  return usage();
}
