#include "platform/pdx/Family.h"

#include "platform/pdx/Error.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
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
  static const std::array<std::string, 6> fixed{"DB", "PX", "MB", "VAL", "TV", "FAM"};
  if (std::find(fixed.begin(), fixed.end(), extension) != fixed.end()) return true;
  if (extension.size() != 3 || (extension[0] != 'X' && extension[0] != 'Y')) return false;
  if (extension[1] == 'G') return isHex(extension[2]);
  return isHex(extension[1]) && isHex(extension[2]);
}

}  // namespace

bool sameNameButCase(std::string_view a, std::string_view b) {
  const auto* first = reinterpret_cast<const std::uint8_t*>(a.data());
  const auto* second = reinterpret_cast<const std::uint8_t*>(b.data());
  const auto firstSize = static_cast<std::int32_t>(a.size());
  const auto secondSize = static_cast<std::int32_t>(b.size());
  std::int32_t i = 0;
  std::int32_t j = 0;
  while (i < firstSize && j < secondSize) {
    const std::int32_t iStart = i;
    const std::int32_t jStart = j;
    UChar32 x = 0;
    UChar32 y = 0;
    U8_NEXT(first, i, firstSize, x);
    U8_NEXT(second, j, secondSize, y);
    if (x < 0 || y < 0) {
      if (a.substr(static_cast<std::size_t>(iStart), static_cast<std::size_t>(i - iStart)) !=
          b.substr(static_cast<std::size_t>(jStart), static_cast<std::size_t>(j - jStart)))
        return false;
    } else if (x != y && u_toupper(x) != u_toupper(y)) {
      return false;
    }
  }
  return i == firstSize && j == secondSize;
}

bool isFamilyMember(const std::string& stem, const std::string& fileName) {
  const auto dot = fileName.rfind('.');
  if (dot == std::string::npos) return false;
  return sameNameButCase(std::string_view(fileName).substr(0, dot), stem) &&
         isFamilyExtension(upper(fileName.substr(dot + 1)));
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
