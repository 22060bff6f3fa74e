#pragma once

// Every file operation the table writer and the safe replacement make goes
// through this interface, so that a test can make any one of them fail.
// Paths are plain UTF-8 strings; no Qt.

#include "platform/pdx/Error.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orl::pdx {

// The kinds of operation, as a failure names them and as a test counts them.
enum class FileOp {
  Create, Write, Flush, Close, Rename, Remove, List, Exists, SyncFolder, Read, CopyAccess, MakeFolder, RemoveFolder,
  OpenFolder, Lock
};

// What trying a folder's exclusive lock found.
enum class LockState { Held, Busy, Unsupported };

const char* fileOpName(FileOp op);

// A failed file operation: which one, on which file, and the system's reason.
class FileOpError : public Error {
 public:
  FileOpError(FileOp op, std::string path, int errorCode, std::string otherPath = {});

  FileOp op() const { return op_; }
  const std::string& path() const { return path_; }
  const std::string& otherPath() const { return otherPath_; }
  int errorCode() const { return errorCode_; }  // an errno value
  bool diskFull() const;

 private:
  FileOp op_;
  std::string path_;
  std::string otherPath_;
  int errorCode_;
};

// A file opened for writing. Writes name their offset, so the writer can
// stream blocks forward and still put the header right at the end.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual const std::string& path() const = 0;
  virtual void write(std::uint64_t offset, const void* data, std::size_t size) = 0;
  // Flushes the file's data to the disk (fsync): after this a crash keeps it.
  virtual void flush() = 0;
  virtual void close() = 0;
};

// A folder entry as it is, a link not followed.
struct FileStatus {
  bool regular = false;  // a plain file (not a link, folder, pipe or device)
  uid_t owner = 0;
  gid_t group = 0;
  unsigned links = 0;    // hard links to the same file
  dev_t device = 0;
  ino_t inode = 0;

  bool sameFile(const FileStatus& other) const { return device == other.device && inode == other.inode; }
};

// One folder, opened once: every operation names an entry of it and never
// follows a link in that entry's place, so that nobody who may write the
// folder can redirect an operation between a check and a use. Names may go
// down into subfolders ("keep/T.db"), or be absolute (a user's own history
// elsewhere); a link on the way is refused too.
class FolderHandle {
 public:
  virtual ~FolderHandle() = default;
  virtual const std::string& path() const = 0;
  // As FileOps::createExclusive, in this folder.
  virtual std::unique_ptr<OutputFile> createExclusive(const std::string& name) = 0;
  // Renames within the folder; fails when the new name is taken.
  virtual void rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& name) = 0;
  // The names in the folder, "." and ".." left out, in byte order.
  virtual std::vector<std::string> list() = 0;
  // Nothing when there is no entry of that name.
  virtual std::optional<FileStatus> status(const std::string& name) = 0;
  // Makes the entries of the folder (or of the subfolder named) durable.
  virtual void sync(const std::string& subfolder = {}) = 0;
  // The first `limit` bytes of a regular file at most, or its whole content
  // when `whole` is set (then longer files fail).
  virtual std::string read(const std::string& name, std::size_t limit, bool whole) = 0;
  // Gives the regular file `to`, which this user must own with no other
  // link to it, the permissions, owner, group, access control list and
  // other extended attributes of the regular file `from`, as far as this
  // user may set them. What cannot be kept narrows access, never widens it.
  // Returns which file `to` was.
  virtual FileStatus copyAccess(const std::string& from, const std::string& to) = 0;
  // Takes the folder's exclusive lock (flock) without waiting; it is held
  // until the handle goes. Some network file systems have no such locks.
  virtual LockState tryLock() = 0;
};

class FileOps {
 public:
  virtual ~FileOps() = default;
  // Creates a new file that only its owner may read or write (a staged table
  // takes the old one's access only once written and checked); fails when
  // anything of that name exists already, a link included.
  virtual std::unique_ptr<OutputFile> createExclusive(const std::string& path) = 0;
  // Renames a file; fails when the new name is taken (it never replaces).
  virtual void rename(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;
  // The names (not paths) in a folder, "." and ".." left out, in byte order.
  virtual std::vector<std::string> list(const std::string& folder) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Makes the folder's entries (creations, renames, removals) durable.
  virtual void syncFolder(const std::string& folder) = 0;
  // The whole content of a small file; fails when it is longer than `limit`.
  virtual std::string readSmallFile(const std::string& path, std::size_t limit) = 0;
  // Creates a folder; fails when anything of that name exists already.
  virtual void makeFolder(const std::string& path) = 0;
  // Removes an empty folder.
  virtual void removeFolder(const std::string& path) = 0;
  // Opens a folder for the operations above on its entries.
  virtual std::unique_ptr<FolderHandle> openFolder(const std::string& path) = 0;
};

// The real file system, through POSIX calls.
class PosixFileOps final : public FileOps {
 public:
  std::unique_ptr<OutputFile> createExclusive(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
  std::vector<std::string> list(const std::string& folder) override;
  bool exists(const std::string& path) override;
  void syncFolder(const std::string& folder) override;
  std::string readSmallFile(const std::string& path, std::size_t limit) override;
  void makeFolder(const std::string& path) override;
  void removeFolder(const std::string& path) override;
  std::unique_ptr<FolderHandle> openFolder(const std::string& path) override;
};

// The folder part of a path ("." when there is none) and the name part.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
// An absolute `name` stays as it is.
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace orl::pdx
