#include "tools/pdxtool/Diff.h"

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/Table.h"
#include "tools/pdxtool/Commands.h"
#include "tools/pdxtool/Dump.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <type_traits>

namespace orl::pdxtool {
namespace {

using namespace orl::pdx;
namespace fs = std::filesystem;

// Values longer than this are shown cut, with their length.
constexpr std::size_t ShownBytes = 60;
constexpr std::size_t ShownHexBytes = 16;

class Report {
 public:
  explicit Report(std::ostream& out) : out_(out) {}
  void difference(const std::string& what, const std::string& first, const std::string& second) {
    out_ << what << ": " << first << " | " << second << '\n';
    ++count_;
  }
  void note(const std::string& line) {
    out_ << line << '\n';
    ++count_;
  }
  std::size_t count() const { return count_; }

 private:
  std::ostream& out_;
  std::size_t count_ = 0;
};

std::string bytesDiffer(std::uint64_t count) {
  return std::to_string(count) + (count == 1 ? " byte differs" : " bytes differ");
}

std::string offsetText(std::uint64_t offset) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "0x%04llX", static_cast<unsigned long long>(offset));
  return buffer;
}

std::string hexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < ShownHexBytes; ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, "%02X", bytes[i]);
    if (i > 0) text += ' ';
    text += piece;
  }
  if (bytes.size() > ShownHexBytes) text += " …";
  return text;
}

std::string quoted(const std::string& text) {
  std::ostringstream out;
  writeString(out, text);
  return out.str();
}

// A text cut to ShownBytes at a character boundary, quoted, with its length when cut.
std::string shownText(const std::string& text) {
  if (text.size() <= ShownBytes) return quoted(text);
  std::size_t cut = ShownBytes;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return quoted(text.substr(0, cut)) + "… (" + std::to_string(text.size()) + " bytes)";
}

std::string valueText(const Value& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, Null>) {
          return "(blank)";
        } else if constexpr (std::is_same_v<T, std::string>) {
          return shownText(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          return std::to_string(v);
        } else if constexpr (std::is_same_v<T, double>) {
          char buffer[32];
          const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
          return std::string(buffer, end);
        } else if constexpr (std::is_same_v<T, bool>) {
          return v ? "true" : "false";
        } else if constexpr (std::is_same_v<T, Decimal>) {
          return v.text;
        } else if constexpr (std::is_same_v<T, Date>) {
          return dateText(v);
        } else if constexpr (std::is_same_v<T, TimeOfDay>) {
          return timeText(v);
        } else if constexpr (std::is_same_v<T, Timestamp>) {
          return dateText(v.date) + " " + timeText(v.time);
        } else {
          static_assert(std::is_same_v<T, Bytes>);
          return std::to_string(v.size()) + " bytes: " + hexText(v);
        }
      },
      value);
}

// Doubles by their bits: -0.0 and 0.0 are stored differently.
bool sameValue(const Value& a, const Value& b) {
  if (std::holds_alternative<double>(a) && std::holds_alternative<double>(b))
    return std::bit_cast<std::uint64_t>(std::get<double>(a)) == std::bit_cast<std::uint64_t>(std::get<double>(b));
  return a == b;
}

// Where two long texts or byte strings part, so that a memo's difference can be found.
std::optional<std::size_t> firstDifference(const Value& a, const Value& b) {
  auto bytesOf = [](const Value& value) -> std::optional<std::string_view> {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* bytes = std::get_if<Bytes>(&value))
      return std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    return std::nullopt;
  };
  const auto first = bytesOf(a);
  const auto second = bytesOf(b);
  if (!first || !second || (first->size() <= ShownBytes && second->size() <= ShownBytes)) return std::nullopt;
  const auto parted = std::mismatch(first->begin(), first->end(), second->begin(), second->end());
  return static_cast<std::size_t>(parted.first - first->begin());
}

std::string fieldText(const Field& field) {
  return quoted(field.name) + " " + static_cast<char>(field.type) + " " + std::to_string(field.size);
}

