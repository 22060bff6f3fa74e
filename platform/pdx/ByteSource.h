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

}  // namespace orl::pdx
