// Reading a file piece by piece: every piece is the file's own bytes,
// however it lies against the reader's windows.

#include "platform/pdx/ByteSource.h"
#include "platform/pdx/Error.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

namespace {

namespace fs = std::filesystem;
namespace pdx = orl::pdx;

// A pipe or a folder where a table file should be is refused at once: opening
// a pipe for reading would otherwise wait forever for a writer.
TEST(FileSource, WhatIsNotARegularFileIsRefusedWithoutWaiting) {
  const fs::path folder = fs::temp_directory_path() / ("orlintide-fifo-" + std::to_string(::getpid()));
  fs::create_directories(folder / "T.mb");
  ASSERT_EQ(::mkfifo((folder / "T.db").c_str(), 0600), 0);
  for (const char* name : {"T.db", "T.mb"}) {
    try {
      pdx::openFileSource((folder / name).string());
      ADD_FAILURE() << name << " was opened";
    } catch (const pdx::Error& error) {
      EXPECT_NE(std::string(error.what()).find("is not a regular file"), std::string::npos) << error.what();
    }
  }
  fs::remove_all(folder);
}

TEST(FileSource, EveryPieceIsTheFilesOwnBytesWhereverItLies) {
  const fs::path path = fs::temp_directory_path() / ("orlintide-bytes-" + std::to_string(::getpid()));
  std::vector<std::uint8_t> bytes(3 * 4096 + 123);
  std::mt19937 random(7);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  const auto source = pdx::openFileSource(path.string());
  ASSERT_EQ(source->size(), bytes.size());

  const auto expectPiece = [&](std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> piece(count);
    source->read(offset, piece);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
        << count << " bytes at " << offset;
  };
  // Inside a window, across a window's end, whole windows, the short last
  // window, and back to a window read before.
  for (const auto& [offset, count] : std::vector<std::pair<std::uint64_t, std::size_t>>{
           {0, 12}, {4090, 12}, {4096, 4096}, {8190, 4000}, {12288, 123}, {12400, 11}, {100, 1}, {0, bytes.size()}})
    expectPiece(offset, count);
  for (int i = 0; i < 2000; ++i) {
    const std::uint64_t offset = random() % bytes.size();
    expectPiece(offset, static_cast<std::size_t>(random() % std::min<std::uint64_t>(600, bytes.size() - offset)));
  }

  std::vector<std::uint8_t> tooFar(20);
  EXPECT_THROW(source->read(bytes.size() - 10, tooFar), pdx::Error);
  EXPECT_THROW(source->read(bytes.size() + 1, std::span<std::uint8_t>()), pdx::Error);
  fs::remove(path);
}

// The read system calls this process has made so far; none where the kernel does not count them.
std::optional<long long> readCalls() {
  std::ifstream io("/proc/self/io");
  std::string key;
  long long value = 0;
  while (io >> key >> value)
    if (key == "syscr:") return value;
  return std::nullopt;
}

TEST(FileSource, APassThroughTheFileReadsFurtherAheadWithEveryWindowAndStaysExact) {
  const fs::path path = fs::temp_directory_path() / ("orlintide-pass-" + std::to_string(::getpid()));
  std::vector<std::uint8_t> bytes(2048 + 512 * 4096 + 100);  // a header, 512 blocks, a cut-short tail
  std::mt19937 random(11);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  const auto source = pdx::openFileSource(path.string());
  const auto expectPiece = [&](std::uint64_t offset, std::size_t count) {
    std::vector<std::uint8_t> piece(count);
    source->read(offset, piece);
    ASSERT_TRUE(std::equal(piece.begin(), piece.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset)))
        << count << " bytes at " << offset;
  };

  // A cursor's pass: the header, then block after block.
  const auto before = readCalls();
  expectPiece(0, 2048);
  std::uint64_t at = 2048;
  for (; at + 4096 <= bytes.size(); at += 4096) expectPiece(at, 4096);
  expectPiece(at, static_cast<std::size_t>(bytes.size() - at));
  if (const auto after = readCalls(); before && after) {
    EXPECT_LT(*after - *before, 40) << "512 blocks";
  }

  // Passes of pieces of every size from random places, and jumps between them.
  for (int pass = 0; pass < 300; ++pass) {
    std::uint64_t offset = random() % bytes.size();
    for (int piece = 0; piece < 40 && offset < bytes.size(); ++piece) {
      const auto count = static_cast<std::size_t>(
          std::min<std::uint64_t>(random() % 9000, bytes.size() - offset));
      expectPiece(offset, count);
      offset += count;
    }
  }
  fs::remove(path);
}

}  // namespace

namespace {

// Counts the reads that reach the source beneath.
class CountingSource final : public pdx::ByteSource {
 public:
  explicit CountingSource(std::vector<std::uint8_t> bytes) : inner_(pdx::memorySource("counted", std::move(bytes))) {}
  const std::string& name() const override { return inner_->name(); }
  std::uint64_t size() const override { return inner_->size(); }
  void read(std::uint64_t offset, std::span<std::uint8_t> into) const override {
    ++reads;
    inner_->read(offset, into);
  }
  mutable int reads = 0;

 private:
  std::unique_ptr<pdx::ByteSource> inner_;
};

TEST(BlockCachedSource, SmallReadsInOneBlockCostOneReadAndEveryByteIsTheSources) {
  std::vector<std::uint8_t> bytes(10 * 64 + 30);  // ten blocks of 64 and a short last one
  std::mt19937 random(7);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
  const auto counting = std::make_shared<CountingSource>(bytes);
  const pdx::BlockCachedSource cached(counting, 64);
  const auto piece = [&](std::uint64_t at, std::size_t size) {
    std::vector<std::uint8_t> into(size);
    cached.read(at, into);
    return into;
  };
  const auto expected = [&](std::uint64_t at, std::size_t size) {
    return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
  };
  // A memo value's header, slot and bytes, and its neighbour's, in one block.
  EXPECT_EQ(piece(128, 12), expected(128, 12));
  EXPECT_EQ(piece(140, 5), expected(140, 5));
  EXPECT_EQ(piece(170, 20), expected(170, 20));
  EXPECT_EQ(piece(130, 60), expected(130, 60));
  EXPECT_EQ(counting->reads, 1);
  // Across a block's end, larger than a block, in the short last block, and past the end.
  EXPECT_EQ(piece(60, 10), expected(60, 10));
  EXPECT_EQ(piece(0, 200), expected(0, 200));
  EXPECT_EQ(piece(645, 25), expected(645, 25));
  EXPECT_EQ(piece(640, 30), expected(640, 30));
  EXPECT_THROW(piece(660, 20), pdx::Error);
  EXPECT_THROW(piece(700, 4), pdx::Error);
  EXPECT_EQ(piece(128, 4), expected(128, 4));  // another block was read meanwhile: read again
}

}  // namespace