void compareHeaders(const TableHeader& a, const TableHeader& b, Report& report) {
  auto item = [&](const char* what, const std::string& first, const std::string& second) {
    if (first != second) report.difference(std::string("header, ") + what, first, second);
  };
  auto number = [](auto value) { return std::to_string(value); };
  auto codePage = [](const TableHeader& h) { return h.codePage ? std::to_string(*h.codePage) : "none"; };
  item("level", a.level, b.level);
  item("file version", number(a.versionId), number(b.versionId));
  item("file type", number(a.fileType), number(b.fileType));
  item("key fields", number(a.keyFieldCount), number(b.keyFieldCount));
  item("code page", codePage(a), codePage(b));
  item("sort order", number(a.sortOrder), number(b.sortOrder));
  item("sort order name", quoted(a.sortOrderName), quoted(b.sortOrderName));
  item("password protected", a.encrypted ? "yes" : "no", b.encrypted ? "yes" : "no");
  item("record count", number(a.recordCount), number(b.recordCount));
  item("record size", number(a.recordSize), number(b.recordSize));
  item("header size", number(a.headerSize), number(b.headerSize));
  item("block size", number(a.blockSize), number(b.blockSize));
  item("first block", number(a.firstBlock), number(b.firstBlock));
  item("autoincrement", number(a.autoIncrement), number(b.autoIncrement));
  item("table name", quoted(a.tableName), quoted(b.tableName));
  item("fields", number(a.fields.size()), number(b.fields.size()));
  for (std::size_t i = 0; i < std::max(a.fields.size(), b.fields.size()); ++i) {
    const std::string first = i < a.fields.size() ? fieldText(a.fields[i]) : "(none)";
    const std::string second = i < b.fields.size() ? fieldText(b.fields[i]) : "(none)";
    if (first != second) report.difference("field " + std::to_string(i + 1), first, second);
  }
}

std::vector<std::uint8_t> headerBytes(const std::string& path, const TableHeader& header) {
  const auto source = openFileSource(path);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header.headerSize));
  source->read(0, bytes);
  return bytes;
}

// Runs of header bytes that differ; a byte only one header has differs too.
void compareHeaderBytes(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, Report& report) {
  const std::size_t end = std::max(a.size(), b.size());
  auto same = [&](std::size_t at) { return at < a.size() && at < b.size() && a[at] == b[at]; };
  auto piece = [](const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) -> std::string {
    if (from >= bytes.size()) return "(none)";
    return hexText(std::span(bytes).subspan(from, std::min(to, bytes.size()) - from));
  };
  for (std::size_t at = 0; at < end;) {
    if (same(at)) {
      ++at;
      continue;
    }
    std::size_t to = at;
    while (to < end && !same(to)) ++to;
    const std::string where = to - at > 1 ? offsetText(at) + "-" + offsetText(to - 1) : offsetText(at);
    report.difference("header bytes " + where, piece(a, at, to), piece(b, at, to));
    at = to;
  }
}

// The records compared where both tables keep them at the same place in
// their files: their bytes are accounted for by the record lines.
struct RecordPlaces {
  std::vector<std::uint64_t> offsets;
  std::uint64_t size = 0;

  bool covers(std::uint64_t at) const {
    const auto after = std::upper_bound(offsets.begin(), offsets.end(), at);
    return after != offsets.begin() && at < *(after - 1) + size;
  }
};

RecordPlaces compareRecords(const Table& a, const Table& b, Report& report) {
  // Values are compared between fields of the same name; the field lines
  // above report the rest.
  struct Pair {
    std::size_t first, second;
    bool sameLayout;
  };
  std::vector<Pair> pairs;
  for (std::size_t i = 0; i < a.fields().size(); ++i) {
    for (std::size_t j = 0; j < b.fields().size(); ++j) {
      if (a.fields()[i].name != b.fields()[j].name) continue;
      const bool sameLayout =
          a.fields()[i].type == b.fields()[j].type && a.fields()[i].size == b.fields()[j].size;
      pairs.push_back({i, j, sameLayout});
      break;
    }
  }
  const bool sameRecordSize = a.header().recordSize == b.header().recordSize;
  RecordPlaces places;
  places.size = static_cast<std::uint64_t>(a.header().recordSize);

  Cursor first = a.cursor();
  Cursor second = b.cursor();
  std::vector<Value> firstRow, secondRow;
  for (std::uint64_t number = 1;; ++number) {
    const bool inFirst = first.next(firstRow);
    const bool inSecond = second.next(secondRow);
    if (!inFirst && !inSecond) break;
    const std::string record = "record " + std::to_string(number);
    if (inFirst != inSecond) {
      report.note(record + ": only in the " + (inFirst ? "first" : "second") + " table");
      continue;
    }
    if (sameRecordSize && first.recordOffset() == second.recordOffset()) places.offsets.push_back(first.recordOffset());
    for (const Pair& pair : pairs) {
      const Value& x = firstRow[pair.first];
      const Value& y = secondRow[pair.second];
      const std::string what = record + ", " + quoted(a.fields()[pair.first].name);
      if (!sameValue(x, y)) {
        std::string secondText = valueText(y);
        if (const auto parted = firstDifference(x, y))
          secondText += ", first difference at byte " + std::to_string(*parted);
        report.difference(what, valueText(x), secondText);
        continue;
      }
      if (!pair.sameLayout) continue;
      const auto stored = first.fieldBytes(pair.first);
      const auto storedThere = second.fieldBytes(pair.second);
      const auto parted = std::mismatch(stored.begin(), stored.end(), storedThere.begin(), storedThere.end());
      if (parted.first != stored.end()) {
        const auto from = static_cast<std::size_t>(parted.first - stored.begin());
        report.difference(what, "same value " + valueText(x) + ", stored from byte " + std::to_string(from) + ": " +
                                    hexText(stored.subspan(from)),
                          hexText(storedThere.subspan(from)));
      }
    }
  }
  std::sort(places.offsets.begin(), places.offsets.end());
  return places;
}

