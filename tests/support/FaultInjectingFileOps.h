#pragma once

#include "platform/pdx/FileOps.h"

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orl::test {

// The real file system with one planned failure: the n-th operation of a
// kind fails (counting from 1), or writes fail as a full disk once a number
// of bytes has been written, or it and every later one of its kind fail, or
// every operation after the first n fails (a
// process killed at that moment changes nothing more). It counts every
// operation by kind, so a test can first run a procedure to learn how many
// there are, then fail each.
//
// With trackPowerLoss() it also remembers what the disk holds for sure, as
// a power loss would find it: a file's data as of its last flush, and a
// folder's entries as of its last flush (creations, renames and removals
// since then may be lost, each of them or some). powerLoss() then puts the
// folders back in such a state.
class FaultInjectingFileOps final : public pdx::FileOps {
 public:
  explicit FaultInjectingFileOps(pdx::FileOps& real) : real_(real) {}

  void failNth(pdx::FileOp kind, int n, int errorCode = EIO) {
    failKind_ = kind;
    failAt_ = n;
    failError_ = errorCode;
  }
  // The n-th operation of the kind and every later one fail.
  void failFrom(pdx::FileOp kind, int n, int errorCode = EIO) {
    failNth(kind, n, errorCode);
    failOnward_ = true;
  }
  void diskFullAfter(std::uint64_t bytes) { diskFullAfter_ = bytes; }
  void stopAfter(int operations) { stopAfter_ = operations; }
  // Folder locks are not to be had, as on some network file systems.
  void withoutLocks() { withoutLocks_ = true; }
  // Runs `action` before each operation, as another program acting at that
  // moment would; it is told the operation's kind and path.
  void beforeEach(std::function<void(pdx::FileOp, const std::string&)> action) { beforeEach_ = std::move(action); }

  int total() const { return total_; }
  int count(pdx::FileOp kind) const {
    const auto found = counts_.find(kind);
    return found == counts_.end() ? 0 : found->second;
  }
  bool failed() const { return failed_; }

  // From now on, remembers what a power loss would keep of `folder` (its
  // plain files; subfolders are not followed).
  void trackPowerLoss(const std::string& folder) {
    Disk& disk = disks_[folder];
    disk = Disk{};
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.is_regular_file() && !entry.is_symlink()) {
        const int id = nextFile_++;
        durableData_[id] = readAll(entry.path().string());
        disk.entries[entry.path().filename().string()] = id;
      }
  }
  // The folder entry changes not yet flushed, in the order made.
  std::size_t unsyncedChanges(const std::string& folder) const {
    const auto found = disks_.find(folder);
    return found == disks_.end() ? 0 : found->second.pending.size();
  }
  // Cuts the power: each tracked folder holds its flushed entries plus the
  // unflushed changes that `survives` keeps (given each one's place in
  // order), and each file only its flushed data. Tracking starts afresh.
  void powerLoss(const std::function<bool(std::size_t)>& survives) {
    for (auto& [folder, disk] : disks_) {
      std::map<std::string, int> entries = disk.entries;
      for (std::size_t i = 0; i < disk.pending.size(); ++i)
        if (survives(i)) apply(entries, disk.pending[i]);
      for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (!entry.is_directory() || entry.is_symlink()) std::filesystem::remove(entry.path());
      for (const auto& [name, id] : entries)
        std::ofstream(folder + "/" + name, std::ios::binary) << durableData_[id];
      disk.entries = entries;
      disk.pending.clear();
    }
  }

  std::unique_ptr<pdx::OutputFile> createExclusive(const std::string& path) override {
    check(pdx::FileOp::Create, path);
    auto file = real_.createExclusive(path);
    return std::make_unique<File>(*this, std::move(file), noteCreated(pdx::folderOf(path), pdx::nameOf(path)));
  }
  void rename(const std::string& from, const std::string& to) override {
    check(pdx::FileOp::Rename, from, to);
    real_.rename(from, to);
    noteRenamed(pdx::folderOf(from), pdx::nameOf(from), pdx::folderOf(to), pdx::nameOf(to));
  }
  void remove(const std::string& path) override {
    check(pdx::FileOp::Remove, path);
    real_.remove(path);
    noteRemoved(pdx::folderOf(path), pdx::nameOf(path));
  }
  std::vector<std::string> list(const std::string& folder) override {
    check(pdx::FileOp::List, folder);
    return real_.list(folder);
  }
  bool exists(const std::string& path) override {
    check(pdx::FileOp::Exists, path);
    return real_.exists(path);
  }
  void syncFolder(const std::string& folder) override {
    check(pdx::FileOp::SyncFolder, folder);
    real_.syncFolder(folder);
    noteSynced(folder);
  }
  std::string readSmallFile(const std::string& path, std::size_t limit) override {
    check(pdx::FileOp::Read, path);
    return real_.readSmallFile(path, limit);
  }
  void makeFolder(const std::string& path) override {
    check(pdx::FileOp::MakeFolder, path);
    real_.makeFolder(path);
  }
  void removeFolder(const std::string& path) override {
    check(pdx::FileOp::RemoveFolder, path);
    real_.removeFolder(path);
  }
  std::unique_ptr<pdx::FolderHandle> openFolder(const std::string& path) override {
    check(pdx::FileOp::OpenFolder, path);
    return std::make_unique<Folder>(*this, real_.openFolder(path));
  }

 private:
  class File final : public pdx::OutputFile {
   public:
    File(FaultInjectingFileOps& owner, std::unique_ptr<pdx::OutputFile> real, int id)
        : owner_(owner), real_(std::move(real)), id_(id) {}
    const std::string& path() const override { return real_->path(); }
    void write(std::uint64_t offset, const void* data, std::size_t size) override {
      owner_.check(pdx::FileOp::Write, path());
      if (owner_.diskFullAfter_) {
        if (owner_.written_ + size > *owner_.diskFullAfter_) {
          owner_.failed_ = true;
          throw pdx::FileOpError(pdx::FileOp::Write, path(), ENOSPC);
        }
        owner_.written_ += size;
      }
      real_->write(offset, data, size);
    }
    void flush() override {
      owner_.check(pdx::FileOp::Flush, path());
      real_->flush();
      if (id_ >= 0) owner_.durableData_[id_] = readAll(path());
    }
    void close() override {
      owner_.check(pdx::FileOp::Close, path());
      real_->close();
    }

   private:
    FaultInjectingFileOps& owner_;
    std::unique_ptr<pdx::OutputFile> real_;
    int id_;  // the file as a power loss knows it; -1 when its folder is not tracked
  };

  class Folder final : public pdx::FolderHandle {
   public:
    Folder(FaultInjectingFileOps& owner, std::unique_ptr<pdx::FolderHandle> real)
        : owner_(owner), real_(std::move(real)) {}
    const std::string& path() const override { return real_->path(); }
    std::unique_ptr<pdx::OutputFile> createExclusive(const std::string& name) override {
      owner_.check(pdx::FileOp::Create, pdx::joinPath(path(), name));
      auto file = real_->createExclusive(name);
      return std::make_unique<File>(owner_, std::move(file), owner_.noteCreated(path(), name));
    }
    void rename(const std::string& from, const std::string& to) override {
      owner_.check(pdx::FileOp::Rename, pdx::joinPath(path(), from), pdx::joinPath(path(), to));
      real_->rename(from, to);
      owner_.noteRenamed(path(), from, path(), to);
    }
    void remove(const std::string& name) override {
      owner_.check(pdx::FileOp::Remove, pdx::joinPath(path(), name));
      real_->remove(name);
      owner_.noteRemoved(path(), name);
    }
    std::vector<std::string> list() override {
      owner_.check(pdx::FileOp::List, path());
      return real_->list();
    }
    std::optional<pdx::FileStatus> status(const std::string& name) override {
      owner_.check(pdx::FileOp::Exists, pdx::joinPath(path(), name));
      return real_->status(name);
    }
    void sync(const std::string& subfolder) override {
      owner_.check(pdx::FileOp::SyncFolder, pdx::joinPath(path(), subfolder));
      real_->sync(subfolder);
      owner_.noteSynced(subfolder.empty() ? path() : pdx::joinPath(path(), subfolder));
    }
    std::string read(const std::string& name, std::size_t limit, bool whole) override {
      owner_.check(pdx::FileOp::Read, pdx::joinPath(path(), name));
      return real_->read(name, limit, whole);
    }
    pdx::FileStatus copyAccess(const std::string& from, const std::string& to) override {
      owner_.check(pdx::FileOp::CopyAccess, pdx::joinPath(path(), from), pdx::joinPath(path(), to));
      return real_->copyAccess(from, to);
    }
    pdx::LockState tryLock() override {
      owner_.check(pdx::FileOp::Lock, path());
      return owner_.withoutLocks_ ? pdx::LockState::Unsupported : real_->tryLock();
    }

   private:
    FaultInjectingFileOps& owner_;
    std::unique_ptr<pdx::FolderHandle> real_;
  };

  // A change to a folder's entries not yet flushed: a creation (no `from`),
  // a removal (no `to`) or a rename.
  struct Change {
    std::string from;
    std::string to;
    int id = -1;
  };
  struct Disk {
    std::map<std::string, int> entries;  // name -> file, as flushed
    std::vector<Change> pending;
  };

  static std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // A change applies to the entries as far as they allow it: a rename or
  // removal of an entry whose creation was lost finds nothing.
  static void apply(std::map<std::string, int>& entries, const Change& change) {
    if (change.from.empty()) {
      entries.emplace(change.to, change.id);
      return;
    }
    const auto found = entries.find(change.from);
    if (found == entries.end()) return;
    const int id = found->second;
    if (!change.to.empty() && entries.count(change.to)) return;
    entries.erase(found);
    if (!change.to.empty()) entries[change.to] = id;
  }

  Disk* diskOf(const std::string& folder) {
    const auto found = disks_.find(folder);
    return found == disks_.end() ? nullptr : &found->second;
  }
  int noteCreated(const std::string& folder, const std::string& name) {
    Disk* disk = diskOf(folder);
    if (!disk || name.find('/') != std::string::npos) return -1;
    const int id = nextFile_++;
    durableData_[id] = {};
    disk->pending.push_back({{}, name, id});
    return id;
  }
  void noteRenamed(const std::string& fromFolder, const std::string& from, const std::string& toFolder,
                   const std::string& to) {
    if (Disk* disk = diskOf(fromFolder); disk && fromFolder == toFolder && to.find('/') == std::string::npos)
      disk->pending.push_back({from, to});
    else if (disk)
      disk->pending.push_back({from, {}});  // moved out of the folder
  }
  void noteRemoved(const std::string& folder, const std::string& name) {
    if (Disk* disk = diskOf(folder)) disk->pending.push_back({name, {}});
  }
  void noteSynced(const std::string& folder) {
    if (Disk* disk = diskOf(folder)) {
      for (const auto& change : disk->pending) apply(disk->entries, change);
      disk->pending.clear();
    }
  }

  void check(pdx::FileOp kind, const std::string& path, const std::string& other = {}) {
    if (beforeEach_) beforeEach_(kind, path);
    const int n = ++counts_[kind];
    ++total_;
    const bool planned = failKind_ == kind && (failOnward_ ? n >= failAt_ : n == failAt_);
    if (planned || (stopAfter_ && total_ > *stopAfter_)) {
      failed_ = true;
      throw pdx::FileOpError(kind, path, failError_, other);
    }
  }

  pdx::FileOps& real_;
  std::map<pdx::FileOp, int> counts_;
  std::optional<pdx::FileOp> failKind_;
  int failAt_ = 0;
  int failError_ = EIO;
  bool failOnward_ = false;
  std::optional<std::uint64_t> diskFullAfter_;
  std::optional<int> stopAfter_;
  int total_ = 0;
  std::uint64_t written_ = 0;
  bool failed_ = false;
  bool withoutLocks_ = false;
  std::function<void(pdx::FileOp, const std::string&)> beforeEach_;
  std::map<std::string, Disk> disks_;
  std::map<int, std::string> durableData_;
  int nextFile_ = 0;
};

}  // namespace orl::test
