#include "platform/fso/PosixFileSystem.h"

#include "platform/common/Error.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

namespace orl::fso {
namespace {

QByteArray Encoded(const QString& path) { return path.toUtf8(); }

// Names arrive as bytes; bytes that are not UTF-8 become "?", the character
// that the enumeration refuses.
QString DecodedName(const QByteArray& bytes) {
  QString name = QString::fromUtf8(bytes);
  if (name.toUtf8() != bytes) name.replace(QChar(QChar::ReplacementCharacter), QLatin1Char('?'));
  return name;
}

bool IsValidUtf8(const QByteArray& bytes) { return QString::fromUtf8(bytes).toUtf8() == bytes; }

Error ErrorFromErrno(int code, const QString& path) {
  switch (code) {
    case EACCES:
    case EPERM:
    case EROFS:
      return Error::permissionDenied(path);
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
      return Error::pathNotFound(path);
    case EEXIST:
      return Error(ErrorNumber::FileAlreadyExists, QStringLiteral("File already exists: %1").arg(path));
    case ENOSPC:
      return Error(ErrorNumber::DiskFull, QStringLiteral("Disk full: %1").arg(path));
    default:
      return Error(ErrorNumber::PathFileAccessError, QStringLiteral("Path/File access error: %1 (%2)")
                                                         .arg(path, QString::fromLocal8Bit(std::strerror(code))));
  }
}

// Without trailing separators, so that lstat looks at a link itself; "/" stays.
QString WithoutTrailingSeparators(const QString& path) {
  QString trimmed = path;
  while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/'))) trimmed.chop(1);
  return trimmed;
}

QString LastComponent(const QString& path) {
  const QString trimmed = WithoutTrailingSeparators(path);
  return trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1);
}

QByteArray JoinedBytes(const QByteArray& folder, const QByteArray& name) {
  return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

struct stat StatOf(const QString& path) {
  struct stat info {};
  if (::stat(Encoded(path).constData(), &info) != 0) throw ErrorFromErrno(errno, path);
  return info;
}

FolderIdentity IdentityOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

QByteArray RealPathOf(const QString& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(Encoded(path).constData(), nullptr), &std::free);
  if (!real) throw ErrorFromErrno(errno, path);
  return QByteArray(real.get());
}

// A file system's root is "/" or a folder whose real parent lies on another
// device. The parent is found from the real path rather than through "..",
// which would need the right to search the folder itself.
bool IsFileSystemRoot(const QString& path, const struct stat& info) {
  const QByteArray realPath = RealPathOf(path);
  if (realPath == "/") return true;
  const qsizetype lastSeparator = realPath.lastIndexOf('/');
  const QByteArray parentPath = lastSeparator == 0 ? QByteArray("/") : realPath.left(lastSeparator);
  struct stat parent {};
  if (::stat(parentPath.constData(), &parent) != 0) throw ErrorFromErrno(errno, path);
  return parent.st_dev != info.st_dev;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

// The raw names of a folder's entries, "." and ".." left out, in byte order.
// A missing folder raises 76 unless the caller takes it as holding nothing.
std::vector<QByteArray> RawNames(const QByteArray& folder, bool missingIsEmpty) {
  DirHandle dir(::opendir(folder.constData()));
  if (!dir) {
    if (missingIsEmpty && (errno == ENOENT || errno == ENOTDIR)) return {};
    throw ErrorFromErrno(errno, DecodedName(folder));
  }
  std::vector<QByteArray> names;
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (!entry) {
      if (errno != 0) throw ErrorFromErrno(errno, DecodedName(folder));
      break;
    }
    const QByteArray name(entry->d_name);
    if (name == "." || name == "..") continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const QByteArray& path) {
  struct stat info {};
  return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::u32string Folded(const QString& text) {
  std::u32string folded;
  for (const char32_t c : text.toUcs4()) folded.push_back(QChar::toCaseFolded(c));
  return folded;
}

// A descriptor closed with its owner.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

// The entry `name` of the destination folder, as it is: a link not followed.
std::optional<struct stat> EntryAt(int folder, const QByteArray& name) {
  struct stat info {};
  if (::fstatat(folder, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0) return info;
  return std::nullopt;
}

// Makes room at `name` for a copy: what stands there goes when overwriting
// is allowed (a link itself, never what it points to), and is refused
// otherwise. A folder standing there is never removed.
void ClearForCopy(int folder, const QByteArray& name, const QByteArray& shownPath, bool overwrite) {
  const auto existing = EntryAt(folder, name);
  if (!existing) return;
  if (!overwrite || S_ISDIR(existing->st_mode)) throw ErrorFromErrno(EEXIST, DecodedName(shownPath));
  if (::unlinkat(folder, name.constData(), 0) != 0) throw ErrorFromErrno(errno, DecodedName(shownPath));
}

void CopyLink(const QByteArray& from, int folder, const QByteArray& name, const QByteArray& to, bool overwrite) {
  std::error_code failure;
  const std::filesystem::path target = std::filesystem::read_symlink(from.toStdString(), failure);
  if (failure) throw ErrorFromErrno(failure.value(), DecodedName(from));
  ClearForCopy(folder, name, to, overwrite);
  if (::symlinkat(target.c_str(), folder, name.constData()) != 0) throw ErrorFromErrno(errno, DecodedName(to));
}

// Copies a file's bytes and permissions onto the plain file at `name`
// (made when missing). A link that stands there is replaced, never written through.
void CopyFile(const QByteArray& from, const struct stat& source, int folder, const QByteArray& name,
              const QByteArray& to, bool overwrite) {
  if (const auto existing = EntryAt(folder, name)) {
    // Copying a file onto itself would truncate it: it is already there.
    if (S_ISREG(existing->st_mode) && IdentityOf(*existing) == IdentityOf(source)) return;
    if (!overwrite) throw ErrorFromErrno(EEXIST, DecodedName(to));
    // A link, or a file that is also known elsewhere, is replaced rather than written into.
    if (!S_ISREG(existing->st_mode) || existing->st_nlink > 1) ClearForCopy(folder, name, to, overwrite);
  }
  const Descriptor in(::open(from.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!in) throw ErrorFromErrno(errno, DecodedName(from));
  const mode_t mode = source.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO);
  const Descriptor out(
      ::openat(folder, name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
  if (!out) throw ErrorFromErrno(errno, DecodedName(to));
  struct stat made {};
  if (::fstat(out.get(), &made) != 0 || !S_ISREG(made.st_mode)) throw ErrorFromErrno(EEXIST, DecodedName(to));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(in.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw ErrorFromErrno(errno, DecodedName(from));
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out.get(), buffer + done, static_cast<std::size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) throw ErrorFromErrno(errno, DecodedName(to));
      done += put;
    }
  }
  if (::fchmod(out.get(), mode) != 0) throw ErrorFromErrno(errno, DecodedName(to));
}

// Copies the content of one source folder into an existing target folder,
// reached through its descriptor. Links are copied as links and never
// followed, on either side: the copy stays inside the source, and what it
// writes lands inside the target. The source and the target themselves are
// skipped, so that a target inside the source is not copied into itself.
void CopyContent(const QByteArray& source, int target, const QByteArray& targetPath, bool overwrite,
                 const std::set<FolderIdentity>& skipped) {
  for (const QByteArray& name : RawNames(source, false)) {
    const QByteArray from = JoinedBytes(source, name);
    const QByteArray to = JoinedBytes(targetPath, name);
    struct stat info {};
    if (::lstat(from.constData(), &info) != 0) throw ErrorFromErrno(errno, DecodedName(from));
    if (S_ISLNK(info.st_mode)) {
      CopyLink(from, target, name, to, overwrite);
    } else if (S_ISDIR(info.st_mode)) {
      if (skipped.contains(IdentityOf(info))) continue;
      if (const auto existing = EntryAt(target, name); existing && S_ISLNK(existing->st_mode))
        ClearForCopy(target, name, to, overwrite);
      if (::mkdirat(target, name.constData(), 0777) != 0 && errno != EEXIST)
        throw ErrorFromErrno(errno, DecodedName(to));
      const Descriptor inner(::openat(target, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!inner) throw ErrorFromErrno(errno == ENOTDIR || errno == ELOOP ? EEXIST : errno, DecodedName(to));
      CopyContent(from, inner.get(), to, overwrite, skipped);
    } else if (S_ISREG(info.st_mode)) {
      CopyFile(from, info, target, name, to, overwrite);
    }
  }
}

}  // namespace

bool MatchesPattern(const QString& name, const QString& pattern) {
  const std::u32string text = Folded(name);
  const std::u32string wild = Folded(pattern);
  std::size_t t = 0;
  std::size_t w = 0;
  std::size_t star = std::u32string::npos;
  std::size_t resume = 0;
  while (t < text.size()) {
    if (w < wild.size() && (wild[w] == U'?' || wild[w] == text[t])) {
      ++t;
      ++w;
    } else if (w < wild.size() && wild[w] == U'*') {
      star = w++;
      resume = t;
    } else if (star != std::u32string::npos) {
      w = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (w < wild.size() && wild[w] == U'*') ++w;
  return w == wild.size();
}

int PosixFileSystem::attributes(const QString& path) {
  const QString itself = WithoutTrailingSeparators(path);
  struct stat link {};
  if (::lstat(Encoded(itself).constData(), &link) != 0) throw ErrorFromErrno(errno, path);
  int bits = 0;
  if (S_ISLNK(link.st_mode)) {
    bits |= Attribute::Alias;
    struct stat target {};
    if (::stat(Encoded(itself).constData(), &target) == 0 && S_ISDIR(target.st_mode)) bits |= Attribute::Directory;
  } else if (S_ISDIR(link.st_mode)) {
    bits |= Attribute::Directory;
  }
  const QString name = LastComponent(itself);
  if (name.startsWith(QLatin1Char('.')) && name != QStringLiteral(".") && name != QStringLiteral(".."))
    bits |= Attribute::Hidden;
  return bits;
}

Folder PosixFileSystem::getFolder(const QString& path) {
  const struct stat info = StatOf(path);
  if (!S_ISDIR(info.st_mode)) throw Error::pathNotFound(path);
  Folder folder;
  folder.identity = IdentityOf(info);
  folder.attributes = attributes(path);
  return folder;
}

bool PosixFileSystem::isRootFolder(const QString& path) { return IsFileSystemRoot(path, StatOf(path)); }

QString PosixFileSystem::realPath(const QString& path) { return DecodedName(RealPathOf(path)); }

QStringList PosixFileSystem::subFolderNames(const QString& folder) {
  const QByteArray base = Encoded(folder);
  QStringList names;
  for (const QByteArray& name : RawNames(base, false))
    if (IsDirectory(JoinedBytes(base, name))) names << DecodedName(name);
  return names;
}

QStringList PosixFileSystem::listNames(const QString& folder, const QString& pattern) {
  QStringList names;
  for (const QByteArray& raw : RawNames(Encoded(folder), true)) {
    if (!IsValidUtf8(raw)) continue;
    const QString name = QString::fromUtf8(raw);
    if (MatchesPattern(name, pattern)) names << name;
  }
  return names;
}

bool PosixFileSystem::isOpenableFile(const QString& path) {
  struct stat info {};
  return ::stat(Encoded(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool PosixFileSystem::folderExists(const QString& path) { return IsDirectory(Encoded(path)); }

void PosixFileSystem::createFolder(const QString& path) {
  if (::mkdir(Encoded(path).constData(), 0777) != 0) throw ErrorFromErrno(errno, path);
}

void PosixFileSystem::copyFolder(const QString& source, const QString& destination, bool overwrite) {
  if (!folderExists(source)) throw Error::pathNotFound(source);
  const QString target =
      destination.endsWith(QLatin1Char('/')) ? destination + LastComponent(source) : destination;
  if (!folderExists(target)) createFolder(target);
  const std::set<FolderIdentity> skipped{IdentityOf(StatOf(source)), IdentityOf(StatOf(target))};
  const Descriptor into(::open(Encoded(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!into) throw ErrorFromErrno(errno, target);
  CopyContent(Encoded(source), into.get(), Encoded(target), overwrite, skipped);
}

}  // namespace orl::fso
