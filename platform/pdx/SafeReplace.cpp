#include "platform/pdx/SafeReplace.h"

#include "platform/pdx/Family.h"
#include "platform/pdx/FileCopy.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string_view>
#include <thread>

namespace orl::pdx {

// An exclusive flock on the folder itself, held for the object's lifetime.
class FolderLock {
 public:
  enum class State { Held, Busy, Unsupported };
  explicit FolderLock(const std::string& folder)
      : descriptor_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~FolderLock() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  State tryLock() {
    if (descriptor_ < 0) return State::Unsupported;
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) == 0) return State::Held;
    return errno == EWOULDBLOCK ? State::Busy : State::Unsupported;
  }

 private:
  int descriptor_;
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

// Reads a journal written by journalText; throws when it is not whole.
Journal readJournal(FileOps& files, const std::string& path) {
  const std::string text = files.readSmallFile(path, 1 << 20);
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
  Folder(FileOps& files, std::string folder) : files_(files), folder_(std::move(folder)) {}
  std::string path(const std::string& name) const { return joinPath(folder_, name); }
  bool has(const std::string& name) { return files_.exists(path(name)); }
  void rename(const std::string& from, const std::string& to) { files_.rename(path(from), path(to)); }
  void remove(const std::string& name) { files_.remove(path(name)); }
  void sync() { files_.syncFolder(folder_); }
  std::vector<std::string> names() { return files_.list(folder_); }
  FileOps& files() { return files_; }

 private:
  FileOps& files_;
  std::string folder_;
};

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Step 3, from wherever an earlier attempt stopped.
void moveForward(Folder& folder, const Journal& journal) {
  for (const auto& name : journal.oldMembers)
    if (!folder.has(AsidePrefix + name) && folder.has(name)) folder.rename(name, AsidePrefix + name);
  for (const auto& name : journal.newMembers)
    if (folder.has(StagedPrefix + name)) folder.rename(StagedPrefix + name, name);
  for (const auto& name : journal.newMembers)
    if (!folder.has(name))
      throw Error("The new table file \"" + folder.path(name) + "\" is missing; the old one is kept as \"" +
                  folder.path(AsidePrefix + name) + "\"");
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
    copyWholeFile(folder.files(), folder.path(AsidePrefix + name), folder.path(copy));
    folder.files().copyAccess(folder.path(AsidePrefix + name), folder.path(copy));
    folder.rename(copy, kept);
    folder.files().syncFolder(folder.path(keepIn));
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
      if (!journal.keepIn.empty() && folder.has(journal.keepIn)) folder.files().syncFolder(folder.path(journal.keepIn));
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

// Each new member gets the permissions, owner and group of the old member
// of its kind, or of the old table file, so that a shared or private table
// stays as shared or as private as it was.
void keepAccess(Folder& folder, const Journal& journal) {
  for (const auto& name : journal.newMembers) {
    const std::string* sameKind = nullptr;
    const std::string* table = nullptr;
    for (const auto& old : journal.oldMembers) {
      if (sameNameButCase(extensionOf(old), extensionOf(name))) sameKind = &old;
      if (sameNameButCase(extensionOf(old), ".db")) table = &old;
    }
    if (const std::string* like = sameKind ? sameKind : table)
      folder.files().copyAccess(folder.path(*like), folder.path(StagedPrefix + name));
  }
}

// A folder below the table's folder, named without ".." or an empty step.
bool isKeepFolder(const std::string& path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return false;
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

// What recover() does, with the folder's lock held (or not to be had).
Recovery recoverLocked(FileOps& files, const std::string& folder, const std::string& tableName) {
  Folder dir(files, folder);
  const std::string stem = stemOf(tableName);
  // A journal names files of this table only; anything else means it was tampered with.
  const auto readJournalOf = [&](const std::string& name) {
    Journal journal = readJournal(files, dir.path(name));
    for (const auto* members : {&journal.oldMembers, &journal.newMembers})
      for (const auto& member : *members)
        if (member.find('/') != std::string::npos || !sameMember(member, stem))
          throw Error("The replacement journal \"" + dir.path(name) + "\" names \"" + member +
                      "\", not a file of this table; the table's files are left as they are");
    if (!journal.keepIn.empty() && !isKeepFolder(journal.keepIn))
      throw Error("The replacement journal \"" + dir.path(name) + "\" keeps the old files in \"" + journal.keepIn +
                  "\", outside the table's folder; the table's files are left as they are");
    return journal;
  };

  if (const auto done = journalsFor(dir, DonePrefix, tableName); !done.empty()) {
    const Journal journal = readJournalOf(done.front());
    const auto left = removeAside(dir, journal, done.front());
    if (!left.empty()) throw Error("Cannot remove the old table file \"" + left.front() + "\"");
    return Recovery::CleanedUp;
  }
  if (const auto journals = journalsFor(dir, JournalPrefix, tableName); !journals.empty()) {
    const Journal journal = readJournalOf(journals.front());
    moveForward(dir, journal);
    const std::string donePath = DonePrefix + journals.front().substr(JournalPrefix.size());
    dir.rename(journals.front(), donePath);
    dir.sync();
    const auto left = removeAside(dir, journal, donePath);
    if (!left.empty()) throw Error("Cannot remove the old table file \"" + left.front() + "\"");
    return Recovery::RolledForward;
  }

  // No journal: the original family never left its place.
  bool removed = false;
  for (const auto& name : journalsFor(dir, JournalPrefix, tableName, TemporarySuffix)) {
    dir.remove(name);
    removed = true;
  }
  for (const auto& name : namesWithPrefix(dir, StagedPrefix, stem)) {
    dir.remove(name);
    removed = true;
  }
  for (const auto& name : namesWithPrefix(dir, AsidePrefix, stem)) {
    const std::string original = name.substr(AsidePrefix.size());
    if (dir.has(original))
      throw Error("Both \"" + dir.path(original) + "\" and an older copy \"" + dir.path(name) +
                  "\" exist; they are left for you to compare");
    dir.rename(name, original);
    removed = true;
  }
  if (removed) dir.sync();
  return removed ? Recovery::RolledBack : Recovery::NothingLeft;
}

}  // namespace

Recovery FamilyReplacement::recover(FileOps& files, const std::string& folder, const std::string& tableName) {
  checkName(tableName);
  Folder dir(files, folder);
  if (!hasLeftovers(dir, tableName)) return Recovery::NothingLeft;
  FolderLock lock(folder);
  if (lock.tryLock() == FolderLock::State::Busy) return Recovery::InProgress;
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
  FolderLock lock(folder);
  if (lock.tryLock() == FolderLock::State::Busy) return failures;
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
      lock_(std::make_unique<FolderLock>(folder_)) {
  checkName(tableName_);
  // Another process's recovery holds the lock for moments; another
  // replacement for as long as it writes and checks its table.
  constexpr auto Patience = std::chrono::seconds(5);
  const auto giveUp = std::chrono::steady_clock::now() + Patience;
  while (lock_->tryLock() == FolderLock::State::Busy) {
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
  keepAccess(dir, journal);
  if (keeper) {
    SwapPlan plan{journal.oldMembers, journal.newMembers, {}};
    for (const auto& name : journal.newMembers) plan.stagedPaths.push_back(dir.path(StagedPrefix + name));
    journal.keepIn = keeper->prepare(plan);
    if (!isKeepFolder(journal.keepIn)) {
      keeper->discard();
      throw Error("\"" + journal.keepIn + "\" is not a folder below \"" + folder_ + "\" to keep the old table in");
    }
  }
  const auto discardKept = [&] {
    if (keeper) keeper->discard();
  };

  const std::string journalName = JournalPrefix + tableName_;
  const std::string temporary = journalName + TemporarySuffix;
  {
    const std::string text = journalText(journal);
    auto file = files_.createExclusive(dir.path(temporary));
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
    moveForward(dir, journal);
  } catch (...) {
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
    leftovers_.push_back(dir.path(journalName));
    return;
  }
  leftovers_ = removeAside(dir, journal, doneName);
}

}  // namespace orl::pdx
