#include "tools/makesamples/SampleTable.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <sstream>

namespace orl::samples {
namespace {

namespace fs = std::filesystem;
using pdx::FieldType;

const std::map<std::string, FieldType, std::less<>> TypeNames = {
    {"Alpha", FieldType::Alpha},   {"Memo", FieldType::Memo},         {"Short", FieldType::Short},
    {"Long", FieldType::Long},     {"Number", FieldType::Number},     {"Money", FieldType::Money},
    {"Date", FieldType::Date},     {"Time", FieldType::Time},         {"Timestamp", FieldType::Timestamp},
    {"Logical", FieldType::Logical},
};

// The size byte of the types that take none in the text form.
int fixedSize(FieldType type) {
  switch (type) {
    case FieldType::Short: return 2;
    case FieldType::Number:
    case FieldType::Money:
    case FieldType::Timestamp: return 8;
    case FieldType::Logical: return 1;
    default: return 4;  // Long, Date, Time
  }
}

bool takesSize(FieldType type) { return type == FieldType::Alpha || type == FieldType::Memo; }

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text) {
  Number value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> decimalNumber(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<pdx::Date> dateOf(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const auto year = wholeNumber<int>(text.substr(0, 4));
  const auto month = wholeNumber<int>(text.substr(5, 2));
  const auto day = wholeNumber<int>(text.substr(8, 2));
  if (!year || !month || !day) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok()) return std::nullopt;
  return pdx::Date{*year, *month, *day};
}

std::optional<pdx::TimeOfDay> timeOf(std::string_view text) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  const auto hours = wholeNumber<int>(text.substr(0, 2));
  const auto minutes = wholeNumber<int>(text.substr(3, 2));
  const auto seconds = wholeNumber<int>(text.substr(6, 2));
  if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 59) return std::nullopt;
  return pdx::TimeOfDay{((*hours * 60 + *minutes) * 60 + *seconds) * 1000};
}

std::optional<pdx::Timestamp> timestampOf(std::string_view text) {
  if (text.size() != 19 || text[10] != ' ') return std::nullopt;
  const auto date = dateOf(text.substr(0, 10));
  const auto time = timeOf(text.substr(11));
  if (!date || !time) return std::nullopt;
  return pdx::Timestamp{*date, *time};
}

