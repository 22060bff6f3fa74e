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
  // How the blocks are hashed: with the processor's SHA instructions where
  // it has them (several times faster, so that keeping a table's history
  // costs a run little), or portably.
  enum class Engine { Fastest, Portable };
  explicit Sha256(Engine engine = Engine::Fastest);
  void add(const std::uint8_t* data, std::size_t size);
  // The digest in lower-case hexadecimal; the object is spent afterwards.
  std::string hex();

  // Whether this processor has the instructions the fastest engine uses.
  static bool processorInstructions();

  using BlockFunction = void (*)(std::array<std::uint32_t, 8>& state, const std::uint8_t* data, std::size_t blocks);

 private:
  BlockFunction blocks_;
  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> pending_{};
  std::size_t pendingSize_ = 0;
  std::uint64_t length_ = 0;
};

// The digest of all of a source's bytes. Throws Error when it cannot be read.
std::string sha256Of(const ByteSource& source);

}  // namespace orl::pdx
