#include "platform/pdx/Generate.h"
#include "tools/pdxtool/Commands.h"

#include <charconv>
#include <ctime>
#include <limits>

namespace orl::pdxtool {
namespace {

template <typename Number>
Number parseNumber(const std::string& text, Number lowest) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < lowest) throw UsageError{};
  return value;
}

}  // namespace

int runGenerate(const Arguments& arguments, std::ostream& out) {
  if (arguments.empty()) throw UsageError{};
  pdx::GenerateSettings settings;
  bool rowsGiven = false;
  bool distinctGiven = false;
  for (std::size_t i = 1; i < arguments.size(); i += 2) {
    if (i + 1 >= arguments.size()) throw UsageError{};
    const std::string& option = arguments[i];
    const std::string& value = arguments[i + 1];
    if (option == "--rows") {
      settings.rows = parseNumber<std::uint32_t>(value, 0);
      rowsGiven = true;
    } else if (option == "--distinct") {
      settings.distinct = parseNumber<std::uint32_t>(value, 1);
      distinctGiven = true;
    } else if (option == "--seed") {
      settings.seed = parseNumber<std::uint64_t>(value, 0);
    } else {
      throw UsageError{};
    }
  }
  if (!rowsGiven) throw UsageError{};
  if (!distinctGiven) settings.distinct = settings.rows > 0 ? settings.rows : 1;
  settings.modifiedTime = static_cast<std::uint32_t>(std::time(nullptr));
  pdx::PosixFileOps files;
  pdx::generateTable(files, arguments[0], settings);
  out << arguments[0] << ": " << settings.rows << " rows\n";
  return 0;
}

}  // namespace orl::pdxtool