// Seconds since 1970 of a UTC timestamp, as the header keeps them.
std::optional<std::uint32_t> secondsSince1970(const pdx::Timestamp& moment) {
  const std::chrono::sys_days day{std::chrono::year(moment.date.year) /
                                  std::chrono::month(static_cast<unsigned>(moment.date.month)) /
                                  std::chrono::day(static_cast<unsigned>(moment.date.day))};
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(day.time_since_epoch()).count() +
                       moment.time.milliseconds / 1000;
  if (seconds < 0 || seconds > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(seconds);
}

std::string unescaped(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == '\\')) {
      out += text[i + 1] == 'n' ? '\n' : '\\';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<pdx::Value> valueOf(FieldType type, const std::string& text) {
  switch (type) {
    case FieldType::Alpha:
    case FieldType::Memo: return unescaped(text);
    case FieldType::Short:
    case FieldType::Long: {
      const auto number = wholeNumber<std::int64_t>(text);
      if (!number) return std::nullopt;
      return *number;
    }
    case FieldType::Number:
    case FieldType::Money: {
      const auto number = decimalNumber(text);
      if (!number) return std::nullopt;
      return *number;
    }
    case FieldType::Date: {
      const auto date = dateOf(text);
      if (!date) return std::nullopt;
      return *date;
    }
    case FieldType::Time: {
      const auto time = timeOf(text);
      if (!time) return std::nullopt;
      return *time;
    }
    case FieldType::Timestamp: {
      const auto moment = timestampOf(text);
      if (!moment) return std::nullopt;
      return *moment;
    }
    case FieldType::Logical:
      if (text == "True") return true;
      if (text == "False") return false;
      return std::nullopt;
    default: return std::nullopt;
  }
}

class Parser {
 public:
  Parser(const std::string& sourceName, const std::string& tableName) : source_(sourceName) {
    table_.name = tableName;
  }

  void line(std::string text) {
    ++lineNumber_;
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty() || text.front() == '#') return;
    if (text == "record") return startRecord();
    const std::size_t separator = text.find(" = ");
    if (separator == std::string::npos) fail("expected \"name = value\" or \"record\"");
    const std::string name = text.substr(0, separator);
    const std::string value = text.substr(separator + 3);
    if (inRecords_) return recordValue(name, value);
    if (name == "codepage") return codePage(value);
    if (name == "modified") return modified(value);
    if (name.starts_with("field ")) return field(name.substr(6), value);
    fail("unknown setting \"" + name + "\"");
  }

  SampleTable finish() {
    if (table_.settings.fields.empty()) fail("the table has no fields");
    if (!modifiedGiven_) fail("\"modified\" is needed, so that every build writes the same table");
    return std::move(table_);
  }

 private:
  [[noreturn]] void fail(const std::string& why) const {
    throw SampleError(source_ + ":" + std::to_string(lineNumber_) + ": " + why);
  }

  void codePage(const std::string& value) {
    const auto number = wholeNumber<int>(value);
    if (!number) fail("the code page is a number");
    table_.settings.codePage = *number;
  }

  void modified(const std::string& value) {
    const auto moment = timestampOf(value);
    const auto seconds = moment ? secondsSince1970(*moment) : std::nullopt;
    if (!seconds) fail("\"modified\" is YYYY-MM-DD HH:MM:SS, from 1970 to 2106");
    table_.settings.modifiedTime = *seconds;
    modifiedGiven_ = true;
  }

  void field(const std::string& name, const std::string& declaration) {
    std::istringstream words(declaration);
    std::string typeName;
    words >> typeName;
    const auto type = TypeNames.find(typeName);
    if (type == TypeNames.end()) fail("unknown field type \"" + typeName + "\"");
    int size = fixedSize(type->second);
    if (takesSize(type->second) && !(words >> size)) fail(typeName + " needs a size");
    std::string rest;
    if (words >> rest) fail("unexpected \"" + rest + "\" after the field type");
    for (const pdx::Field& earlier : table_.settings.fields)
      if (earlier.name == name) fail("the field \"" + name + "\" is declared twice");
    pdx::Field declared{name, type->second, size};
    try {
      pdx::checkFieldForWriting(declared);
    } catch (const pdx::Error& error) {
      fail(error.what());
    }
    table_.settings.fields.push_back(std::move(declared));
  }

  void startRecord() {
    if (table_.settings.fields.empty()) fail("fields come before the first record");
    inRecords_ = true;
    table_.records.emplace_back(table_.settings.fields.size(), pdx::Null{});
    given_.assign(table_.settings.fields.size(), false);
  }

  void recordValue(const std::string& name, const std::string& text) {
    const auto& fields = table_.settings.fields;
    const auto found = std::find_if(fields.begin(), fields.end(), [&](const pdx::Field& f) { return f.name == name; });
    if (found == fields.end()) fail("no field \"" + name + "\"");
    const auto index = static_cast<std::size_t>(found - fields.begin());
    if (given_[index]) fail("\"" + name + "\" is given twice in one record");
    const auto value = valueOf(found->type, text);
    if (!value) fail("\"" + text + "\" is not a value for the field \"" + name + "\"");
    table_.records.back()[index] = *value;
    given_[index] = true;
  }

  std::string source_;
  SampleTable table_;
  int lineNumber_ = 0;
  bool inRecords_ = false;
  bool modifiedGiven_ = false;
  std::vector<bool> given_;
};

}  // namespace

SampleTable ParseSampleTable(std::istream& text, const std::string& sourceName, const std::string& tableName) {
  Parser parser(sourceName, tableName);
  std::string line;
  while (std::getline(text, line)) parser.line(std::move(line));
  return parser.finish();
}

SampleTable ReadSampleFile(const fs::path& file) {
  std::ifstream text(file, std::ios::binary);
  if (!text) throw SampleError(file.string() + ": cannot be read");
  return ParseSampleTable(text, file.string(), file.stem().string());
}

std::vector<fs::path> SampleFiles(const fs::path& root) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file() && entry.path().extension() == ".table")
      files.push_back(fs::relative(entry.path(), root));
  std::sort(files.begin(), files.end());
  return files;
}

void WriteSampleTable(const SampleTable& table, const fs::path& folder) {
  fs::create_directories(folder);
  const fs::path tablePath = folder / (table.name + ".db");
  // The writer never replaces a file, and a run may have left a memo file
  // beside a table that had none.
  fs::remove(tablePath);
  fs::remove(folder / (table.name + ".mb"));
  pdx::PosixFileOps files;
  pdx::TableWriter writer(files, tablePath.string(), table.settings);
  for (std::size_t i = 0; i < table.records.size(); ++i) {
    try {
      writer.append(table.records[i]);
    } catch (const pdx::Error& error) {
      throw SampleError(table.name + ", record " + std::to_string(i + 1) + ": " + error.what());
    }
  }
  writer.finish();
}

std::vector<fs::path> MakeSamples(const fs::path& sourceRoot, const fs::path& targetRoot) {
  std::vector<fs::path> written;
  for (const fs::path& file : SampleFiles(sourceRoot)) {
    const SampleTable table = ReadSampleFile(sourceRoot / file);
    WriteSampleTable(table, targetRoot / file.parent_path());
    written.push_back(targetRoot / file.parent_path() / (table.name + ".db"));
  }
  return written;
}

}  // namespace orl::samples
