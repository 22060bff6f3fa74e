#pragma once

#include "platform/pdx/FileOps.h"

#include <cerrno>
#include <cstdint>
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

  int total() const { return total_; }
  int count(pdx::FileOp kind) const {
    const auto found = counts_.find(kind);
    return found == counts_.end() ? 0 : found->second;
  }
  bool failed() const { return failed_; }
  // The number (counting all kinds from 1) of the first operation that failed; 0 while none did.
  int firstFailure() const { return firstFailure_; }

  std::unique_ptr<pdx::OutputFile> createExclusive(const std::string& path) override {
    check(pdx::FileOp::Create, path);
    return std::make_unique<File>(*this, real_.createExclusive(path));
  }
  void rename(const std::string& from, const std::string& to) override {
    check(pdx::FileOp::Rename, from, to);
    real_.rename(from, to);
  }
  void remove(const std::string& path) override {
    check(pdx::FileOp::Remove, path);
    real_.remove(path);
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
  }
  std::string readSmallFile(const std::string& path, std::size_t limit) override {
    check(pdx::FileOp::Read, path);
    return real_.readSmallFile(path, limit);
  }
  void copyAccess(const std::string& from, const std::string& to) override {
    check(pdx::FileOp::CopyAccess, from, to);
    real_.copyAccess(from, to);
  }
  void makeFolder(const std::string& path) override {
    check(pdx::FileOp::MakeFolder, path);
    real_.makeFolder(path);
  }
  void removeFolder(const std::string& path) override {
    check(pdx::FileOp::RemoveFolder, path);
    real_.removeFolder(path);
  }

 private:
  class File final : public pdx::OutputFile {
   public:
    File(FaultInjectingFileOps& owner, std::unique_ptr<pdx::OutputFile> real)
        : owner_(owner), real_(std::move(real)) {}
    const std::string& path() const override { return real_->path(); }
    void write(std::uint64_t offset, const void* data, std::size_t size) override {
      owner_.check(pdx::FileOp::Write, path());
      if (owner_.diskFullAfter_) {
        if (owner_.written_ + size > *owner_.diskFullAfter_) {
          if (!owner_.failed_) owner_.firstFailure_ = owner_.total_;
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
    }
    void close() override {
      owner_.check(pdx::FileOp::Close, path());
      real_->close();
    }

   private:
    FaultInjectingFileOps& owner_;
    std::unique_ptr<pdx::OutputFile> real_;
  };

  void check(pdx::FileOp kind, const std::string& path, const std::string& other = {}) {
    const int n = ++counts_[kind];
    ++total_;
    const bool planned = failKind_ == kind && (failOnward_ ? n >= failAt_ : n == failAt_);
    if (planned || (stopAfter_ && total_ > *stopAfter_)) {
      if (!failed_) firstFailure_ = total_;
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
  int firstFailure_ = 0;
};

}  // namespace orl::test
