#include "system/main/ProgramFolder.h"

#include "system/main/BuildSettings.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace orl::Main {

namespace {

namespace fs = std::filesystem;

const QString WorkingCopyName = QStringLiteral("orlintide");
const fs::path ScratchDatabase = "dbTemp.mdb";
// What a run reads from the program folder besides the scratch database.
const std::array<fs::path, 3> OtherProgramFiles = {"HAND-M.CUR", "Samples", "x"};

fs::path pathOf(const QString& path) { return fs::path(QFile::encodeName(path).toStdString()); }

QString textOf(const fs::path& path) { return QFile::decodeName(QByteArray::fromStdString(path.string())); }

bool mayWrite(const QString& folder) { return ::access(QFile::encodeName(folder).constData(), W_OK) == 0; }

bool isSharedInstall(const QString& executableFolder, const QString& sharedInstallFolder) {
  if (sharedInstallFolder.isEmpty()) return false;
  const QString shared = QFileInfo(sharedInstallFolder).canonicalFilePath();
  return !shared.isEmpty() && QFileInfo(executableFolder).canonicalFilePath() == shared;
}

// A copy the user may change, whatever the installed file's mode.
void makeOwnerWritable(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

// Copies a file under a passing name of this process's own and renames it
// into place, so that neither a start killed meanwhile nor one running at the
// same moment ever leaves half a file under the real name.
// `ownerOnly` gives the copy to its owner alone, for a file that will hold table data.
void copyFileInPlace(const fs::path& from, const fs::path& to, bool ownerOnly = false) {
  const fs::path part =
      to.parent_path() / ("." + to.filename().string() + ".orlintide-part-" + std::to_string(::getpid()));
  fs::copy_file(from, part, fs::copy_options::overwrite_existing);
  if (ownerOnly)
    fs::permissions(part, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
  else
    makeOwnerWritable(part);
  fs::rename(part, to);
}

// Copies what the working copy lacks, folder by folder; what it has is kept.
void addMissing(const fs::path& from, const fs::path& to) {
  if (fs::is_directory(from)) {
    if (!fs::exists(fs::symlink_status(to))) {
      fs::create_directory(to);
      makeOwnerWritable(to);
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(from))
      addMissing(entry.path(), to / entry.path().filename());
  } else if (fs::is_regular_file(from) && !fs::exists(fs::symlink_status(to))) {
    copyFileInPlace(from, to);
  }
}

// The scratch database is replaced when its format differs from the
// installed one's (a missing or damaged one counts as different), together
// with any journal an old run left, which belongs to the old file alone.
void bringUpToDate(const fs::path& installed, const fs::path& copy) {
  const fs::path installedScratch = installed / ScratchDatabase;
  const fs::path copyScratch = copy / ScratchDatabase;
  if (fs::exists(installedScratch) &&
      ScratchDatabaseFormat(textOf(installedScratch)) != ScratchDatabaseFormat(textOf(copyScratch))) {
    for (const char* journal : {"-journal", "-wal", "-shm"}) fs::remove(copy / (ScratchDatabase.string() + journal));
    // A run copies the user's tables into it.
    copyFileInPlace(installedScratch, copyScratch, true);
  }
  for (const fs::path& name : OtherProgramFiles)
    if (fs::exists(installed / name)) addMissing(installed / name, copy / name);
}

// Makes the working copy in a private folder of a passing name and renames
// it into place: two programs starting at once, or one killed half way,
// never leave a half-made copy under the real name.
void makeWorkingCopy(const fs::path& installed, const fs::path& copy) {
  fs::create_directories(copy.parent_path());
  std::string staging = (copy.parent_path() / ".orlintide-new-XXXXXX").string();
  if (::mkdtemp(staging.data()) == nullptr)
    throw fs::filesystem_error("cannot make a folder", copy.parent_path(),
                               std::error_code(errno, std::generic_category()));
  try {
    bringUpToDate(installed, staging);
    fs::rename(staging, copy);
  } catch (const fs::filesystem_error&) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    // Another start of the program may have made it first.
    if (!fs::is_directory(copy)) throw;
  }
}

}  // namespace

int ScratchDatabaseFormat(const QString& file) {
  constexpr std::size_t HeaderSize = 100;
  constexpr std::size_t UserVersionOffset = 60;
  static const std::string Magic("SQLite format 3", 16);
  std::ifstream stream(pathOf(file), std::ios::binary);
  std::string header(HeaderSize, '\0');
  if (!stream.read(header.data(), static_cast<std::streamsize>(HeaderSize))) return -1;
  if (header.compare(0, Magic.size(), Magic) != 0) return -1;
  // SQLite stores the number big-endian.
  std::uint32_t version = 0;
  for (std::size_t i = 0; i < 4; ++i)
    version = (version << 8) | static_cast<unsigned char>(header[UserVersionOffset + i]);
  return static_cast<int>(version & 0x7fffffffU);
}

ProgramFolderChoice ChooseProgramFolder(const QString& executableFolder, const QString& dataHome,
                                        const QString& sharedInstallFolder) {
  if (mayWrite(executableFolder) && !isSharedInstall(executableFolder, sharedInstallFolder))
    return {executableFolder, QString()};
  if (dataHome.isEmpty())
    return {executableFolder,
            QStringLiteral("There is no folder for your working copy of the program's files: neither XDG_DATA_HOME "
                           "nor HOME is set.")};
  const QString copy = dataHome + QLatin1Char('/') + WorkingCopyName;
  try {
    if (!fs::is_directory(pathOf(copy))) makeWorkingCopy(pathOf(executableFolder), pathOf(copy));
    bringUpToDate(pathOf(executableFolder), pathOf(copy));
    return {copy, QString()};
  } catch (const fs::filesystem_error& error) {
    return {executableFolder, QStringLiteral("Cannot make your working copy of the program's files in '%1': %2 (%3).")
                                  .arg(copy, QString::fromStdString(error.code().message()),
                                       textOf(error.path1()))};
  }
}

ProgramFolderChoice ChooseProgramFolder(const QString& executableFolder) {
  return ChooseProgramFolder(executableFolder, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
                             QStringLiteral(ORLINTIDE_SHARED_PROGRAM_FOLDER));
}

}  // namespace orl::Main
