#pragma once

// A keyed table with a secondary index, made for tests as Paradox makes
// one: "Name" (alpha 20) is the key, in the sort order "ascii" (or another
// order's name of five letters) of code page 1252, with its .PX; "Town" (alpha 20) has the single-field index
// .X02/.Y02; "Age" (long) is indexed by nothing. The index files are built
// by the project's own index engine from headers written here.

#include "platform/pdx/FileOps.h"
#include "platform/pdx/IndexBuild.h"
#include "platform/pdx/IndexFormat.h"
#include "platform/pdx/Writer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orl::test {

struct Person {
  std::string name, town;
  std::int64_t age = 0;
};

namespace indexed_table {

using namespace pdx::indexformat;

inline void put16(std::vector<char>& bytes, std::size_t at, int value) {
  bytes[at] = static_cast<char>(value & 0xFF);
  bytes[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

inline void patch(const std::string& path, std::size_t at, const std::vector<char>& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(at));
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// The header of an empty B-tree over alpha fields of the given sizes.
inline void writeTreeHeader(const std::string& path, int fileType, const std::vector<int>& alphaSizes) {
  constexpr int HeaderSize = 0x800;
  constexpr std::uint8_t AlphaCode = 0x01;
  std::vector<char> header(HeaderSize, 0);
  int width = static_cast<int>(TreeEntryTailSize);
  for (int size : alphaSizes) width += size;
  put16(header, RecordSizeAt, width);
  put16(header, HeaderSizeAt, HeaderSize);
  header[FileTypeAt] = static_cast<char>(fileType);
  header[BlockSizeAt] = 2;  // KB
  header[LevelCountAt] = 1;
  put16(header, FieldCountAt, static_cast<int>(alphaSizes.size()));
  put16(header, KeyFieldCountAt, static_cast<int>(alphaSizes.size()));
  header[VersionAt] = 11;
  for (std::size_t i = 0; i < alphaSizes.size(); ++i) {
    header[TreeFieldsAt + i * 2] = static_cast<char>(AlphaCode);
    header[TreeFieldsAt + i * 2 + 1] = static_cast<char>(alphaSizes[i]);
  }
  std::ofstream(path, std::ios::binary).write(header.data(), HeaderSize);
}

inline void writeTable(const std::string& path, std::vector<Person> people) {
  std::sort(people.begin(), people.end(), [](const Person& a, const Person& b) { return a.name < b.name; });
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = {{"Name", pdx::FieldType::Alpha, 20}, {"Town", pdx::FieldType::Alpha, 20}, {"Age", pdx::FieldType::Long, 4}};
  settings.tableName = "PEOPLE.DB";
  pdx::TableWriter writer(files, path, settings);
  for (const Person& person : people) writer.append({person.name, person.town, person.age});
  writer.finish();
  patch(path, FileTypeAt, {0});      // keyed
  patch(path, KeyFieldCountAt, {1});  // on its first field
}

// The empty .X02: a table of Town, then the key, then the data block, which
// the writer lays out as a table's header; its header then names it an index.
inline void writeSecondaryHeader(const std::string& path) {
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.fields = {{"Town", pdx::FieldType::Alpha, 20}, {"Name", pdx::FieldType::Alpha, 20}, {"Blk Num", pdx::FieldType::Short, 2}};
  settings.tableName = "PEOPLE.X02";
  pdx::TableWriter(files, path, settings).finish();
  patch(path, FileTypeAt, {static_cast<char>(SingleMaintainedType)});
  patch(path, KeyFieldCountAt, {2});
  // The field numbers follow the names: Town is the table's field 2.
  constexpr std::size_t NumbersAt = ExtendedHeaderEnd + 3 * 2 + 4 + 3 * 4 + 79 + sizeof("Town") + sizeof("Name") + sizeof("Blk Num");
  patch(path, NumbersAt, {2, 0, 1, 0, 3, 0});
}

// Puts the name of another sort order where a header names "ascii".
inline void nameSortOrder(const std::string& path, const std::string& name) {
  std::vector<char> bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::string ascii("ascii", sizeof("ascii"));
  const auto at = std::search(bytes.begin(), bytes.end(), ascii.begin(), ascii.end());
  if (at == bytes.end() || name.size() + 1 != ascii.size()) throw std::logic_error("no sort order name to replace");
  patch(path, static_cast<std::size_t>(at - bytes.begin()), std::vector<char>(name.begin(), name.end()));
}

}  // namespace indexed_table

// Writes PEOPLE.DB with its .PX, .X02 and .Y02 into `folder`; returns the
// table's path. In another sort order the records and entries are still in
// ascii order: only the headers name it.
inline std::string WriteIndexedPeople(const std::string& folder, const std::vector<Person>& people,
                                      const std::string& sortOrderName = "ascii") {
  namespace fs = std::filesystem;
  using namespace indexed_table;
  const fs::path shape = fs::path(folder) / ".shape";
  fs::create_directory(shape);
  writeTable((shape / "PEOPLE.DB").string(), people);
  writeTreeHeader((shape / "PEOPLE.PX").string(), PrimaryIndexType, {20});
  writeSecondaryHeader((shape / "PEOPLE.X02").string());
  writeTreeHeader((shape / "PEOPLE.Y02").string(), TreeType, {20, 20});
  const std::string table = (fs::path(folder) / "PEOPLE.DB").string();
  writeTable(table, people);
  pdx::PosixFileOps files;
  pdx::rebuildIndexes(files, table, (shape / "PEOPLE.DB").string(), folder, {"PEOPLE.PX", "PEOPLE.X02"});
  fs::remove_all(shape);
  if (sortOrderName != "ascii")
    for (const char* name : {"PEOPLE.DB", "PEOPLE.X02"}) nameSortOrder((fs::path(folder) / name).string(), sortOrderName);
  return table;
}

}  // namespace orl::test
