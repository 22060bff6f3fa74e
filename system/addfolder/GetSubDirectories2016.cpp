#include "platform/common/Error.h"
#include "system/addfolder/AddFolder.h"
#include "system/main/ErrorReport.h"
#include "system/main/Main.h"

#include <map>
#include <optional>

namespace orl::AddFolder {
namespace {

// Attribute values of folders the walk leaves alone: hidden system folders
// and hidden system links.
constexpr int HiddenSystemFolder = fso::Attribute::Hidden | fso::Attribute::System | fso::Attribute::Directory;
constexpr int HiddenSystemLink = HiddenSystemFolder | fso::Attribute::Alias;

// The real folders taken so far, each with the path it was taken under, so
// that a link to a folder already taken (an ancestor above all) is not
// entered or listed again.
using Claims = std::map<fso::FolderIdentity, QString>;

struct Walk {
  fso::FileSystem& fileSystem;
  ui::EventPump& pump;
  ui::MessageBoxes& boxes;
  Claims claims;
};

bool PassesAttributeRule(const fso::Folder& folder) {
  return folder.isRootFolder || (folder.attributes != HiddenSystemFolder && folder.attributes != HiddenSystemLink);
}

bool Claim(Claims& claims, const fso::FolderIdentity& identity, const QString& path) {
  const auto [where, added] = claims.try_emplace(identity, path);
  return added || where->second == path;
}

bool IsFolderForSure(const QString& path, fso::FileSystem& fileSystem) {
  return Main::IsFolder(path, fileSystem).value_or(false);
}

// How one call of the walk meets a failing step. Until it enters a folder it
// reports the failure and goes on. From then on a failure is not reported:
// permission denied (70) and path not found (76) remove the entry being
// walked from the folder list, and the walk goes on with the next entry.
// That handling serves once; a later failure ends the call and goes to its
// caller.
class StepHandling {
 public:
  StepHandling(ErrorReport& report, QStringList& folders) : report_(report), folders_(folders) {}

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
    const qsizetype at = folders_.indexOf(*entry_);
    if (at >= 0) folders_.removeAt(at);
  }

  ErrorReport& report_;
  QStringList& folders_;
  const QString* entry_ = nullptr;
  Mode mode_ = Mode::Report;
};

bool IsUsableName(const QString& name) {
  return name.size() < PathLimit && !HasUnusableCharacters(name) && !name.contains(QLatin1Char('?')) &&
         name != QStringLiteral(".") && name != QStringLiteral("..");
}

void WalkLevel(QStringList& folders, bool recurse, Walk& walk) {
  ErrorReport report(QStringLiteral("Pellitor"), QStringLiteral("AddFolder"), QStringLiteral("GetSubDirectories2016"),
                     walk.boxes);
  StepHandling handling(report, folders);
  // Step 100 is the file system the caller passed in; step 104:
  QStringList subFolders;

  // Step 106 walks the entries as they stand; removals come off the live list.
  const QStringList entries = folders;
  for (const QString& folder : entries) {
    handling.walking(&folder);
    if (!IsFolderForSure(folder, walk.fileSystem)) continue;  // 108
    if (folder.size() >= PathLimit) continue;                 // 110
    std::optional<fso::Folder> opened;
    if (!handling.run(112, [&] { opened = walk.fileSystem.getFolder(folder); })) continue;
    walk.pump.pumpOnce();  // 114
    if (!PassesAttributeRule(*opened) || !Claim(walk.claims, opened->identity, folder)) continue;  // 116
    handling.enteredFolder();
    handling.run(118, [&] {
      for (const QString& name : walk.fileSystem.subFolderNames(folder)) {
        walk.pump.pumpOnce();                                               // 120
        if (!IsUsableName(name)) continue;                                  // 122 to 130
        subFolders << folder + name + QLatin1Char('/');                     // 132 to 134
      }
    });
  }
  handling.walking(nullptr);

  handling.run(150, [&] {
    if (recurse && !subFolders.isEmpty()) WalkLevel(subFolders, true, walk);
  });

  for (const QString& subFolder : subFolders) {                    // 152
    if (!IsFolderForSure(subFolder, walk.fileSystem)) continue;    // 154
    walk.pump.pumpOnce();                                          // 156
    bool keep = false;
    if (!handling.run(158, [&] {
          const fso::Folder opened = walk.fileSystem.getFolder(subFolder);
          keep = PassesAttributeRule(opened) && Claim(walk.claims, opened.identity, subFolder);
        }))
      continue;
    if (keep) folders << subFolder;  // 160
  }
}

}  // namespace

void GetSubDirectories2016(QStringList& folders, bool recurse, fso::FileSystem& fileSystem, ui::EventPump& pump,
                           ui::MessageBoxes& boxes) {
  Walk walk{fileSystem, pump, boxes, {}};
  WalkLevel(folders, recurse, walk);
}

}  // namespace orl::AddFolder
