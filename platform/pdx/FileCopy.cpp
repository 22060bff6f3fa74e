#include "platform/pdx/FileCopy.h"

#include "platform/pdx/ByteSource.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace orl::pdx {

void copyInto(const std::string& from, OutputFile& out) {
  const auto source = openFileSource(from);
  std::vector<std::uint8_t> chunk(1 << 20);
  for (std::uint64_t at = 0; at < source->size(); at += chunk.size()) {
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), source->size() - at));
    source->read(at, std::span(chunk.data(), size));
    out.write(at, chunk.data(), size);
  }
  out.flush();
  out.close();
}

void copyWholeFile(FileOps& files, const std::string& from, const std::string& to) {
  auto out = files.createExclusive(to);
  try {
    copyInto(from, *out);
  } catch (...) {
    out.reset();
    try {
      files.remove(to);
    } catch (const Error&) {
      // The caller's clean-up or the next prune removes it.
    }
    throw;
  }
}

}  // namespace orl::pdx
