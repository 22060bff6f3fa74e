#include "platform/pdx/Family.h"

#include "platform/pdx/Error.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>

namespace orl::pdx {
namespace {

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

bool isHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool isFamilyExtension(const std::string& extension) {
  static const std::array<std::string, 5> fixed{"DB", "PX", "MB", "VAL", "TV"};
  if (std::find(fixed.begin(), fixed.end(), extension) != fixed.end()) return true;
  if (extension.size() != 3 || (extension[0] != 'X' && extension[0] != 'Y')) return false;
  if (extension[1] == 'G') return isHex(extension[2]);
  return isHex(extension[1]) && isHex(extension[2]);
}

}  // namespace

bool isFamilyMember(const std::string& stem, const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  if (dot == std::string::npos) return false;
  return upper(fileName.substr(0, dot)) == upper(stem) && isFamilyExtension(upper(fileName.substr(dot + 1)));
}

std::vector<std::string> tableFamily(const std::string& tablePath) {
  namespace fs = std::filesystem;
  const fs::path path(tablePath);
  const std::string stem = path.stem().string();
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (isFamilyMember(stem, name)) names.push_back(name);
  }
  if (error) throw Error(tablePath + ": its folder cannot be read (" + error.message() + ")");
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace orl::pdx
