#include "platform/pdx/SafeReplace.h"

#include "platform/pdx/Family.h"
#include "platform/pdx/FileCopy.h"
#include "platform/pdx/Header.h"
#include "platform/pdx/HistoryPlace.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <string_view>
#include <thread>

namespace orl::pdx {

// An exclusive lock on the folder itself, held for the object's lifetime.
class FolderLock {
 public:
  FolderLock(FileOps& files, const std::string& folder) : folder_(files.openFolder(folder)) {}
  LockState tryLock() { return folder_->tryLock(); }

 private:
  std::unique_ptr<FolderHandle> folder_;
};

namespace {

const std::string StagedPrefix = ".orlintide-new.";
const std::string AsidePrefix = ".orlintide-old.";
const std::string JournalPrefix = ".orlintide-replace.";
const std::string DonePrefix = ".orlintide-done.";
const std::string CopyPrefix = ".orlintide-copy.";  // inside the folder that keeps the old members
const std::string TemporarySuffix = ".tmp";
const std::string JournalTitle = "orlintide family replacement 1";

std::string stemOf(const std::string& name) {
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

bool sameMember(const std::string& name, const std::string& stem) { return isFamilyMember(stem, name); }

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.size() > prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

struct Journal {
  std::vector<std::string> oldMembers;
  std::vector<std::string> newMembers;
  std::string keepIn;  // relative to the table's folder; empty: the old members are removed
};

std::string journalText(const Journal& journal) {
  std::string text = JournalTitle + "\n";
  for (const auto& name : journal.oldMembers) text += "old " + name + "\n";
  for (const auto& name : journal.newMembers) text += "new " + name + "\n";
  if (!journal.keepIn.empty()) text += "keep " + journal.keepIn + "\n";
  return text + "end\n";
}

class Folder;

// Reads a journal written by journalText; throws when it is not whole.
Journal readJournal(Folder& folder, const std::string& name);

Journal parseJournal(const std::string& text, const std::string& path) {
  Journal journal;
  std::size_t at = 0;
  bool titled = false;
  bool ended = false;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    if (end == std::string::npos) break;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!titled) {
      titled = line == JournalTitle;
      if (!titled) break;
    } else if (line == "end") {
      ended = at == text.size();
      break;
    } else if (line.compare(0, 4, "old ") == 0 && line.size() > 4) {
      journal.oldMembers.push_back(line.substr(4));
    } else if (line.compare(0, 4, "new ") == 0 && line.size() > 4) {
      journal.newMembers.push_back(line.substr(4));
    } else if (line.compare(0, 5, "keep ") == 0 && line.size() > 5 && journal.keepIn.empty()) {
      journal.keepIn = line.substr(5);
    } else {
      break;
    }
  }
  if (!ended)
    throw Error("The replacement journal \"" + path + "\" is damaged; the table's files are left as they are");
  return journal;
}

class Folder {
 public:
  Folder(FileOps& files, const std::string& folder) : handle_(files.openFolder(folder)) {}
  std::string path(const std::string& name) const { return joinPath(handle_->path(), name); }
  bool has(const std::string& name) { return handle_->status(name).has_value(); }
  std::optional<FileStatus> status(const std::string& name) { return handle_->status(name); }
  void rename(const std::string& from, const std::string& to) { handle_->rename(from, to); }
  void remove(const std::string& name) { handle_->remove(name); }
  void sync(const std::string& subfolder = {}) { handle_->sync(subfolder); }
  std::vector<std::string> names() { return handle_->list(); }
  FolderHandle& handle() { return *handle_; }

