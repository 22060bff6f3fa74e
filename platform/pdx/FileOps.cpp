#include "platform/pdx/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <tuple>
#include <utility>

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
    case FileOp::OpenFolder: return "open the folder";
    case FileOp::Lock: return "lock the folder";
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

// The names in an open folder, "." and ".." left out, in byte order; closes it.
std::vector<std::string> namesIn(DIR* dir, const std::string& path) {
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
    errno = 0;
  }
  const int readError = errno;
  ::closedir(dir);
  if (readError != 0) throw FileOpError(FileOp::List, path, readError);
  std::sort(names.begin(), names.end());
  return names;
}

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
  return namesIn(dir, folder);
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
  if (folder.empty() || folder == "." || (!name.empty() && name.front() == '/')) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace orl::pdx

namespace orl::pdx {
namespace {

// A descriptor closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

FileStatus statusOf(const struct stat& info) {
  FileStatus status;
  status.regular = S_ISREG(info.st_mode);
  status.owner = info.st_uid;
  status.group = info.st_gid;
  status.links = static_cast<unsigned>(info.st_nlink);
  status.device = info.st_dev;
  status.inode = info.st_ino;
  return status;
}

// The extended attributes a copy keeps, as `cp -a` does; the access
// control list is one of them.
constexpr const char* AccessListAttribute = "system.posix_acl_access";

bool keptAttribute(const std::string& name) {
  return name.rfind("user.", 0) == 0 || name.rfind("security.", 0) == 0 || name == AccessListAttribute;
}

std::vector<std::string> attributeNames(int fd) {
  for (;;) {
    const ssize_t size = ::flistxattr(fd, nullptr, 0);
    if (size < 0) return {};  // a file system without them has none to keep
    std::string buffer(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::flistxattr(fd, buffer.data(), buffer.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return {};
    std::vector<std::string> names;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const std::string name(buffer.c_str() + at);
      at += name.size() + 1;
      if (keptAttribute(name)) names.push_back(name);
    }
    return names;
  }
}

std::optional<std::string> attributeValue(int fd, const std::string& name) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return std::nullopt;
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return std::nullopt;
    value.resize(static_cast<std::size_t>(got));
    return value;
  }
}

class PosixFolderHandle final : public FolderHandle {
 public:
  PosixFolderHandle(std::string path, Descriptor folder) : path_(std::move(path)), folder_(std::move(folder)) {}

  const std::string& path() const override { return path_; }

  std::unique_ptr<OutputFile> createExclusive(const std::string& name) override {
    const auto [parent, leaf] = parentOf(name, FileOp::Create);
    const int fd = ::openat(parent.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) throw FileOpError(FileOp::Create, pathOf(name), errno);
    return std::make_unique<PosixOutputFile>(pathOf(name), fd);
  }

  void rename(const std::string& from, const std::string& to) override {
    const auto [fromParent, fromLeaf] = parentOf(from, FileOp::Rename);
    const auto [toParent, toLeaf] = parentOf(to, FileOp::Rename);
    const auto fail = [&](int error) { return FileOpError(FileOp::Rename, pathOf(from), error, pathOf(to)); };
    if (::renameat2(fromParent.get(), fromLeaf.c_str(), toParent.get(), toLeaf.c_str(), RENAME_NOREPLACE) == 0)
      return;
    if (errno != EINVAL && errno != ENOSYS) throw fail(errno);
    // Without the no-replace rename: a hard link also refuses a taken name.
    if (::linkat(fromParent.get(), fromLeaf.c_str(), toParent.get(), toLeaf.c_str(), 0) != 0) throw fail(errno);
    if (::unlinkat(fromParent.get(), fromLeaf.c_str(), 0) != 0) throw fail(errno);
  }

  void remove(const std::string& name) override {
    const auto [parent, leaf] = parentOf(name, FileOp::Remove);
    if (::unlinkat(parent.get(), leaf.c_str(), 0) != 0) throw FileOpError(FileOp::Remove, pathOf(name), errno);
  }

