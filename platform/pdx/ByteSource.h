#pragma once

// Where the bytes of a table or memo file come from: a file on disk, read
// piece by piece, or bytes already in memory (fuzzing, corruption tests).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace orl::pdx {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The name errors give for this source (the file's path).
  virtual const std::string& name() const = 0;
  virtual std::uint64_t size() const = 0;
  // Fills `into` from `offset`; throws orl::pdx::Error when the source ends
  // before or cannot be read.
  virtual void read(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

// Opens the file for reading; throws orl::pdx::Error naming it on failure.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);

std::unique_ptr<ByteSource> memorySource(std::string name, std::vector<std::uint8_t> bytes);

// Reads through another source keeping the last aligned block read, so that
// the small reads that find one memo value in its block (its header, its
// slot, its bytes), and those of the values beside it, cost one read of the
// file. A read that does not lie within one block goes straight through.
// For one reader at a time.
class BlockCachedSource final : public ByteSource {
 public:
  BlockCachedSource(std::shared_ptr<const ByteSource> source, std::size_t blockSize);
  const std::string& name() const override { return source_->name(); }
  std::uint64_t size() const override { return source_->size(); }
  void read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

 private:
  std::shared_ptr<const ByteSource> source_;
  std::size_t blockSize_;
  mutable std::vector<std::uint8_t> block_;  // the bytes of the block at blockAt_ that the file holds
  mutable std::uint64_t blockAt_ = 0;
  mutable bool loaded_ = false;
};

}  // namespace orl::pdx
