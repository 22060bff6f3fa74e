#pragma once

// SHA-256 of a file, so that a history entry can tell a table's files
// apart from any others byte for byte without keeping a copy.

#include "platform/pdx/ByteSource.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace orl::pdx {

class Sha256 {
 public:
  Sha256();
  void add(const std::uint8_t* data, std::size_t size);
  // The digest in lower-case hexadecimal; the object is spent afterwards.
  std::string hex();

 private:
  void block(const std::uint8_t* data);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t length_ = 0;
};

// The digest of all of a source's bytes. Throws Error when it cannot be read.
std::string sha256Of(const ByteSource& source);

}  // namespace orl::pdx