  std::vector<std::string> list() override {
    Descriptor copy(::openat(folder_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = copy ? ::fdopendir(copy.get()) : nullptr;
    if (dir == nullptr) throw FileOpError(FileOp::List, path_, errno);
    copy.release();
    return namesIn(dir, path_);
  }

  std::optional<FileStatus> status(const std::string& name) override {
    Descriptor parent;
    std::string leaf;
    try {
      std::tie(parent, leaf) = parentOf(name, FileOp::Exists);
    } catch (const FileOpError& error) {
      if (error.errorCode() == ENOENT) return std::nullopt;
      throw;
    }
    struct stat info {};
    if (::fstatat(parent.get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return statusOf(info);
    if (errno == ENOENT) return std::nullopt;
    throw FileOpError(FileOp::Exists, pathOf(name), errno);
  }

  void sync(const std::string& subfolder) override {
    Descriptor opened;
    int fd = folder_.get();
    if (!subfolder.empty()) {
      opened = openBelow(subfolder, FileOp::SyncFolder);
      fd = opened.get();
    }
    if (::fsync(fd) != 0) throw FileOpError(FileOp::SyncFolder, pathOf(subfolder), errno);
  }

  std::string read(const std::string& name, std::size_t limit, bool whole) override {
    const Descriptor file = openRegular(name, FileOp::Read);
    std::string content;
    char buffer[4096];
    for (;;) {
      const std::size_t room = std::min(sizeof buffer, limit + (whole ? 1 : 0) - content.size());
      if (room == 0) break;
      const ssize_t got = ::read(file.get(), buffer, room);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw FileOpError(FileOp::Read, pathOf(name), errno);
      if (got == 0) break;
      content.append(buffer, static_cast<std::size_t>(got));
    }
    if (content.size() > limit) throw FileOpError(FileOp::Read, pathOf(name), EFBIG);
    return content;
  }

  FileStatus copyAccess(const std::string& from, const std::string& to) override {
    const auto fail = [&](int error) { return FileOpError(FileOp::CopyAccess, pathOf(from), error, pathOf(to)); };
    const Descriptor source = openRegular(from, FileOp::CopyAccess);
    const Descriptor target = openRegular(to, FileOp::CopyAccess);
    struct stat old {};
    struct stat made {};
    if (::fstat(source.get(), &old) != 0 || ::fstat(target.get(), &made) != 0) throw fail(errno);
    // Only a file of this user's own making, reachable by no other name.
    if (made.st_uid != ::geteuid() || made.st_nlink != 1) throw fail(EPERM);

    mode_t mode = old.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
    // Only the super-user may give a file away; anyone may try the group.
    const uid_t owner = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
    bool groupKept = true;
    if (::fchown(target.get(), owner, old.st_gid) != 0) {
      if (errno != EPERM) throw fail(errno);
      mode &= ~S_IRWXG;  // another group's rights must not go to this user's group
      groupKept = false;
    }
    if (::fchmod(target.get(), mode) != 0) throw fail(errno);

    bool accessListKept = false;
    for (const auto& name : attributeNames(source.get())) {
      // An access list speaks of the file's group: with another group it would widen access.
      if (name == AccessListAttribute && !groupKept) continue;
      const auto value = attributeValue(source.get(), name);
      if (!value) continue;
      if (::fsetxattr(target.get(), name.c_str(), value->data(), value->size(), 0) == 0) {
        accessListKept = accessListKept || name == AccessListAttribute;
      } else if (name == AccessListAttribute) {
        // The group bits were the list's mask; its owning group may have had less.
        if (::fchmod(target.get(), mode & ~S_IRWXG) != 0) throw fail(errno);
      }
    }
    // A list the new file took from its folder's default is not the old file's.
    if (!accessListKept && ::fremovexattr(target.get(), AccessListAttribute) == 0 &&
        ::fchmod(target.get(), mode) != 0)
      throw fail(errno);
    return statusOf(made);
  }

  LockState tryLock() override {
    if (::flock(folder_.get(), LOCK_EX | LOCK_NB) == 0) return LockState::Held;
    return errno == EWOULDBLOCK ? LockState::Busy : LockState::Unsupported;
  }

 private:
  std::string pathOf(const std::string& name) const { return name.empty() ? path_ : joinPath(path_, name); }

  // A subfolder reached step by step, never through a link; an absolute
  // path is walked the same way from the root.
  Descriptor openBelow(const std::string& relative, FileOp op) const {
    const bool absolute = !relative.empty() && relative.front() == '/';
    Descriptor current(absolute ? ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : ::dup(folder_.get()));
    std::size_t at = absolute ? 1 : 0;
    while (current && at < relative.size()) {
      auto end = relative.find('/', at);
      if (end == std::string::npos) end = relative.size();
      const std::string step = relative.substr(at, end - at);
      if (step.empty() || step == "." || step == "..") throw FileOpError(op, pathOf(relative), EINVAL);
      Descriptor next(::openat(current.get(), step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!next) throw FileOpError(op, pathOf(relative), errno);
      current = std::move(next);
      at = end + 1;
    }
    if (!current) throw FileOpError(op, pathOf(relative), errno);
    return current;
  }

  // The folder that holds `name`, and the last step of it.
  std::pair<Descriptor, std::string> parentOf(const std::string& name, FileOp op) const {
    const auto slash = name.find_last_of('/');
    if (name.empty() || slash == name.size() - 1) throw FileOpError(op, pathOf(name), EINVAL);
    if (slash == std::string::npos) return {Descriptor(::dup(folder_.get())), name};
    return {openBelow(name.substr(0, slash), op), name.substr(slash + 1)};
  }

  Descriptor openRegular(const std::string& name, FileOp op) const {
    const auto [parent, leaf] = parentOf(name, op);
    Descriptor file(::openat(parent.get(), leaf.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!file) throw FileOpError(op, pathOf(name), errno);
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw FileOpError(op, pathOf(name), errno);
    if (!S_ISREG(info.st_mode)) throw FileOpError(op, pathOf(name), EINVAL);
    return file;
  }

  std::string path_;
  Descriptor folder_;
};

}  // namespace

std::unique_ptr<FolderHandle> PosixFileOps::openFolder(const std::string& path) {
  Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) throw FileOpError(FileOp::OpenFolder, path, errno);
  return std::make_unique<PosixFolderHandle>(path, std::move(folder));
}

}  // namespace orl::pdx
