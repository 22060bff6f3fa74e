#include "platform/pdx/History.h"

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/FileCopy.h"
#include "platform/pdx/HistoryPlace.h"
#include "platform/pdx/Sha256.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <future>
#include <optional>

namespace orl::pdx {

namespace {

const std::string RecordName = "entry.txt";
const std::string RecordTitle = "orlintide history entry 1";
constexpr std::size_t RecordLimit = 1 << 20;
constexpr std::size_t SequenceDigits = 6;

bool isSequence(const std::string& name) {
  return name.size() == SequenceDigits && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string sequenceName(unsigned long number) {
  char text[16];
  std::snprintf(text, sizeof text, "%06lu", number);
  return text;
}

bool hasName(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

const FileSum* findSum(const std::vector<FileSum>& sums, const std::string& name) {
  for (const auto& sum : sums)
    if (sum.name == name) return &sum;
  return nullptr;
}

bool sameFamily(std::vector<FileSum> a, std::vector<FileSum> b) {
  const auto byName = [](const FileSum& x, const FileSum& y) { return x.name < y.name; };
  std::sort(a.begin(), a.end(), byName);
  std::sort(b.begin(), b.end(), byName);
  return a == b;
}

FileSum sumOf(const std::string& path, const std::string& name) {
  const auto source = openFileSource(path);
  return FileSum{name, source->size(), sha256Of(*source)};
}

// The files' sums, each hashed on a thread of its own: a run's old and new
// table files are the bulk of what its history entry costs it.
std::vector<FileSum> sumsOf(const std::vector<std::pair<std::string, std::string>>& pathsAndNames) {
  std::vector<std::future<FileSum>> pending;
  for (const auto& [path, name] : pathsAndNames)
    pending.push_back(std::async(std::launch::async, sumOf, path, name));
  std::vector<FileSum> sums;
  for (auto& sum : pending) sums.push_back(sum.get());
  return sums;
}

bool oneLine(const std::string& text) { return text.find('\n') == std::string::npos; }

std::string recordText(const ChangeFacts& facts, const std::vector<FileSum>& before, const std::vector<FileSum>& after,
                       const std::vector<std::string>& kept) {
  std::string text = RecordTitle + "\n";
  text += "kind " + facts.kind + "\n";
  text += "when " + facts.when + "\n";
  text += "field " + facts.field + "\n";
  text += "case " + facts.caseName + "\n";
  text += "rows " + std::to_string(facts.rows) + "\n";
  for (const auto& sum : before) text += "before " + std::to_string(sum.size) + " " + sum.sha256 + " " + sum.name + "\n";
  for (const auto& sum : after) text += "after " + std::to_string(sum.size) + " " + sum.sha256 + " " + sum.name + "\n";
  for (const auto& name : kept) text += "kept " + name + "\n";
  return text + "end\n";
}

std::optional<FileSum> parseSum(const std::string& rest) {
  const auto space = rest.find(' ');
  if (space == std::string::npos) return std::nullopt;
  const auto second = rest.find(' ', space + 1);
  if (second == std::string::npos || second + 1 >= rest.size()) return std::nullopt;
  FileSum sum;
  try {
    std::size_t used = 0;
    sum.size = std::stoull(rest.substr(0, space), &used);
    if (used != space) return std::nullopt;
  } catch (const std::exception&) {
    return std::nullopt;
  }
  sum.sha256 = rest.substr(space + 1, second - space - 1);
  sum.name = rest.substr(second + 1);
  if (sum.sha256.size() != 64 || sum.name.find('/') != std::string::npos) return std::nullopt;
  return sum;
}

// Reads an entry's record; nothing when it is not whole.
std::optional<HistoryEntry> readRecord(const std::string& text) {
  HistoryEntry entry;
  std::size_t at = 0;
  bool titled = false;
  while (at < text.size()) {
    const auto end = text.find('\n', at);
    if (end == std::string::npos) return std::nullopt;
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const auto space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (!titled) {
      if (line != RecordTitle) return std::nullopt;
      titled = true;
    } else if (line == "end") {
      return at == text.size() ? std::optional(entry) : std::nullopt;
    } else if (key == "kind") {
      entry.facts.kind = rest;
    } else if (key == "when") {
      entry.facts.when = rest;
    } else if (key == "field") {
      entry.facts.field = rest;
    } else if (key == "case") {
      entry.facts.caseName = rest;
    } else if (key == "rows") {
      try {
        entry.facts.rows = std::stoull(rest);
      } catch (const std::exception&) {
        return std::nullopt;
      }
    } else if (key == "before" || key == "after") {
      const auto sum = parseSum(rest);
      if (!sum) return std::nullopt;
      (key == "before" ? entry.before : entry.after).push_back(*sum);
    } else if (key == "kept" && !rest.empty() && rest.find('/') == std::string::npos) {
      entry.kept.push_back(rest);
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

void writeWhole(FileOps& files, const std::string& path, const std::string& text) {
  auto file = files.createExclusive(path);
  file->write(0, text.data(), text.size());
  file->flush();
  file->close();
}

// Makes a folder of the history that neither the group nor others may
// write in, whatever the umask: none other is trusted (HistoryPlace.h).
void makeHistoryFolder(FileOps& files, const std::string& path) {
  files.makeFolder(path);
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) throw FileOpError(FileOp::MakeFolder, path, errno);
  if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0 &&
      ::chmod(path.c_str(), info.st_mode & 07777 & ~(S_IWGRP | S_IWOTH)) != 0)
    throw FileOpError(FileOp::MakeFolder, path, errno);
}

// Makes `path` and the folders above it that are missing, each for this user alone.
void makeHistoryFolders(FileOps& files, const std::string& path) {
  if (path.empty() || path == "/" || files.exists(path)) return;
  makeHistoryFolders(files, folderOf(path));
  makeHistoryFolder(files, path);
}

void removeFolderWithFiles(FileOps& files, const std::string& path) {
  for (const auto& name : files.list(path)) files.remove(joinPath(path, name));
  files.removeFolder(path);
}

// The table's folder in a history root, matched without regard to letter
// case as table names are.
std::optional<std::string> tableFolderIn(FileOps& files, const std::string& root, const std::string& tableName) {
  for (const auto& name : files.list(root))
    if (sameNameButCase(name, tableName)) return joinPath(root, name);
  return std::nullopt;
}

// The folder of this user's entries of the table: in the first trusted
// root that has one, so that entries made anywhere else are never read.
std::optional<std::string> findTableFolder(FileOps& files, const std::string& folder, const std::string& tableName) {
  for (const auto& root : historyRootsOf(folder)) {
    if (!trustedHistoryFolder(root)) continue;
    const auto found = tableFolderIn(files, root, tableName);
    if (found && trustedHistoryFolder(*found)) return found;
  }
  return std::nullopt;
}

// The root a new entry goes into: the one that holds the table's entries,
// or the first that is trusted or can be made so.
std::string rootForNewEntry(FileOps& files, const std::string& folder, const std::string& tableName) {
  if (const auto found = findTableFolder(files, folder, tableName)) return folderOf(*found);
  const auto roots = historyRootsOf(folder);
  for (std::size_t i = 0; i < roots.size(); ++i) {
    try {
      if (!files.exists(roots[i]) && !trustedHistoryFolder(roots[i]))
        i + 1 == roots.size() ? makeHistoryFolders(files, roots[i]) : makeHistoryFolder(files, roots[i]);
    } catch (const Error&) {
      continue;  // taken by another user meanwhile, or no right to make it
    }
    if (trustedHistoryFolder(roots[i])) return roots[i];
  }
  throw NoHistoryPlace("No history entry can be kept for this change (no folder for it that only you may write in: " +
                       roots.front() + " and " + roots.at(1) + " belong to another user, are links or others may "
                       "write in them, and your own data folder is not to be had)");
}

}  // namespace

std::string localTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

namespace {

std::vector<std::pair<std::string, std::string>> familyPaths(FileOps& files, const std::string& folder,
                                                             const std::string& tableName) {
  std::vector<std::pair<std::string, std::string>> paths;
  for (const auto& name : familyOf(files, folder, tableName)) paths.emplace_back(joinPath(folder, name), name);
  return paths;
}

}  // namespace

std::vector<FileSum> familySums(FileOps& files, const std::string& folder, const std::string& tableName) {
  return sumsOf(familyPaths(files, folder, tableName));
}

HistoryKeeper::HistoryKeeper(FileOps& files, std::string folder, std::string tableName, ChangeFacts facts)
    : files_(files), folder_(std::move(folder)), tableName_(std::move(tableName)), facts_(std::move(facts)) {
  if (facts_.when.empty()) facts_.when = localTimeNow();
  for (const std::string* text : {&facts_.kind, &facts_.when, &facts_.field, &facts_.caseName})
    if (!oneLine(*text)) throw Error("A history entry cannot hold a line break in \"" + *text + "\"");
}

std::string HistoryKeeper::prepare(const SwapPlan& plan) {
  const std::string root = rootForNewEntry(files_, folder_, tableName_);
  std::string tableFolder;
  if (const auto found = tableFolderIn(files_, root, tableName_)) {
    tableFolder = *found;
  } else {
    tableFolder = joinPath(root, tableName_);
    makeHistoryFolder(files_, tableFolder);
  }
  unsigned long last = 0;
  for (const auto& name : files_.list(tableFolder))
    if (isSequence(name)) last = std::max(last, std::stoul(name));
  const std::string sequence = sequenceName(last + 1);
  entryPath_ = joinPath(tableFolder, sequence);
  makeHistoryFolder(files_, entryPath_);

  // The old family and the staged members, hashed all at once.
  auto paths = familyPaths(files_, folder_, tableName_);
  const std::size_t oldCount = paths.size();
  for (std::size_t i = 0; i < plan.newMembers.size(); ++i) paths.emplace_back(plan.stagedPaths.at(i), plan.newMembers[i]);
  std::vector<FileSum> sums = sumsOf(paths);
  const std::vector<FileSum> before(sums.begin(), sums.begin() + static_cast<std::ptrdiff_t>(oldCount));
  std::vector<FileSum> after;
  for (const auto& sum : before)
    if (!hasName(plan.oldMembers, sum.name)) after.push_back(sum);
  after.insert(after.end(), sums.begin() + static_cast<std::ptrdiff_t>(oldCount), sums.end());
  writeWhole(files_, joinPath(entryPath_, RecordName), recordText(facts_, before, after, plan.oldMembers));
  files_.syncFolder(entryPath_);
  // The swap reaches a root beside the table through the table's folder.
  if (inPrivateHistory(entryPath_)) return entryPath_;
  return nameOf(root) + "/" + nameOf(tableFolder) + "/" + sequence;
}

void HistoryKeeper::discard() noexcept {
  if (entryPath_.empty()) return;
  try {
    removeFolderWithFiles(files_, entryPath_);
  } catch (const std::exception&) {
    // An entry without its files is never offered, and the next prune removes it.
  }
}

TableHistory::TableHistory(FileOps& files, std::string folder, std::string tableName)
    : files_(files), folder_(std::move(folder)), tableName_(std::move(tableName)) {}

std::string TableHistory::tableFolder() const {
  return findTableFolder(files_, folder_, tableName_).value_or(std::string());
}

std::vector<HistoryEntry> TableHistory::entries() const {
  std::vector<HistoryEntry> found;
  const std::string tables = tableFolder();
  if (tables.empty()) return found;
  std::vector<std::string> names;
  for (const auto& name : files_.list(tables))
    if (isSequence(name)) names.push_back(name);
  std::sort(names.rbegin(), names.rend());
  for (const auto& name : names) {
    const std::string path = joinPath(tables, name);
    const std::string record = joinPath(path, RecordName);
    if (!files_.exists(record)) continue;
    auto entry = readRecord(files_.readSmallFile(record, RecordLimit));
    if (!entry) continue;
    const bool whole = std::all_of(entry->kept.begin(), entry->kept.end(),
                                   [&](const std::string& kept) { return files_.exists(joinPath(path, kept)); });
    if (!whole) continue;
    entry->path = path;
    entry->number = static_cast<int>(found.size()) + 1;
    found.push_back(std::move(*entry));
  }
  return found;
}

std::vector<std::string> TableHistory::untrustedPlaces() const {
  std::vector<std::string> places;
  for (const auto& root : historyRootsOf(folder_)) {
    struct stat info {};
    if (::lstat(root.c_str(), &info) != 0) continue;
    try {
      const auto found = tableFolderIn(files_, root, tableName_);
      if (!trustedHistoryFolder(root) && found) places.push_back(root);
      else if (found && !trustedHistoryFolder(*found)) places.push_back(*found);
    } catch (const Error&) {
      // A folder that cannot be read holds nothing to list.
    }
  }
  return places;
}

namespace {

bool chainUnbroken(const std::vector<HistoryEntry>& entries, int number, const std::vector<FileSum>& current) {
  if (!sameFamily(current, entries.front().after)) return false;
  for (int i = 1; i < number; ++i)
    if (!sameFamily(entries[i].after, entries[i - 1].before)) return false;
  return true;
}

const HistoryEntry& entryNumbered(const std::vector<HistoryEntry>& entries, int number, const std::string& table) {
  if (number < 1 || number > static_cast<int>(entries.size()))
    throw Error("The table \"" + table + "\" has no history entry " + std::to_string(number) + " (it has " +
                std::to_string(entries.size()) + ")");
  return entries[number - 1];
}

}  // namespace

bool TableHistory::unchangedSince(int number) const {
  const auto all = entries();
  entryNumbered(all, number, tableName_);
  return chainUnbroken(all, number, familySums(files_, folder_, tableName_));
}

bool TableHistory::restore(int number, const RestoreOptions& options) {
  FamilyReplacement replacement(files_, folder_, tableName_);
  const auto all = entries();
  const HistoryEntry& target = entryNumbered(all, number, tableName_);
  // In a folder others may write in, another user could plant an entry
  // that puts their table in place of this one.
  std::vector<std::string> used{folderOf(folderOf(target.path)), folderOf(target.path)};
  for (int i = 0; i < number; ++i) used.push_back(all[i].path);
  for (const auto& folder : used)
    if (!trustedHistoryFolder(folder))
      throw Error("The history folder \"" + folder + "\" is a link, belongs to another user or others may write in "
                  "it, so it is not trusted; nothing was restored");
  const std::vector<FileSum> current = familySums(files_, folder_, tableName_);
  if (!options.evenIfChangedOutside && !chainUnbroken(all, number, current))
    throw OutsideChange("The table \"" + tableName_ + "\" was changed by another program after the change of " +
                        target.facts.when + "; nothing was restored");

  // Where each file that differs is to come from: the entry that kept it
  // or a later one, checked by its digest.
  std::vector<std::string> replaced;
  std::vector<std::pair<FileSum, std::string>> toStage;
  for (const auto& wanted : target.before) {
    const FileSum* now = findSum(current, wanted.name);
    if (now && *now == wanted) continue;
    std::string source;
    for (int i = number - 1; i >= 0 && source.empty(); --i) {
      const FileSum* held = findSum(all[i].before, wanted.name);
      if (held && *held == wanted && hasName(all[i].kept, wanted.name)) source = joinPath(all[i].path, wanted.name);
    }
    if (source.empty())
      throw Error("The history of \"" + tableName_ + "\" no longer holds \"" + wanted.name + "\" as it was on " +
                  target.facts.when + "; nothing was restored");
    toStage.emplace_back(wanted, source);
  }
  for (const auto& now : current) {
    const FileSum* wanted = findSum(target.before, now.name);
    if (!wanted || !(*wanted == now)) replaced.push_back(now.name);
  }
  if (replaced.empty() && toStage.empty()) return false;

  // The swap always stages a table file; an unchanged one is staged as it is.
  const auto isTableFile = [&](const std::string& name) { return sameNameButCase(name, tableName_); };
  if (std::none_of(replaced.begin(), replaced.end(), isTableFile)) {
    const auto found = std::find_if(current.begin(), current.end(), [&](const FileSum& sum) { return isTableFile(sum.name); });
    const FileSum* table = found == current.end() ? nullptr : &*found;
    if (!table) throw Error("The table file \"" + joinPath(folder_, tableName_) + "\" is missing; nothing was restored");
    replaced.push_back(table->name);
    toStage.emplace_back(*table, joinPath(folder_, table->name));
  }
  for (const auto& [wanted, source] : toStage) {
    const std::string staged = replacement.stagedPath(wanted.name);
    copyWholeFile(files_, source, staged);
    if (!(sumOf(staged, wanted.name) == wanted))
      throw Error("The copy of \"" + source + "\" does not match the history's record; nothing was restored");
  }

  ChangeFacts facts = target.facts;
  facts.kind = "restore";
  facts.when = options.when;
  if (options.keepEntries > 0) {
    HistoryKeeper keeper(files_, folder_, tableName_, facts);
    replacement.commit(replaced, &keeper);
  } else {
    replacement.commit(replaced);
  }
  try {
    prune(options.keepEntries);
  } catch (const Error&) {
    // The table is restored; older entries stay until the next change prunes them.
  }
  return true;
}

void TableHistory::prune(int keep) {
  const std::string tables = tableFolder();
  if (tables.empty()) return;
  std::vector<std::string> complete;
  for (const auto& entry : entries()) complete.push_back(nameOf(entry.path));
  int kept = 0;
  std::vector<std::string> names = files_.list(tables);
  std::sort(names.rbegin(), names.rend());
  for (const auto& name : names) {
    if (!isSequence(name)) continue;
    if (hasName(complete, name) && kept < keep) {
      ++kept;
      continue;
    }
    removeFolderWithFiles(files_, joinPath(tables, name));
  }
  if (files_.list(tables).empty()) {
    files_.removeFolder(tables);
    const std::string root = folderOf(tables);
    if (files_.list(root).empty()) files_.removeFolder(root);
  }
  files_.syncFolder(folder_);
}

}  // namespace orl::pdx