// Differing bytes of two files, in 64 KB pieces; `accounted` says which
// offsets an earlier line already reported.
struct ByteDifferences {
  std::uint64_t count = 0;
  std::optional<std::uint64_t> first;
  std::uint64_t firstSize = 0, secondSize = 0;
};

template <class Accounted>
ByteDifferences compareFiles(const std::string& a, const std::string& b, Accounted accounted) {
  std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
  if (!first || !second) throw Error((first ? b : a) + ": cannot be opened");
  ByteDifferences found;
  found.firstSize = fs::file_size(a);
  found.secondSize = fs::file_size(b);
  std::vector<char> x(65536), y(65536);
  for (std::uint64_t offset = 0;;) {
    first.read(x.data(), static_cast<std::streamsize>(x.size()));
    second.read(y.data(), static_cast<std::streamsize>(y.size()));
    const auto common = static_cast<std::size_t>(std::min(first.gcount(), second.gcount()));
    for (std::size_t i = 0; i < common; ++i) {
      if (x[i] == y[i] || accounted(offset + i)) continue;
      ++found.count;
      if (!found.first) found.first = offset + i;
    }
    offset += common;
    if (common < x.size()) break;
  }
  return found;
}

// Files beside the table whose name is the table's, letter case aside, by
// upper-cased extension; the table file itself left out.
std::map<std::string, fs::path> familyOf(const std::string& tablePath) {
  const fs::path table(tablePath);
  const fs::path folder = table.has_parent_path() ? table.parent_path() : fs::path(".");
  std::map<std::string, fs::path> family;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    if (!sameNameButCase(path.stem().string(), table.stem().string()) || path.filename() == table.filename()) continue;
    if (!it->is_regular_file()) continue;
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    family.emplace(extension, path);
  }
  if (error) throw Error(tablePath + ": its folder cannot be read (" + error.message() + ")");
  return family;
}

void compareFamilies(const std::string& a, const std::string& b, Report& report) {
  const auto first = familyOf(a);
  const auto second = familyOf(b);
  std::map<std::string, std::pair<const fs::path*, const fs::path*>> all;
  for (const auto& [extension, path] : first) all[extension].first = &path;
  for (const auto& [extension, path] : second) all[extension].second = &path;
  for (const auto& [extension, paths] : all) {
    const std::string what = "family file " + (extension.empty() ? std::string("without extension") : extension);
    if (!paths.first || !paths.second) {
      report.difference(what, paths.first ? paths.first->filename().string() : "(none)",
                        paths.second ? paths.second->filename().string() : "(none)");
      continue;
    }
    const auto found = compareFiles(paths.first->string(), paths.second->string(), [](std::uint64_t) { return false; });
    if (found.firstSize != found.secondSize) {
      report.difference(what + ", size", std::to_string(found.firstSize), std::to_string(found.secondSize));
    }
    if (found.count > 0) {
      report.note(what + ": " + bytesDiffer(found.count) + ", the first at " + offsetText(*found.first));
    }
  }
}

}  // namespace

std::size_t writeDiff(const std::string& first, const std::string& second, std::ostream& out) {
  Report report(out);
  const TableHeader a = Table::inspect(first);
  const TableHeader b = Table::inspect(second);
  compareHeaders(a, b, report);
  compareHeaderBytes(headerBytes(first, a), headerBytes(second, b), report);
  // A protected table's records are not read; its bytes are still compared below.
  RecordPlaces places;
  if (!a.encrypted && !b.encrypted) places = compareRecords(Table::open(first), Table::open(second), report);
  const auto headerEnd = static_cast<std::uint64_t>(std::max(a.headerSize, b.headerSize));
  const auto found = compareFiles(first, second, [&](std::uint64_t at) { return at < headerEnd || places.covers(at); });
  if (found.firstSize != found.secondSize) {
    report.difference("table file, size", std::to_string(found.firstSize), std::to_string(found.secondSize));
  }
  if (found.count > 0) {
    report.note("table file: " + bytesDiffer(found.count) +
                " outside the header and the records compared, the first at " + offsetText(*found.first));
  }
  compareFamilies(first, second, report);
  return report.count();
}

int runDiff(const Arguments& arguments, std::ostream& out) {
  if (arguments.size() != 2) throw UsageError{};
  return writeDiff(arguments[0], arguments[1], out) == 0 ? 0 : 1;
}

}  // namespace orl::pdxtool
