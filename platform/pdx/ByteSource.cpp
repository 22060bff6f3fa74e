#include "platform/pdx/ByteSource.h"

#include "platform/pdx/Error.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace orl::pdx {
namespace {

[[noreturn]] void throwPastEnd(const std::string& name, std::uint64_t offset, std::size_t count) {
  throw Error(name + ": the file ends before byte " + std::to_string(offset + count) +
              " (it is truncated or damaged)");
}

// Reads smaller than a window are served from the last window read: the
// values of a memo block and the pieces of one record lie side by side, so
// most of them then cost no system call. A read that goes on where the last
// one ended is part of a pass through the file (a cursor reading block after
// block), and the window it loads reads twice as far ahead as the last one,
// up to 256 KB: a system call costs more than the copy of its bytes. Not for
// use from two threads.
class FileSource final : public ByteSource {
 public:
  static constexpr std::uint64_t WindowSize = 4096;
  static constexpr std::uint64_t LongestWindow = 256 * 1024;

  FileSource(std::string path, int descriptor, std::uint64_t size)
      : path_(std::move(path)), descriptor_(descriptor), size_(size) {}
  ~FileSource() override { ::close(descriptor_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  const std::string& name() const override { return path_; }
  std::uint64_t size() const override { return size_; }

  void read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
    if (offset > size_ || into.size() > size_ - offset) throwPastEnd(path_, offset, into.size());
    if (into.empty()) return;
    const std::uint64_t end = offset + into.size();
    const bool onward = offset == lastEnd_;
    lastEnd_ = end;
    if (!window_.has_value() || offset < *window_ || end > *window_ + windowBytes_.size()) {
      windowLength_ = onward ? std::min(windowLength_ * 2, LongestWindow) : WindowSize;
      const std::uint64_t windowAt = onward ? offset : offset - offset % WindowSize;
      if (end > windowAt + windowLength_) {
        readFile(offset, into);
        return;
      }
      window_.reset();
      windowBytes_.resize(static_cast<std::size_t>(std::min(windowLength_, size_ - windowAt)));
      readFile(windowAt, windowBytes_);
      window_ = windowAt;
    }
    std::memcpy(into.data(), windowBytes_.data() + (offset - *window_), into.size());
  }

 private:
  void readFile(std::uint64_t offset, std::span<std::uint8_t> into) const {
    std::size_t done = 0;
    while (done < into.size()) {
      const ssize_t got = ::pread(descriptor_, into.data() + done, into.size() - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) throw Error(path_ + ": cannot be read (" + std::strerror(errno) + ")");
      if (got == 0) throwPastEnd(path_, offset, into.size());
      done += static_cast<std::size_t>(got);
    }
  }

  std::string path_;
  int descriptor_;
  std::uint64_t size_;
  mutable std::optional<std::uint64_t> window_;
  mutable std::vector<std::uint8_t> windowBytes_;
  mutable std::uint64_t windowLength_ = WindowSize;
  mutable std::uint64_t lastEnd_ = ~std::uint64_t{0};  // where the last read ended
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(std::string name, std::vector<std::uint8_t> bytes)
      : name_(std::move(name)), bytes_(std::move(bytes)) {}

  const std::string& name() const override { return name_; }
  std::uint64_t size() const override { return bytes_.size(); }

  void read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
    if (offset > bytes_.size() || into.size() > bytes_.size() - offset) throwPastEnd(name_, offset, into.size());
    std::memcpy(into.data(), bytes_.data() + offset, into.size());
  }

 private:
  std::string name_;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path) {
  // Without blocking, so that a pipe standing in a table's place is refused
  // instead of waiting forever for a writer; reads of a file ignore the flag.
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) throw Error(path + ": cannot be opened (" + std::strerror(errno) + ")");
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) {
    const int error = errno;
    ::close(descriptor);
    throw Error(path + ": cannot be read (" + std::strerror(error) + ")");
  }
  if (!S_ISREG(status.st_mode)) {
    ::close(descriptor);
    throw Error(path + ": is not a regular file (a pipe, a device or a folder stands in its place), so it is not "
                       "read; only table files are");
  }
  return std::make_unique<FileSource>(path, descriptor, static_cast<std::uint64_t>(status.st_size));
}

std::unique_ptr<ByteSource> memorySource(std::string name, std::vector<std::uint8_t> bytes) {
  return std::make_unique<MemorySource>(std::move(name), std::move(bytes));
}

BlockCachedSource::BlockCachedSource(std::shared_ptr<const ByteSource> source, std::size_t blockSize)
    : source_(std::move(source)), blockSize_(blockSize) {}

void BlockCachedSource::read(std::uint64_t offset, std::span<std::uint8_t> into) const {
  const std::uint64_t blockAt = offset / blockSize_ * blockSize_;
  const std::uint64_t end = offset + into.size();
  if (end > blockAt + blockSize_ || blockAt >= source_->size()) return source_->read(offset, into);
  if (!loaded_ || blockAt != blockAt_) {
    loaded_ = false;
    block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(blockSize_, source_->size() - blockAt)));
    source_->read(blockAt, block_);
    blockAt_ = blockAt;
    loaded_ = true;
  }
  // Past the file's end: the source itself says so.
  if (end > blockAt_ + block_.size()) return source_->read(offset, into);
  std::memcpy(into.data(), block_.data() + (offset - blockAt_), into.size());
}

}  // namespace orl::pdx
