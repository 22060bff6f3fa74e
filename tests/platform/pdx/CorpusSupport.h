#pragma once

// Reading the real tables of the shared corpus in tests.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orl::test {

inline std::filesystem::path corpusDir() { return std::filesystem::path(ORLINTIDE_CORPUS_DIR); }

inline bool corpusPresent() { return std::filesystem::is_directory(corpusDir() / "tables"); }

inline std::vector<std::uint8_t> readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file below `folder` with the extension (any letter case), sorted.
inline std::vector<std::filesystem::path> filesWithExtension(const std::filesystem::path& folder,
                                                             const std::string& lowerExtension) {
  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (entry.is_regular_file() && extension == lowerExtension) found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  return found;
}

}  // namespace orl::test
