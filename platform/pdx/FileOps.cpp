#include "platform/pdx/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace orl::pdx {

const char* fileOpName(FileOp op) {
  switch (op) {
    case FileOp::Create: return "create";
    case FileOp::Write: return "write";
    case FileOp::Flush: return "flush";
    case FileOp::Close: return "close";
    case FileOp::Rename: return "rename";
    case FileOp::Remove: return "remove";
    case FileOp::List: return "list";
    case FileOp::Exists: return "look up";
    case FileOp::SyncFolder: return "flush the folder";
    case FileOp::Read: return "read";
    case FileOp::CopyAccess: return "copy the permissions of";
    case FileOp::MakeFolder: return "create the folder";
    case FileOp::RemoveFolder: return "remove the folder";
  }
  return "use";
}

namespace {

std::string describe(FileOp op, const std::string& path, int errorCode, const std::string& otherPath) {
  std::string text = std::string("Cannot ") + fileOpName(op) + " \"" + path + "\"";
  if (!otherPath.empty()) text += " to \"" + otherPath + "\"";
  text += ": ";
  text += std::strerror(errorCode);
  if (errorCode == ENOSPC || errorCode == EDQUOT) text += " (disk full)";
  return text;
}

class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  const std::string& path() const override { return path_; }

  void write(std::uint64_t offset, const void* data, std::size_t size) override {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const ssize_t written = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
      if (written < 0) {
        if (errno == EINTR) continue;
        throw FileOpError(FileOp::Write, path_, errno);
      }
      if (written == 0) throw FileOpError(FileOp::Write, path_, ENOSPC);
      bytes += written;
      size -= static_cast<std::size_t>(written);
      offset += static_cast<std::uint64_t>(written);
    }
  }

  void flush() override {
    if (::fsync(fd_) != 0) throw FileOpError(FileOp::Flush, path_, errno);
  }

  void close() override {
    const int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) throw FileOpError(FileOp::Close, path_, errno);
  }

 private:
  std::string path_;
  int fd_;
};

}  // namespace

FileOpError::FileOpError(FileOp op, std::string path, int errorCode, std::string otherPath)
    : Error(describe(op, path, errorCode, otherPath)),
      op_(op),
      path_(std::move(path)),
      otherPath_(std::move(otherPath)),
      errorCode_(errorCode) {}

bool FileOpError::diskFull() const { return errorCode_ == ENOSPC || errorCode_ == EDQUOT; }

std::unique_ptr<OutputFile> PosixFileOps::createExclusive(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) throw FileOpError(FileOp::Create, path, errno);
  return std::make_unique<PosixOutputFile>(path, fd);
}

void PosixFileOps::rename(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) throw FileOpError(FileOp::Rename, from, errno, to);
  // A file system without the no-replace rename: a hard link also refuses a
  // taken name, and the old name goes only once the new one exists.
  if (::link(from.c_str(), to.c_str()) != 0) throw FileOpError(FileOp::Rename, from, errno, to);
  if (::unlink(from.c_str()) != 0) throw FileOpError(FileOp::Rename, from, errno, to);
}

void PosixFileOps::remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0) throw FileOpError(FileOp::Remove, path, errno);
}

void PosixFileOps::makeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) throw FileOpError(FileOp::MakeFolder, path, errno);
}

void PosixFileOps::removeFolder(const std::string& path) {
  if (::rmdir(path.c_str()) != 0) throw FileOpError(FileOp::RemoveFolder, path, errno);
}

std::vector<std::string> PosixFileOps::list(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) throw FileOpError(FileOp::List, folder, errno);
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) throw FileOpError(FileOp::List, folder, readError);
  std::sort(names.begin(), names.end());
  return names;
}

bool PosixFileOps::exists(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  throw FileOpError(FileOp::Exists, path, errno);
}

void PosixFileOps::syncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileOpError(FileOp::SyncFolder, folder, errno);
  const int result = ::fsync(fd);
  const int syncError = errno;
  ::close(fd);
  if (result != 0) throw FileOpError(FileOp::SyncFolder, folder, syncError);
}

std::string PosixFileOps::readSmallFile(const std::string& path, std::size_t limit) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw FileOpError(FileOp::Read, path, errno);
  struct stat status {};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    throw FileOpError(FileOp::Read, path, EINVAL);
  }
  std::string content;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 || content.size() + static_cast<std::size_t>(got) > limit) {
      const int readError = got < 0 ? errno : EFBIG;
      ::close(fd);
      throw FileOpError(FileOp::Read, path, readError);
    }
    if (got == 0) break;
    content.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(fd);
  return content;
}

void PosixFileOps::copyAccess(const std::string& from, const std::string& to) {
  struct stat source {};
  if (::stat(from.c_str(), &source) != 0) throw FileOpError(FileOp::CopyAccess, from, errno, to);
  mode_t mode = source.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
  // Only the super-user may give a file away; anyone may try the group.
  const uid_t owner = ::geteuid() == 0 ? source.st_uid : static_cast<uid_t>(-1);
  if (::chown(to.c_str(), owner, source.st_gid) != 0) {
    if (errno != EPERM) throw FileOpError(FileOp::CopyAccess, from, errno, to);
    mode &= ~S_IRWXG;
  }
  if (::chmod(to.c_str(), mode) != 0) throw FileOpError(FileOp::CopyAccess, from, errno, to);
}

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace orl::pdx