 private:
  std::unique_ptr<FolderHandle> handle_;
};

Journal readJournal(Folder& folder, const std::string& name) {
  return parseJournal(folder.handle().read(name, 1 << 20, true), folder.path(name));
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Where each staged member was when the commit checked it, so that
// nothing put in its place afterwards is moved in.
using Identities = std::map<std::string, FileStatus>;

// Step 3, from wherever an earlier attempt stopped.
void moveForward(Folder& folder, const Journal& journal, const Identities* staged = nullptr) {
  for (const auto& name : journal.oldMembers) {
    if (folder.has(AsidePrefix + name)) continue;
    const auto status = folder.status(name);
    // Another program (where folders cannot be locked) may have put this
    // commit's own new member in place already.
    const bool oursInPlace = staged && status && staged->count(name) && status->sameFile(staged->at(name));
    if (status && !oursInPlace) folder.rename(name, AsidePrefix + name);
  }
  for (const auto& name : journal.newMembers) {
    const auto status = folder.status(StagedPrefix + name);
    if (!status) continue;
    const auto isStaged = [&](const std::optional<FileStatus>& found) {
      return !staged || (found && staged->count(name) && found->sameFile(staged->at(name)));
    };
    const auto swapped = [&] {
      return Error("The new table file \"" + folder.path(StagedPrefix + name) +
                   "\" was replaced by another file while it was being put in place");
    };
    if (!isStaged(status)) throw swapped();
    folder.rename(StagedPrefix + name, name);
    // Whoever may write the folder could swap it between the look and the rename.
    if (!isStaged(folder.status(name))) throw swapped();
  }
  for (const auto& name : journal.newMembers) {
    if (folder.has(name)) continue;
    std::string message = "The new file " + name + " of the table in \"" + folder.handle().path() + "\" is missing";
    // A commit moves the old family back after this; a recovery leaves it aside.
    if (!staged && folder.has(AsidePrefix + name))
      message += "; the old one is kept as \"" + folder.path(AsidePrefix + name) + "\"";
    throw Error(message);
  }
  folder.sync();
}

// Moves an old member set aside into the folder that keeps it, or, where a
// rename cannot (another file system, no right to move it there), copies it
// there under a working name that it gives up only once whole and flushed.
// False when neither works; the aside file stays for the caller.
bool keepAside(Folder& folder, const std::string& keepIn, const std::string& name) {
  const std::string kept = keepIn + "/" + name;
  const std::string copy = keepIn + "/" + CopyPrefix + name;
  if (folder.has(kept)) return true;  // moved or copied before an interruption
  try {
    if (folder.has(copy)) folder.remove(copy);  // an interrupted copy
    folder.rename(AsidePrefix + name, kept);
    return true;
  } catch (const Error&) {
    // copied below
  }
  try {
    const auto original = folder.status(AsidePrefix + name);
    if (!original || !original->regular) return false;
    copyInto(folder.path(AsidePrefix + name), *folder.handle().createExclusive(copy));
    // Whoever may write the folder could swap the file while it was read.
    const auto after = folder.status(AsidePrefix + name);
    if (!after || !after->sameFile(*original)) throw Error("The old table file changed while it was copied");
    folder.handle().copyAccess(AsidePrefix + name, copy);
    folder.rename(copy, kept);
    folder.sync(keepIn);
    return true;
  } catch (const Error&) {
    try {
      if (folder.has(copy)) folder.remove(copy);
    } catch (const Error&) {
      // The entry stays incomplete, so never offered, and the next prune removes it.
    }
    return false;
  }
}

// Step 4: the new family is in place; what was set aside goes, into the
// folder that keeps it where there is one. A member that can be neither
// moved nor copied there is removed: the entry it leaves incomplete is
// never offered.
std::vector<std::string> removeAside(Folder& folder, const Journal& journal, const std::string& donePath) {
  std::vector<std::string> left;
  for (const auto& name : journal.oldMembers) {
    try {
      if (!folder.has(AsidePrefix + name)) continue;
      if (!journal.keepIn.empty() && keepAside(folder, journal.keepIn, name) && !folder.has(AsidePrefix + name))
        continue;
      folder.remove(AsidePrefix + name);
    } catch (const Error&) {
      left.push_back(folder.path(AsidePrefix + name));
    }
  }
  if (left.empty()) {
    try {
      if (!journal.keepIn.empty() && folder.has(journal.keepIn)) folder.sync(journal.keepIn);
      folder.sync();  // the journal goes only once the disk knows its files are gone
      folder.remove(donePath);
      folder.sync();
    } catch (const Error&) {
      left.push_back(folder.path(donePath));
    }
  }
  return left;
}

// Undoes step 3 after a failure within it: the new members go back to
// their staged names, the old ones to theirs.
void moveBack(Folder& folder, const Journal& journal) {
  for (const auto& name : journal.newMembers) {
    const bool newInPlace = folder.has(name) && (!contains(journal.oldMembers, name) || folder.has(AsidePrefix + name));
    if (newInPlace && !folder.has(StagedPrefix + name)) folder.rename(name, StagedPrefix + name);
  }
  for (const auto& name : journal.oldMembers)
    if (folder.has(AsidePrefix + name) && !folder.has(name)) folder.rename(AsidePrefix + name, name);
  folder.sync();
}

// Whether another program moved the journal on: then what it left stays,
// except that a member of this commit's new family that this commit set
// aside by mistake goes back to its name. True when the new family is in
// place, the very files this commit staged; throws otherwise.
bool takenOver(Folder& folder, const Journal& journal, const std::string& journalName, const Identities& staged) {
  try {
    if (folder.has(journalName)) return false;
    bool inPlace = true;
    for (const auto& name : journal.newMembers) {
      const auto aside = folder.status(AsidePrefix + name);
      if (aside && staged.count(name) && aside->sameFile(staged.at(name)) && !folder.has(name))
        folder.rename(AsidePrefix + name, name);
      const auto status = folder.status(name);
      inPlace = inPlace && status && staged.count(name) && status->sameFile(staged.at(name));
    }
    folder.sync();
    if (inPlace) return true;
  } catch (const Error&) {
    // Reported below.
  }
  throw Error("Another program took over the replacement of the table in \"" + folder.handle().path() +
              "\" while it ran; the table's files are left as that program left them");
}

std::vector<std::string> namesWithPrefix(Folder& folder, const std::string& prefix, const std::string& stem) {
  std::vector<std::string> found;
  for (const auto& name : folder.names())
    if (startsWith(name, prefix) && sameMember(name.substr(prefix.size()), stem)) found.push_back(name);
  return found;
}

std::vector<std::string> journalsFor(Folder& folder, const std::string& prefix, const std::string& tableName,
                                     const std::string& suffix = {}) {
  std::vector<std::string> found;
  for (const auto& name : folder.names()) {
    if (!startsWith(name, prefix) || name.size() < prefix.size() + suffix.size()) continue;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string table = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    if (sameNameButCase(table, tableName)) found.push_back(name);
  }
  return found;
}

std::string extensionOf(const std::string& name) {
  const auto dot = name.find_last_of('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

// Each new member gets the permissions, owner, group and extended
// attributes of the old member of its kind, or of the old table file, so
// that a shared or private table stays as shared or as private as it was.
// Returns which file each staged member is, as the copy found it.
Identities keepAccess(Folder& folder, const Journal& journal) {
  Identities staged;
  for (const auto& name : journal.newMembers) {
    const std::string* sameKind = nullptr;
    const std::string* table = nullptr;
    for (const auto& old : journal.oldMembers) {
      if (sameNameButCase(extensionOf(old), extensionOf(name))) sameKind = &old;
      if (sameNameButCase(extensionOf(old), ".db")) table = &old;
    }
    std::optional<FileStatus> status;
    if (const std::string* like = sameKind ? sameKind : table)
      status = folder.handle().copyAccess(*like, StagedPrefix + name);
    else
      status = folder.status(StagedPrefix + name);
    if (!status || !status->regular || status->links != 1)
      throw Error("The new table file \"" + folder.path(StagedPrefix + name) + "\" is gone or no longer a file");
    staged[name] = *status;
  }
  return staged;
}

// A folder below the table's folder, named without ".." or an empty step,
// or one of this user's own history below their data folder.
bool isKeepFolder(const std::string& path) {
  if (!path.empty() && path.front() == '/') return inPrivateHistory(path);
  if (path.empty() || path.back() == '/') return false;
  std::size_t at = 0;
  while (at <= path.size()) {
    auto end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    const std::string step = path.substr(at, end - at);
    if (step.empty() || step == "." || step == "..") return false;
    at = end + 1;
  }
  return true;
}

void checkName(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\n') != std::string::npos ||
      name.find('\0') != std::string::npos)
    throw Error("\"" + name + "\" is not a table file name that can be replaced safely");
}

}  // namespace

std::vector<std::string> familyOf(FileOps& files, const std::string& folder, const std::string& tableName) {
  const std::string stem = stemOf(tableName);
  std::vector<std::string> family;
  for (const auto& name : files.list(folder))
    if (sameMember(name, stem)) family.push_back(name);
  return family;
}

namespace {

// One look at the folder, since every opening of a table asks.
bool hasLeftovers(Folder& dir, const std::string& tableName) {
  const std::string stem = stemOf(tableName);
  for (const auto& name : dir.names()) {
    for (const std::string* prefix : {&StagedPrefix, &AsidePrefix})
      if (startsWith(name, *prefix) && sameMember(name.substr(prefix->size()), stem)) return true;
    for (const std::string* prefix : {&JournalPrefix, &DonePrefix}) {
      if (!startsWith(name, *prefix)) continue;
      std::string table = name.substr(prefix->size());
      if (table.size() > TemporarySuffix.size() &&
          table.compare(table.size() - TemporarySuffix.size(), TemporarySuffix.size(), TemporarySuffix) == 0)
        table.resize(table.size() - TemporarySuffix.size());
      if (sameNameButCase(table, tableName)) return true;
    }
  }
  return false;
}

// Who may have written this table's working files, and what a recovery
// may trust: the user running this program, or the owner of the table file
// (in place, or set aside by an interrupted replacement). Everything a
// recovery would rename or remove is checked before anything is changed;
// what fails a check is noted, and then nothing is changed at all.
class Trust {
 public:
  Trust(Folder& dir, const std::string& tableName) : dir_(dir), tableName_(tableName) {
    trusted_.push_back(::geteuid());
    std::optional<uid_t> asideOwner;
    for (const auto& name : dir.names()) {
      const bool inPlace = sameNameButCase(name, tableName);
      if (!inPlace && !(startsWith(name, AsidePrefix) && sameNameButCase(name.substr(AsidePrefix.size()), tableName)))
        continue;
      const auto status = dir.status(name);
      if (!status || !status->regular) continue;
      if (inPlace) tableOwner_ = status->owner;
      else asideOwner = status->owner;
    }
    if (!tableOwner_) tableOwner_ = asideOwner;
    if (tableOwner_) trusted_.push_back(*tableOwner_);
  }

  // A journal: a plain file of a trusted owner, with no other name.
  void journal(const std::string& name) { check(name, trusted_, true); }

  // A staged or set-aside copy of the member `member`: it may also belong
  // to the owner of that member, whose ownership a commit keeps.
  void memberCopy(const std::string& name, const std::string& member, bool singleLink) {
    std::vector<uid_t> owners = trusted_;
    for (const std::string& copy : {member, AsidePrefix + member}) {
      if (copy == name) continue;
      if (const auto status = dir_.status(copy); status && status->regular) owners.push_back(status->owner);
    }
    check(name, owners, singleLink);
  }

  // A file that only goes back to its own name, which whoever may write
  // the folder could take anyway: it must not be a link.
  void plainFile(const std::string& name) {
    if (const auto status = dir_.status(name); status && !status->regular) refuse(name, "a link or not a plain file");
  }

  // The new table file, wherever it is now: it must read as a table.
  void newTable(const std::string& name) {
    if (!check(name, trusted_, true)) return;
    try {
      const std::string head = dir_.handle().read(name, 1 << 16, false);
      detail::readHeader(*memorySource(dir_.path(name), std::vector<std::uint8_t>(head.begin(), head.end())));
    } catch (const Error&) {
      refuse(name, "not a table");
    }
  }

  void refuse(const std::string& name, const std::string& why) {
    refused_.push_back("\"" + dir_.path(name) + "\" (" + why + ")");
  }

  // Throws, naming every file that failed a check, when any did.
  void verdict() const {
    if (refused_.empty()) return;
    std::string message = "Files beside the table \"" + dir_.path(tableName_) +
                          "\" were not left there by this program for that table, so they and the table are left as "
                          "they are for you to look at: ";
    for (std::size_t i = 0; i < refused_.size(); ++i) message += (i ? "; " : "") + refused_[i];
    throw Error(message);
  }

 private:
  bool check(const std::string& name, const std::vector<uid_t>& owners, bool singleLink) {
    const auto status = dir_.status(name);
    if (!status) return false;
    if (!status->regular) {
      refuse(name, "a link or not a plain file");
    } else if (std::find(owners.begin(), owners.end(), status->owner) == owners.end()) {
      refuse(name, "owned by another user");
    } else if (singleLink && status->links != 1) {
      refuse(name, "also known by another name");
    } else {
      return true;
    }
    return false;
  }

  Folder& dir_;
  std::string tableName_;
  std::optional<uid_t> tableOwner_;
  std::vector<uid_t> trusted_;
  std::vector<std::string> refused_;
};

// A journal names files of this table only; anything else means it was tampered with.
Journal readJournalOf(Folder& dir, const std::string& name, const std::string& stem) {
  Journal journal = readJournal(dir, name);
  for (const auto* members : {&journal.oldMembers, &journal.newMembers})
    for (const auto& member : *members)
      if (member.find('/') != std::string::npos || !sameMember(member, stem))
        throw Error("The replacement journal \"" + dir.path(name) + "\" names \"" + member +
                    "\", not a file of this table; the table's files are left as they are");
  if (!journal.keepIn.empty() && !isKeepFolder(journal.keepIn))
    throw Error("The replacement journal \"" + dir.path(name) + "\" keeps the old files in \"" + journal.keepIn +
                "\", outside the table's folder; the table's files are left as they are");
  return journal;
}

// Where a new member of an interrupted replacement is now: still staged,
// or already moved in; nothing when it is in neither place.
std::optional<std::string> newMemberNow(Folder& dir, const Journal& journal, const std::string& name) {
  if (dir.has(StagedPrefix + name)) return StagedPrefix + name;
  const bool oldOneInPlace = contains(journal.oldMembers, name) && !dir.has(AsidePrefix + name);
  if (!oldOneInPlace && dir.has(name)) return name;
  return std::nullopt;
}

Recovery finishReplacement(Folder& dir, const std::string& journalName, const std::string& tableName) {
  Trust trust(dir, tableName);
  trust.journal(journalName);
  trust.verdict();
  const Journal journal = readJournalOf(dir, journalName, stemOf(tableName));
  bool hasTable = false;
  for (const auto& name : journal.newMembers) {
    const auto now = newMemberNow(dir, journal, name);
    if (!now)
      throw Error("The replacement journal \"" + dir.path(journalName) + "\" lists the new file " + name +
                  ", which is in the folder neither under its own name nor as a staged file; the table's files are "
                  "left as they are");
    if (sameNameButCase(name, tableName)) {
      hasTable = true;
      trust.newTable(*now);
    } else {
      trust.memberCopy(*now, name, true);
    }
  }
  if (!hasTable) trust.refuse(journalName, "names no new table file");
  for (const auto& name : journal.oldMembers) trust.memberCopy(AsidePrefix + name, name, false);
  trust.verdict();

  moveForward(dir, journal);
  const std::string donePath = DonePrefix + journalName.substr(JournalPrefix.size());
  dir.rename(journalName, donePath);
  dir.sync();
  const auto left = removeAside(dir, journal, donePath);
  if (!left.empty()) throw Error("Cannot remove the old table file \"" + left.front() + "\"");
  return Recovery::RolledForward;
}

Recovery finishCleanup(Folder& dir, const std::string& doneName, const std::string& tableName) {
  Trust trust(dir, tableName);
  trust.journal(doneName);
  trust.verdict();
  const Journal journal = readJournalOf(dir, doneName, stemOf(tableName));
  for (const auto& name : journal.oldMembers) trust.memberCopy(AsidePrefix + name, name, false);
  trust.verdict();
  const auto left = removeAside(dir, journal, doneName);
  if (!left.empty()) throw Error("Cannot remove the old table file \"" + left.front() + "\"");
  return Recovery::CleanedUp;
}

// No journal: the original family never left its place.
Recovery rollBack(Folder& dir, const std::string& tableName) {
  const std::string stem = stemOf(tableName);
  const auto unfinished = journalsFor(dir, JournalPrefix, tableName, TemporarySuffix);
  const auto staged = namesWithPrefix(dir, StagedPrefix, stem);
  const auto aside = namesWithPrefix(dir, AsidePrefix, stem);
  Trust trust(dir, tableName);
  for (const auto& name : unfinished) trust.journal(name);
  for (const auto& name : staged) trust.memberCopy(name, name.substr(StagedPrefix.size()), true);
  for (const auto& name : aside) trust.plainFile(name);
  trust.verdict();

  for (const auto& name : aside) {
    const std::string original = name.substr(AsidePrefix.size());
    if (dir.has(original))
      throw Error("Both \"" + dir.path(original) + "\" and an older copy \"" + dir.path(name) +
                  "\" exist; they are left for you to compare");
  }
  for (const auto& name : unfinished) dir.remove(name);
  for (const auto& name : staged) dir.remove(name);
  for (const auto& name : aside) dir.rename(name, name.substr(AsidePrefix.size()));
  const bool changed = !unfinished.empty() || !staged.empty() || !aside.empty();
  if (changed) dir.sync();
  return changed ? Recovery::RolledBack : Recovery::NothingLeft;
}

// What recover() does, with the folder's lock held (or not to be had).
Recovery recoverLocked(FileOps& files, const std::string& folder, const std::string& tableName) {
  Folder dir(files, folder);
  if (const auto done = journalsFor(dir, DonePrefix, tableName); !done.empty())
    return finishCleanup(dir, done.front(), tableName);
  if (const auto journals = journalsFor(dir, JournalPrefix, tableName); !journals.empty())
    return finishReplacement(dir, journals.front(), tableName);
  return rollBack(dir, tableName);
}

}  // namespace

Recovery FamilyReplacement::recover(FileOps& files, const std::string& folder, const std::string& tableName) {
  checkName(tableName);
  Folder dir(files, folder);
  if (!hasLeftovers(dir, tableName)) return Recovery::NothingLeft;
  FolderLock lock(files, folder);
  if (lock.tryLock() == LockState::Busy) return Recovery::InProgress;
  return recoverLocked(files, folder, tableName);
}

bool FamilyReplacement::isWorkingFile(const std::string& name) {
  for (const std::string* prefix : {&StagedPrefix, &AsidePrefix, &JournalPrefix, &DonePrefix})
    if (startsWith(name, *prefix)) return true;
  return false;
}

std::vector<std::string> FamilyReplacement::recoverFolder(FileOps& files, const std::string& folder) {
  std::vector<std::string> tables;
  for (const auto& name : files.list(folder)) {
    std::string table;
    if (startsWith(name, JournalPrefix) || startsWith(name, DonePrefix)) {
      table = name.substr(startsWith(name, JournalPrefix) ? JournalPrefix.size() : DonePrefix.size());
      if (table.size() > TemporarySuffix.size() &&
          table.compare(table.size() - TemporarySuffix.size(), TemporarySuffix.size(), TemporarySuffix) == 0)
        table.resize(table.size() - TemporarySuffix.size());
    } else if (startsWith(name, StagedPrefix) || startsWith(name, AsidePrefix)) {
      table = stemOf(name.substr(startsWith(name, StagedPrefix) ? StagedPrefix.size() : AsidePrefix.size())) + ".db";
    } else {
      continue;
    }
    bool seen = false;
    for (const auto& known : tables) seen = seen || sameNameButCase(known, table);
    if (!seen) tables.push_back(table);
  }
  std::vector<std::string> failures;
  if (tables.empty()) return failures;
  FolderLock lock(files, folder);
  if (lock.tryLock() == LockState::Busy) return failures;
  for (const auto& table : tables) {
    try {
      checkName(table);
      recoverLocked(files, folder, table);
    } catch (const Error& error) {
      failures.push_back(table + ": " + error.what());
    }
  }
  return failures;
}

FamilyReplacement::FamilyReplacement(FileOps& files, std::string folder, std::string tableName)
    : files_(files), folder_(std::move(folder)), tableName_(std::move(tableName)),
      lock_(std::make_unique<FolderLock>(files_, folder_)) {
  checkName(tableName_);
  // Another process's recovery holds the lock for moments; another
  // replacement for as long as it writes and checks its table.
  constexpr auto Patience = std::chrono::seconds(5);
  const auto giveUp = std::chrono::steady_clock::now() + Patience;
  while (lock_->tryLock() == LockState::Busy) {
    if (std::chrono::steady_clock::now() >= giveUp)
      throw Error("Another program is replacing a table in the folder \"" + folder_ +
                  "\"; nothing was changed. Try again when it has finished.");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  recoverLocked(files_, folder_, tableName_);
}

FamilyReplacement::~FamilyReplacement() {
  if (committed_) return;
  try {
    abandon();
  } catch (const Error&) {
    // The next recover() removes what is left.
  }
}

std::string FamilyReplacement::stagedPath(const std::string& finalName) const {
  checkName(finalName);
  if (!sameMember(finalName, stemOf(tableName_)))
    throw Error("\"" + finalName + "\" is not a file of the table \"" + tableName_ + "\"");
  return joinPath(folder_, StagedPrefix + finalName);
}

std::vector<std::string> FamilyReplacement::stagedMembers() const {
  Folder dir(files_, folder_);
  std::vector<std::string> members;
  for (const auto& name : namesWithPrefix(dir, StagedPrefix, stemOf(tableName_)))
    members.push_back(name.substr(StagedPrefix.size()));
  return members;
}

void FamilyReplacement::abandon() {
  Folder dir(files_, folder_);
  // With a journal left by a commit that could not be undone, the staged
  // files are what recover() finishes the replacement with.
  if (!journalsFor(dir, JournalPrefix, tableName_).empty()) return;
  for (const auto& name : namesWithPrefix(dir, StagedPrefix, stemOf(tableName_))) dir.remove(name);
}

void FamilyReplacement::commit() { commit(familyOf(files_, folder_, tableName_)); }

void FamilyReplacement::commit(const std::vector<std::string>& replaced, AsideKeeper* keeper) {
  if (committed_) throw Error("The table \"" + tableName_ + "\" has been replaced already");
  Folder dir(files_, folder_);
  Journal journal;
  journal.newMembers = stagedMembers();
  bool hasTable = false;
  for (const auto& name : journal.newMembers) hasTable = hasTable || sameNameButCase(name, tableName_);
  if (!hasTable) throw Error("No new table \"" + tableName_ + "\" has been written to replace the old one");
  for (const auto& name : familyOf(files_, folder_, tableName_))
    if (contains(replaced, name)) journal.oldMembers.push_back(name);
  const Identities staged = keepAccess(dir, journal);
  if (keeper) {
    SwapPlan plan{journal.oldMembers, journal.newMembers, {}};
    for (const auto& name : journal.newMembers) plan.stagedPaths.push_back(dir.path(StagedPrefix + name));
    journal.keepIn = keeper->prepare(plan);
    if (!isKeepFolder(journal.keepIn)) {
      keeper->discard();
      throw Error("\"" + journal.keepIn + "\" is not a folder below \"" + folder_ +
                  "\" or of your own history to keep the old table in");
    }
  }
  const auto discardKept = [&] {
    if (keeper) keeper->discard();
  };

  const std::string journalName = JournalPrefix + tableName_;
  const std::string temporary = journalName + TemporarySuffix;
  {
    const std::string text = journalText(journal);
    auto file = dir.handle().createExclusive(temporary);
    try {
      file->write(0, text.data(), text.size());
      file->flush();
      file->close();
    } catch (...) {
      file.reset();
      try {
        dir.remove(temporary);
      } catch (const Error&) {
        // recover() removes a journal that never got its name.
      }
      discardKept();
      throw;
    }
  }
  try {
    dir.sync();  // the staged files, whole, before the journal says they are
    dir.rename(temporary, journalName);
    dir.sync();
  } catch (...) {
    try {
      if (dir.has(journalName)) dir.remove(journalName);
      if (dir.has(temporary)) dir.remove(temporary);
    } catch (const Error&) {
      // Left for recover(): the old family has not moved.
    }
    try {
      if (!dir.has(journalName)) discardKept();
    } catch (const Error&) {
      // An entry left without its files is never offered.
    }
    throw;
  }

  try {
    moveForward(dir, journal, &staged);
  } catch (...) {
    // Without working folder locks another program's recovery may have
    // taken this very replacement over (it moves the journal on): then
    // nothing is moved back, and a new member this commit set aside by
    // mistake goes back to its name.
    if (takenOver(dir, journal, journalName, staged)) {
      committed_ = true;
      return;
    }
    try {
      moveBack(dir, journal);
      dir.remove(journalName);
      dir.sync();
      discardKept();
    } catch (const Error&) {
      // The journal stays; recover() finishes the replacement.
    }
    throw;
  }
  committed_ = true;

  const std::string doneName = DonePrefix + tableName_;
  try {
    dir.rename(journalName, doneName);
  } catch (const Error&) {
    // Gone when another program's recovery took the replacement over.
    if (dir.has(journalName)) leftovers_.push_back(dir.path(journalName));
    return;
  }
  try {
    // Nothing set aside goes before the disk knows the journal says done.
    dir.sync();
  } catch (const Error&) {
    leftovers_.push_back(dir.path(doneName));
    return;
  }
  leftovers_ = removeAside(dir, journal, doneName);
}

}  // namespace orl::pdx
