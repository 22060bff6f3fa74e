#include "platform/pdx/WorkingNames.h"

#include <climits>
#include <cstdlib>
#include <memory>

namespace orl::pdx {
namespace {

// The part of the path up to the first component with a working name.
std::string workingPrefixOf(const std::string& path) {
  std::size_t begin = 0;
  while (begin < path.size()) {
    std::size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (isWorkingName(path.substr(begin, end - begin))) return path.substr(0, end);
    begin = end + 1;
  }
  return {};
}

}  // namespace

bool isWorkingName(const std::string& name) { return name.starts_with(WorkingNamePrefix); }

std::string workingFolderOn(const std::string& path) {
  if (std::string written = workingPrefixOf(path); !written.empty()) return written;
  const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? workingPrefixOf(real.get()) : std::string();
}

}  // namespace orl::pdx
