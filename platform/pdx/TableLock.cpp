#include "platform/pdx/TableLock.h"

#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/FileOps.h"
#include "platform/pdx/Sha256.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

namespace orl::pdx {

namespace {

using FileId = std::pair<dev_t, ino_t>;

// How our lock file begins; the rest names the process, for whoever looks.
constexpr const char* LockFileMarker = "Held by orlintide";
constexpr std::size_t LockFileMostBytes = 256;

// The table and lock files the TableLocks of this process hold.
std::mutex heldMutex;
std::set<FileId>& heldFiles() {
  static std::set<FileId> held;
  return held;
}

std::int64_t nanoseconds(const timespec& time) {
  return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

std::string stemOf(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::vector<std::string> namesIn(const std::string& folder) {
  DIR* directory = ::opendir(folder.c_str());
  if (!directory) throw Error(folder + ": the folder cannot be read (" + std::strerror(errno) + ")");
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(directory)) names.emplace_back(entry->d_name);
  ::closedir(directory);
  return names;
}

std::string digestOf(int descriptor, const std::string& path) {
  Sha256 digest;
  std::array<std::uint8_t, 1 << 16> buffer;
  for (;;) {
    const ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
    if (got == 0) return digest.hex();
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw Error(path + ": cannot be read (" + std::strerror(errno) + ")");
    digest.add(buffer.data(), static_cast<std::size_t>(got));
  }
}

}  // namespace

TableLock::TableLock(const std::string& tablePath)
    : folder_(folderOf(tablePath)), tableFile_(nameOf(tablePath)), table_(stemOf(tableFile_)) {
  refuseUnusableFamily();
  const std::string lockName = table_ + (tableFile_.size() > 2 && tableFile_.back() == 'B' ? ".LCK" : ".lck");
  for (const std::string& name : namesIn(folder_))
    if (sameNameButCase(name, lockName) && !removeLeftLockFile(joinPath(folder_, name)))
      throw inUse("its lock file " + name + " is in the folder");
  try {
    lockTableFile();
    makeLockFile(lockName);
    {
      const std::lock_guard<std::mutex> guard(heldMutex);
      heldFiles().insert({tableDevice_, tableInode_});
      heldFiles().insert({lockDevice_, lockInode_});
    }
    members_ = currentMembers();
  } catch (...) {
    release();
    throw;
  }
}

Error TableLock::refusal(const std::string& why) const { return Error("The table '" + table_ + "' " + why); }

Error TableLock::inUse(const std::string& sign) const {
  return refusal("is in use by another program (" + sign + "); close the table there and try again.");
}

void TableLock::refuseUnusableFamily() const {
  for (const std::string& name : tableFamily(joinPath(folder_, tableFile_))) {
    struct stat status {};
    if (::lstat(joinPath(folder_, name).c_str(), &status) != 0) continue;  // gone since the listing
    if (S_ISLNK(status.st_mode))
      throw refusal("is not changed: its file " + name +
                    " is a symbolic link. A table is changed only in the folder its files are in, where its journal, "
                    "lock and history are kept; open the table from the folder the link leads to.");
    if (!S_ISREG(status.st_mode))
      throw refusal("is not changed: its file " + name +
                    " is not a regular file (a pipe, a device or a folder stands in its place).");
  }
}

void TableLock::lockTableFile() {
  descriptor_ = ::open(joinPath(folder_, tableFile_).c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor_ < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM || error == EROFS)
      throw refusal("cannot be changed: its file " + tableFile_ + " is read-only for this user (" +
                    std::strerror(error) + "); make it writable to change the table.");
    throw refusal("cannot be locked: " + tableFile_ + " cannot be opened (" + std::strerror(error) + ").");
  }
  struct stat status {};
  if (::fstat(descriptor_, &status) != 0 || !S_ISREG(status.st_mode))
    throw refusal("is not changed: its file " + tableFile_ + " is not a regular file.");
  tableDevice_ = status.st_dev;
  tableInode_ = status.st_ino;
  struct flock whole {};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  // A file system without one kind of lock (some network ones) goes on
  // without it: only a lock another holds refuses the table.
  if (::fcntl(descriptor_, F_OFD_SETLK, &whole) != 0 && (errno == EAGAIN || errno == EACCES)) {
    struct flock holder = whole;
    const bool known = ::fcntl(descriptor_, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK && holder.l_pid > 0;
    throw inUse((known ? "process " + std::to_string(holder.l_pid) : std::string("a process")) + " holds a lock on " +
                tableFile_);
  }
  if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    throw inUse("a process holds a lock on " + tableFile_);
}

bool TableLock::removeLeftLockFile(const std::string& path) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return false;
  std::string content(LockFileMostBytes, '\0');
  struct stat opened {}, named {};
  const ssize_t got = ::fstat(descriptor, &opened) == 0 && S_ISREG(opened.st_mode)
                          ? ::pread(descriptor, content.data(), content.size(), 0)
                          : -1;
  // Ours, and its run is gone: a live run holds an flock on it.
  const bool left = got > 0 && content.compare(0, std::strlen(LockFileMarker), LockFileMarker) == 0 &&
                    ::flock(descriptor, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
                    named.st_dev == opened.st_dev && named.st_ino == opened.st_ino && ::unlink(path.c_str()) == 0;
  ::close(descriptor);
  return left;
}

void TableLock::makeLockFile(const std::string& lockName) {
  const std::string lockPath = joinPath(folder_, lockName);
  lockContent_ =
      std::string(LockFileMarker) + " (process " + std::to_string(::getpid()) + ") while it changes the table\n";
  // Its flock tells it from one a killed run left (see removeLeftLockFile).
  const auto takeAndWrite = [this] {
    return (::flock(lockDescriptor_, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) &&
           ::pwrite(lockDescriptor_, lockContent_.data(), lockContent_.size(), 0) ==
               static_cast<ssize_t>(lockContent_.size());
  };
  const auto cannotWrite = [&](int error) {
    return refusal("cannot be locked: its lock file " + lockName + " cannot be written (" + std::strerror(error) + ").");
  };
  // Written and flocked while it has no name, then linked in: a run killed at
  // any moment never leaves an empty lock file that would look like another
  // program's and refuse the table from then on.
  lockDescriptor_ = ::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0644);
  if (lockDescriptor_ >= 0) {
    if (!takeAndWrite()) throw cannotWrite(errno);
    const std::string unnamed = "/proc/self/fd/" + std::to_string(lockDescriptor_);
    if (::linkat(AT_FDCWD, unnamed.c_str(), AT_FDCWD, lockPath.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const int error = errno;
      if (error == EEXIST) throw inUse("its lock file " + lockName + " is in the folder");
      if (error != ENOENT && error != EPERM && error != EOPNOTSUPP)
        throw refusal("cannot be locked: its lock file " + lockName + " cannot be made (" + std::strerror(error) + ").");
      ::close(lockDescriptor_);  // no /proc or no links here: made by name below
      lockDescriptor_ = -1;
    }
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    const int error = errno;
    throw refusal("cannot be locked: its lock file " + lockName + " cannot be made (" + std::strerror(error) + ").");
  }
  if (lockDescriptor_ < 0) {
    lockDescriptor_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (lockDescriptor_ < 0) {
      const int error = errno;
      if (error == EEXIST) throw inUse("its lock file " + lockName + " is in the folder");
      throw refusal("cannot be locked: its lock file " + lockName + " cannot be made (" + std::strerror(error) + ").");
    }
    if (!takeAndWrite()) {
      const int error = errno;
      ::unlink(lockPath.c_str());  // made exclusively a moment ago: ours
      throw cannotWrite(error);
    }
  }
  struct stat status {};
  if (::fstat(lockDescriptor_, &status) != 0) {
    const int error = errno;
    ::unlink(lockPath.c_str());
    throw cannotWrite(error);
  }
  lockFile_ = lockPath;
  lockDevice_ = status.st_dev;
  lockInode_ = status.st_ino;
}

TableLock::~TableLock() { release(); }

void TableLock::release() noexcept {
  {
    const std::lock_guard<std::mutex> guard(heldMutex);
    heldFiles().erase({tableDevice_, tableInode_});
    heldFiles().erase({lockDevice_, lockInode_});
  }
  if (!lockFile_.empty()) {
    // Only our own, as we wrote it: another program's lock records stay.
    struct stat status {};
    std::string content(lockContent_.size() + 1, '\0');
    if (::lstat(lockFile_.c_str(), &status) == 0 && status.st_dev == lockDevice_ && status.st_ino == lockInode_ &&
        ::pread(lockDescriptor_, content.data(), content.size(), 0) == static_cast<ssize_t>(lockContent_.size()) &&
        content.compare(0, lockContent_.size(), lockContent_) == 0)
      ::unlink(lockFile_.c_str());
    lockFile_.clear();
  }
  if (lockDescriptor_ >= 0) ::close(lockDescriptor_);
  lockDescriptor_ = -1;
  if (descriptor_ >= 0) ::close(descriptor_);  // lets both advisory locks go
  descriptor_ = -1;
}

std::vector<TableLock::Member> TableLock::currentMembers() const {
  std::vector<Member> members;
  for (const std::string& name : tableFamily(joinPath(folder_, tableFile_))) {
    const std::string path = joinPath(folder_, name);
    Member member;
    member.name = name;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat status {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
      if (descriptor >= 0) ::close(descriptor);
      member.digest = "(not a regular file)";
      members.push_back(std::move(member));
      continue;
    }
    member.device = status.st_dev;
    member.inode = status.st_ino;
    member.size = status.st_size;
    member.modified = nanoseconds(status.st_mtim);
    member.changed = nanoseconds(status.st_ctim);
    try {
      member.digest = digestOf(descriptor, path);
    } catch (...) {
      ::close(descriptor);
      throw;
    }
    ::close(descriptor);
    members.push_back(std::move(member));
  }
  return members;
}

void TableLock::requireUnchanged() const {
  const std::vector<Member> now = currentMembers();
  std::string what;
  for (const Member& was : members_) {
    const auto found = std::find_if(now.begin(), now.end(), [&](const Member& is) { return is.name == was.name; });
    if (found == now.end())
      what = was.name + " was removed";
    else if (found->device != was.device || found->inode != was.inode)
      what = was.name + " was replaced by another file";
    else if (found->digest != was.digest)
      what = was.name + " has other content";
    else if (found->size != was.size || found->modified != was.modified || found->changed != was.changed)
      what = was.name + " was written to";
    if (!what.empty()) break;
  }
  for (const Member& is : now) {
    if (!what.empty()) break;
    if (std::none_of(members_.begin(), members_.end(), [&](const Member& was) { return was.name == is.name; }))
      what = is.name + " was added";
  }
  if (what.empty()) return;
  throw Error("The table '" + table_ + "' was changed by another program while this run worked on it (" + what +
              "). That change is kept: the table was not replaced. Run the change again to include it.");
}

bool TableLock::heldHere(const std::string& path) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) != 0) return false;
  const std::lock_guard<std::mutex> guard(heldMutex);
  return heldFiles().count({status.st_dev, status.st_ino}) > 0;
}

}  // namespace orl::pdx
