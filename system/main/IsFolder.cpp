#include "platform/fso/FileSystem.h"
#include "system/main/Main.h"

namespace orl::Main {

std::optional<bool> IsFolder(const QString& path, fso::FileSystem& fileSystem) {
  try {
    return (fileSystem.attributes(path) & fso::Attribute::Directory) != 0;
  } catch (...) {
    return std::nullopt;
  }
}

}  // namespace orl::Main
