#pragma once

#include <QString>
#include <QStringList>

#include <compare>
#include <cstdint>

namespace orl::fso {

// Attribute bits as the folder walk reads them. System is never set on this
// platform; it is kept so that the walk's rules read as they do elsewhere.
namespace Attribute {
inline constexpr int Hidden = 2;
inline constexpr int System = 4;
inline constexpr int Directory = 16;
inline constexpr int Alias = 1024;
}  // namespace Attribute

// Names a real folder whatever path leads to it, so that a walk can tell a
// link to a folder it has already entered.
struct FolderIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  auto operator<=>(const FolderIdentity&) const = default;
};

// An opened folder.
struct Folder {
  int attributes = 0;
  FolderIdentity identity;
};

// The file-system operations the program relies on. Every failure raises
// orl::Error; permission denied is 70 and a path that is not there 76.
// Names travel as UTF-8; separators are "/".
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The attribute bits of a path: directory 16 (links followed), hidden 2
  // for a name beginning with ".", alias 1024 for a symbolic link.
  virtual int attributes(const QString& path) = 0;

  // Opens a folder (links followed); raises 76 when the path is not one.
  virtual Folder getFolder(const QString& path) = 0;

  // Whether the folder the path leads to is the root of a file system (a
  // drive's root). Costs as much as the path is deep, so a walk asks only
  // when the answer matters.
  virtual bool isRootFolder(const QString& path) = 0;

  // The path with every link resolved: where the folder or file lies.
  virtual QString realPath(const QString& path) = 0;

  // The names of a folder's sub-folders (links to folders included), in byte
  // order. A name whose bytes are not valid UTF-8 comes with "?" in place of
  // each bad byte.
  virtual QStringList subFolderNames(const QString& folder) = 0;

  // The names in a folder that match the pattern ("*" any run, "?" any one
  // character) without regard to letter case, names beginning with "."
  // included, in byte order. Folders are listed too; callers keep what they
  // can open. A folder that does not exist holds no names. Names whose bytes
  // are not valid UTF-8 are left out: no path built from them reaches the file.
  virtual QStringList listNames(const QString& folder, const QString& pattern) = 0;

  // True for an existing regular file (links followed); never raises.
  virtual bool isOpenableFile(const QString& path) = 0;

  // True when the path names a folder (links followed); never raises.
  virtual bool folderExists(const QString& path) = 0;

  // Creates one folder; its parent must exist.
  virtual void createFolder(const QString& path) = 0;

  // Copies a folder's whole content. A destination written without a
  // trailing "/" receives the content itself (created when missing); with a
  // trailing "/" it receives a folder named after the source. Same-named
  // files are replaced when overwrite is set (error 58 otherwise); other
  // files already there stay. A symbolic link is copied as a link to the
  // same target, never followed: the copy never leaves the source folder.
  virtual void copyFolder(const QString& source, const QString& destination, bool overwrite) = 0;
};

}  // namespace orl::fso
