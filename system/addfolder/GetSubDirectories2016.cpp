#include "platform/common/Error.h"
#include "platform/pdx/WorkingNames.h"
#include "system/addfolder/AddFolder.h"
#include "system/main/ErrorReport.h"
#include "system/main/Main.h"

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace orl::AddFolder {
namespace {

// Attribute values of folders the walk leaves alone: hidden system folders
// and hidden system links.
constexpr int HiddenSystemFolder = fso::Attribute::Hidden | fso::Attribute::System | fso::Attribute::Directory;
constexpr int HiddenSystemLink = HiddenSystemFolder | fso::Attribute::Alias;

// What one walk knows besides its lists: the real folders taken so far,
// each with the path it was taken under, and the real folders above the
// folders it started from. A link to a folder already taken, or to one
// above the start, is neither entered nor listed, so every real folder is
// walked once and nothing outside the chosen folder is.
struct Walk {
  fso::FileSystem& fileSystem;
  ui::EventPump& pump;
  ui::MessageBoxes& boxes;
  std::map<fso::FolderIdentity, QString> claims;
  std::set<fso::FolderIdentity> above;
};

bool IsFolderForSure(const QString& path, fso::FileSystem& fileSystem) {
  return Main::IsFolder(path, fileSystem).value_or(false);
}

// Steps 116 and 158: the attribute rule (the root test only when the
// attributes make it matter, as it costs as much as the path is deep), then
// the walk's claim on the real folder.
bool MayTake(Walk& walk, const QString& path, const fso::Folder& folder) {
  const bool hiddenSystem = folder.attributes == HiddenSystemFolder || folder.attributes == HiddenSystemLink;
  if (hiddenSystem && !walk.fileSystem.isRootFolder(path)) return false;
  if (walk.above.contains(folder.identity)) return false;
  const auto [where, added] = walk.claims.try_emplace(folder.identity, path);
  return added || where->second == path;
}

// The real folders above each starting folder, up to the file system's root.
std::set<fso::FolderIdentity> FoldersAbove(const QStringList& starts, fso::FileSystem& fileSystem) {
  std::set<fso::FolderIdentity> above;
  std::set<fso::FolderIdentity> themselves;
  for (const QString& start : starts) {
    try {
      QString real = fileSystem.realPath(start);
      themselves.insert(fileSystem.getFolder(real).identity);
      while (real.size() > 1) {
        real.truncate(std::max<qsizetype>(real.lastIndexOf(QLatin1Char('/')), 1));
        above.insert(fileSystem.getFolder(real).identity);
      }
    } catch (const Error&) {
      // A start that can't be resolved is not entered either; the walk reports it there.
    }
  }
  for (const fso::FolderIdentity& start : themselves) above.erase(start);
  return above;
}

// How one level of the walk meets a failing step. Until it enters a folder
// it reports the failure and goes on. From then on a failure is not
// reported: permission denied (70) and path not found (76) remove the entry
// being walked from the level's list, and the walk goes on with the next
// entry. That handling serves once; a later failure leaves the level and
// goes to the level above, as a failure of its step 150.
class StepHandling {
 public:
  StepHandling(ErrorReport& report, QStringList& entries) : report_(report), entries_(entries) {}

  // Runs one step; false when it failed and was handled here.
  template <class Body>
  bool run(int line, Body&& body) {
    if (mode_ == Mode::Report) return report_.step(line, body);
    if (mode_ == Mode::Unprotected) {
      body();
      return true;
    }
    try {
      body();
      return true;
    } catch (const Error& error) {
      if (error.number() == ErrorNumber::PermissionDenied || error.number() == ErrorNumber::PathNotFound)
        dropEntry();
    } catch (...) {
      // Any other failure drops nothing; the walk goes on.
    }
    mode_ = Mode::Unprotected;
    return false;
  }

  void enteredFolder() {
    if (mode_ == Mode::Report) mode_ = Mode::Drop;
  }

  // The entry a permission or path failure removes; none outside the entry loop.
  void walking(const QString* entry) { entry_ = entry; }

 private:
  enum class Mode { Report, Drop, Unprotected };

  // Steps 142 to 148: the first entry equal to the one walked, letter case counting.
  void dropEntry() {
    if (!entry_) return;
    const qsizetype at = entries_.indexOf(*entry_);
    if (at >= 0) entries_.removeAt(at);
  }

  ErrorReport& report_;
  QStringList& entries_;
  const QString* entry_ = nullptr;
  Mode mode_ = Mode::Report;
};

// One level of the walk: the folders found one level below the level above.
struct Level {
  explicit Level(QStringList found, Walk& walk)
      : entries(std::move(found)),
        report(QStringLiteral("Pellitor"), QStringLiteral("AddFolder"), QStringLiteral("GetSubDirectories2016"),
               walk.boxes),
        handling(report, entries) {}
  Level(const Level&) = delete;
  Level& operator=(const Level&) = delete;

  QStringList entries;
  ErrorReport report;
  StepHandling handling;
};

// Steps 106 to 148 over one level: enters each of its folders and returns
// their sub-folders, in order. A folder that can't be listed leaves the level.
QStringList EnterLevel(Level& level, Walk& walk) {
  QStringList subFolders;
  const QStringList entries = level.entries;
  for (const QString& folder : entries) {
    level.handling.walking(&folder);
    if (!IsFolderForSure(folder, walk.fileSystem)) continue;  // 108
    if (folder.size() >= PathLimit) continue;                 // 110
    std::optional<fso::Folder> opened;
    if (!level.handling.run(112, [&] { opened = walk.fileSystem.getFolder(folder); })) continue;
    walk.pump.pumpOnce();                                   // 114
    if (!MayTake(walk, folder, *opened)) continue;          // 116
    level.handling.enteredFolder();
    level.handling.run(118, [&] {
      for (const QString& name : walk.fileSystem.subFolderNames(folder)) {
        walk.pump.pumpOnce();                                                               // 120
        if (name.size() >= PathLimit || HasUnusableCharacters(name) || name.contains(QLatin1Char('?')) ||
            name == QStringLiteral(".") || name == QStringLiteral(".."))
          continue;                                                                         // 122 to 130
        // The history and other working folders hold copies of tables, never tables to list.
        if (pdx::isWorkingName(name.toStdString())) continue;
        subFolders << folder + name + QLatin1Char('/');                                     // 132 to 134
      }
    });
  }
  level.handling.walking(nullptr);
  return subFolders;
}

// Steps 152 to 160: the sub-folders that are folders and pass the rules,
// in order. Each is opened here once; entering it later asks no more of
// the file system than its listing.
QStringList TakeSubFolders(const QStringList& subFolders, Level& parent, Walk& walk) {
  QStringList taken;
  for (const QString& subFolder : subFolders) {
    if (!IsFolderForSure(subFolder, walk.fileSystem)) continue;  // 154
    walk.pump.pumpOnce();                                        // 156
    bool keep = false;
    if (!parent.handling.run(158, [&] { keep = MayTake(walk, subFolder, walk.fileSystem.getFolder(subFolder)); }))
      continue;
    if (keep) taken << subFolder;  // 160
  }
  return taken;
}

}  // namespace

// The walk goes level by level, so that each folder is opened, tested and
// listed once however deep it lies: the cost grows with the number of
// folders, not with folders times depth. The result is the breadth-first
// order a walk that recursed into each level would give: the entries, then
// every folder one level down, two levels down, and so on.
void GetSubDirectories2016(QStringList& folders, bool recurse, fso::FileSystem& fileSystem, ui::EventPump& pump,
                           ui::MessageBoxes& boxes) {
  Walk walk{fileSystem, pump, boxes, {}, FoldersAbove(folders, fileSystem)};
  // The levels, the caller's list first, each kept until the walk ends, so
  // that a failure can be passed up the way it came down.
  std::vector<std::unique_ptr<Level>> levels;
  levels.push_back(std::make_unique<Level>(folders, walk));
  // How long the result was after each level had been added; the
  // caller's own entries are not part of it.
  std::vector<qsizetype> resultEnds;
  QStringList result;

  for (int depth = 0;; ++depth) {
    Level& level = *levels[depth];
    QStringList taken;
    try {
      taken = TakeSubFolders(EnterLevel(level, walk), level, walk);
    } catch (...) {
      // A failure that left this level goes up until a level absorbs it at
      // its step 150; that level still adds the level below it, and the walk ends.
      std::exception_ptr failure = std::current_exception();
      int absorbing = depth - 1;
      for (; absorbing >= 0; --absorbing) {
        try {
          levels[absorbing]->handling.run(150, [&] { std::rethrow_exception(failure); });
          break;
        } catch (...) {
          failure = std::current_exception();
        }
      }
      if (absorbing < 0) {
        folders = levels[0]->entries;
        std::rethrow_exception(failure);
      }
      if (absorbing + 1 == depth)
        result += level.entries;
      else
        result.resize(resultEnds[absorbing + 1]);
      break;
    }
    if (depth > 0) result += level.entries;
    resultEnds.push_back(result.size());
    if (taken.isEmpty()) break;
    if (!recurse) {
      result += taken;
      break;
    }
    levels.push_back(std::make_unique<Level>(taken, walk));
  }
  folders = levels[0]->entries + result;
}

}  // namespace orl::AddFolder
