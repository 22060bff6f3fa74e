#pragma once

#include "platform/fso/FileSystem.h"

namespace orl::fso {

// The machine's own file system.
class PosixFileSystem final : public FileSystem {
 public:
  int attributes(const QString& path) override;
  Folder getFolder(const QString& path) override;
  bool isRootFolder(const QString& path) override;
  QString realPath(const QString& path) override;
  QStringList subFolderNames(const QString& folder) override;
  QStringList listNames(const QString& folder, const QString& pattern) override;
  bool isOpenableFile(const QString& path) override;
  bool folderExists(const QString& path) override;
  void createFolder(const QString& path) override;
  void copyFolder(const QString& source, const QString& destination, bool overwrite) override;
};

// Whether a name matches a listing pattern: "*" stands for any run of
// characters, "?" for any one, letters compare without regard to case.
bool MatchesPattern(const QString& name, const QString& pattern);

}  // namespace orl::fso
