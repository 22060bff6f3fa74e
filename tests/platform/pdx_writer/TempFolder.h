#pragma once

#include "platform/pdx/Family.h"
#include "platform/pdx/Table.h"
#include "tests/platform/pdx/CorpusSupport.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orl::test {

// A fresh folder under the system's temporary folder, removed with its content.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orlintide-writer-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::vector<std::vector<pdx::Value>> readRows(const std::string& path) {
  const auto table = pdx::Table::open(path);
  auto cursor = table.cursor();
  std::vector<std::vector<pdx::Value>> rows;
  std::vector<pdx::Value> row;
  while (cursor.next(row)) rows.push_back(row);
  return rows;
}

// Copies a corpus table's family (tables/<group>/<tableFile> and the files of
// its stem) into `folder`, writable by its owner.
inline void copyCorpusFamily(const std::string& group, const std::string& tableFile, const std::string& folder) {
  namespace fs = std::filesystem;
  const std::string stem = fs::path(tableFile).stem().string();
  for (const auto& entry : fs::directory_iterator(corpusDir() / "tables" / group)) {
    if (!pdx::isFamilyMember(stem, entry.path().filename().string())) continue;
    const fs::path to = fs::path(folder) / entry.path().filename();
    fs::copy_file(entry.path(), to);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
  }
}

}  // namespace orl::test
