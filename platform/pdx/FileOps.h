#pragma once

// Every file operation the table writer and the safe replacement make goes
// through this interface, so that a test can make any one of them fail.
// Paths are plain UTF-8 strings; no Qt.

#include "platform/pdx/Error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orl::pdx {

// The kinds of operation, as a failure names them and as a test counts them.
enum class FileOp { Create, Write, Flush, Close, Rename, Remove, List, Exists, SyncFolder, Read, CopyAccess };

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
  // Gives `to` the permissions of `from`, and its owner and group where this
  // user may set them. A group that cannot be kept gets no rights on `to`,
  // so that a new file is never open to more people than the old one.
  virtual void copyAccess(const std::string& from, const std::string& to) = 0;
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
  void copyAccess(const std::string& from, const std::string& to) override;
};

// The folder part of a path ("." when there is none) and the name part.
std::string folderOf(const std::string& path);
std::string nameOf(const std::string& path);
std::string joinPath(const std::string& folder, const std::string& name);

}  // namespace orl::pdx
