#include "platform/pdx/Table.h"

#include "platform/pdx/Blobs.h"
#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/Family.h"
#include "platform/pdx/Header.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>

namespace orl::pdx {

using namespace detail;

namespace {

constexpr std::int64_t MillisecondsPerDay = 86'400'000;
// Day numbers count 0001-01-01 as day 1; 1970-01-01 is day 719163. Days
// before 0001-01-01 are proleptic Gregorian with astronomical years: day 0
// is 0000-12-31, the last day of the year before year 1.
constexpr std::int64_t DayNumberOf1970 = 719'163;
constexpr double MaxTimestampMilliseconds = 2'147'483'647.0 * MillisecondsPerDay;
// The 8 bytes before a graphic's image in the memo file.
constexpr std::uint32_t GraphicHeaderSize = 8;
constexpr std::size_t BlobPointerSize = 10;

bool isBlobType(FieldType type) {
  switch (type) {
    case FieldType::Memo:
    case FieldType::Binary:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
      return true;
    default:
      return false;
  }
}

bool allZero(const std::uint8_t* bytes, std::size_t count) {
  return std::all_of(bytes, bytes + count, [](std::uint8_t b) { return b == 0; });
}

std::int64_t floorDivide(std::int64_t number, std::int64_t divisor) {
  return number / divisor - (number % divisor < 0 ? 1 : 0);
}

// The proleptic Gregorian date of a day number (days since 1970 shifted).
Date dateOfDayNumber(std::int64_t dayNumber) {
  std::int64_t z = dayNumber - DayNumberOf1970 + 719'468;
  const std::int64_t era = (z >= 0 ? z : z - 146'096) / 146'097;
  const std::int64_t dayOfEra = z - era * 146'097;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return Date{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

// Numbers are stored big-endian with the sign bit flipped, negatives
// complemented; all zero bytes mean a blank field.
std::optional<double> storedDouble(const std::uint8_t* bytes) {
  std::array<std::uint8_t, 8> b{};
  std::memcpy(b.data(), bytes, b.size());
  if (b[0] & 0x80) {
    b[0] ^= 0x80;
  } else if (allZero(b.data(), b.size())) {
    return std::nullopt;
  } else {
    for (auto& byte : b) byte = static_cast<std::uint8_t>(~byte);
  }
  std::uint64_t bits = 0;
  for (std::uint8_t byte : b) bits = (bits << 8) | byte;
  return std::bit_cast<double>(bits);
}

constexpr int BcdDigitCount = 32;
constexpr std::size_t BcdWidth = 17;

// 32 digits in nibbles after a byte of sign and scale (the scale is at most
// 32). Paradox fills the digits past a double's precision with stray
// nibbles above 9 when it converts a number; the digits from the first of
// those on are zero.
Decimal storedDecimal(const std::uint8_t* bytes) {
  const bool positive = (bytes[0] & 0x80) != 0;
  const int scale = bytes[0] & 0x3F;
  char digits[BcdDigitCount];
  std::fill(std::begin(digits), std::end(digits), '0');
  for (int i = 0; i < BcdDigitCount; ++i) {
    const std::uint8_t byte = bytes[1 + i / 2];
    int nibble = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
    if (!positive) nibble = 0x0F - nibble;
    if (nibble > 9) break;
    digits[i] = static_cast<char>('0' + nibble);
  }
  const int wholeDigits = BcdDigitCount - scale;
  int firstShown = 0;
  while (firstShown < wholeDigits - 1 && digits[firstShown] == '0') ++firstShown;
  const bool zero = std::all_of(std::begin(digits), std::end(digits), [](char d) { return d == '0'; });
  std::string text;
  if (!positive && !zero) text.push_back('-');
  if (wholeDigits == 0) text.push_back('0');
  text.append(digits + firstShown, digits + wholeDigits);
  if (scale > 0) {
    text.push_back('.');
    text.append(digits + wholeDigits, digits + BcdDigitCount);
  }
  return Decimal{text};
}

// The `.mb` beside the table, in any letter case; null when there is none.
std::shared_ptr<const ByteSource> openBlobFileBeside(const std::string& tablePath) {
  namespace fs = std::filesystem;
  const fs::path path(tablePath);
  const std::string wanted = path.stem().string() + ".mb";
  const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
  std::error_code error;
  std::vector<fs::path> matches;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (sameNameButCase(it->path().filename().string(), wanted)) matches.push_back(it->path());
  }
  if (error) throw Error(tablePath + ": its folder cannot be read (" + error.message() + ")");
  if (matches.size() > 1) {
    throw Error(tablePath + ": more than one memo file matches it (" + matches[0].filename().string() + ", " +
                matches[1].filename().string() + ")");
  }
  if (matches.empty()) return nullptr;
  return openFileSource(matches[0].string());
}

// Blocks that begin inside the file. The last may end past it: some programs
// end the file after the last record of the last block.
std::uint64_t blocksInFile(const ByteSource& source, const TableHeader& header) {
  const auto blockSize = static_cast<std::uint64_t>(header.blockSize);
  return (source.size() - static_cast<std::uint64_t>(header.headerSize) + blockSize - 1) / blockSize;
}

std::uint64_t blockOffset(const TableHeader& header, std::uint64_t block) {
  return static_cast<std::uint64_t>(header.headerSize) + (block - 1) * static_cast<std::uint64_t>(header.blockSize);
}

// The bytes of a block (counted from 1, at most blocksInFile) that the file holds.
std::size_t bytesOfBlockInFile(const ByteSource& source, const TableHeader& header, std::uint64_t block) {
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(static_cast<std::uint64_t>(header.blockSize), source.size() - blockOffset(header, block)));
}

// Records in a data block, from its header's "bytes after the first record";
// `present` is how many of the block's bytes the file holds.
int recordsInBlock(const TableHeader& header, const std::uint8_t* blockHead, std::size_t present,
                   std::string& problem) {
  if (present < DataBlockHeaderSize) {
    problem = "is cut short by the end of the file (it is truncated or damaged)";
    return -1;
  }
  const auto lastRecordAt = static_cast<std::int16_t>(little16(blockHead + 4));
  if (lastRecordAt < 0) return 0;
  if (lastRecordAt % header.recordSize != 0 ||
      lastRecordAt + header.recordSize > header.blockSize - DataBlockHeaderSize) {
    problem = "has an impossible record count";
    return -1;
  }
  if (static_cast<std::size_t>(DataBlockHeaderSize + lastRecordAt + header.recordSize) > present) {
    problem = "is cut short by the end of the file before its last record (it is truncated or damaged)";
    return -1;
  }
  return lastRecordAt / header.recordSize + 1;
}

// Follows the chain of data blocks once: every block in the file, none
// twice, and together they hold the records the header counts.
void checkBlockChain(const ByteSource& source, const TableHeader& header) {
  const std::uint64_t available = blocksInFile(source, header);
  std::vector<bool> visited(available + 1, false);
  std::uint64_t records = 0;
  std::array<std::uint8_t, DataBlockHeaderSize> head{};
  for (std::uint64_t block = static_cast<std::uint64_t>(header.firstBlock); block != 0;) {
    if (block > available) {
      throw Error(source.name() + ": data block " + std::to_string(block) +
                  " lies past the end of the file (it is truncated or damaged)");
    }
    if (visited[block]) throw Error(source.name() + ": the chain of data blocks loops back to block " + std::to_string(block));
    visited[block] = true;
    const std::size_t present = bytesOfBlockInFile(source, header, block);
    std::fill(head.begin(), head.end(), std::uint8_t{0});
    source.read(blockOffset(header, block), std::span(head).first(std::min(present, head.size())));
    std::string problem;
    const int count = recordsInBlock(header, head.data(), present, problem);
    if (count < 0) throw Error(source.name() + ": data block " + std::to_string(block) + " " + problem);
    records += static_cast<std::uint64_t>(count);
    block = little16(head.data());
  }
  if (records != header.recordCount) {
    throw Error(source.name() + ": the header counts " + std::to_string(header.recordCount) +
                " records but the data blocks hold " + std::to_string(records) + " (the table is damaged)");
  }
}

}  // namespace

int TableHeader::textCodePage() const { return codePage.value_or(0) != 0 ? *codePage : 437; }

TableHeader Table::inspect(const std::string& path) { return readHeader(*openFileSource(path)); }

Table Table::open(const std::string& path) {
  std::shared_ptr<const ByteSource> table = openFileSource(path);
  const TableHeader header = readHeader(*table);
  const bool needsBlobs = std::any_of(header.fields.begin(), header.fields.end(),
                                      [](const Field& field) { return isBlobType(field.type); });
  std::shared_ptr<const ByteSource> blobs;
  if (needsBlobs && !header.encrypted) {
    blobs = openBlobFileBeside(path);
    if (!blobs) throw Error(path + ": its memo file (" + std::filesystem::path(path).stem().string() + ".mb) is missing");
  }
  return open(std::move(table), std::move(blobs));
}

Table Table::open(std::shared_ptr<const ByteSource> table, std::shared_ptr<const ByteSource> blobs) {
  auto header = std::make_shared<const TableHeader>(readHeader(*table));
  if (header->encrypted) {
    throw Error(table->name() + ": the table is password protected; this program does not open protected tables");
  }
  const bool needsBlobs = std::any_of(header->fields.begin(), header->fields.end(),
                                      [](const Field& field) { return isBlobType(field.type); });
  if (needsBlobs) {
    if (!blobs) throw Error(table->name() + ": its memo file is missing");
    checkBlobFile(*blobs);
  }
  checkBlockChain(*table, *header);
  return Table(std::move(table), needsBlobs ? std::move(blobs) : nullptr, std::move(header));
}

Table::Table(std::shared_ptr<const ByteSource> table, std::shared_ptr<const ByteSource> blobs,
             std::shared_ptr<const TableHeader> header)
    : table_(std::move(table)),
      blobs_(std::move(blobs)),
      header_(std::move(header)),
      codePage_(std::make_shared<const CodePage>(header_->textCodePage())) {}

Cursor Table::cursor() const { return Cursor(*this); }

Cursor::Cursor(const Table& table) : table_(table), nextBlock_(static_cast<std::uint32_t>(table.header().firstBlock)) {
  if (table.blobs_) blobBlocks_ = std::make_shared<BlockCachedSource>(table.blobs_, BlobBlockSize);
  block_.resize(static_cast<std::size_t>(table.header().blockSize));
  std::size_t offset = 0;
  for (const auto& field : table.fields()) {
    fieldOffsets_.push_back(offset);
    offset += static_cast<std::size_t>(storedWidth(field));
  }
}

void Cursor::fail(const std::string& what) const {
  throw Error(table_.path() + ": record " + std::to_string(recordsRead_ + 1) + ": " + what);
}

bool Cursor::loadNextBlock() {
  const TableHeader& header = table_.header();
  const ByteSource& source = *table_.table_;
  if (nextBlock_ == 0) {
    if (recordsRead_ != header.recordCount) fail("the data blocks end before the last record");
    return false;
  }
  const std::uint64_t available = blocksInFile(source, header);
  if (nextBlock_ > available || ++blocksRead_ > available) fail("the chain of data blocks is damaged");
  const std::size_t present = bytesOfBlockInFile(source, header, nextBlock_);
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(present), block_.end(), std::uint8_t{0});
  source.read(blockOffset(header, nextBlock_), std::span(block_).first(present));
  std::string problem;
  const int count = recordsInBlock(header, block_.data(), present, problem);
  if (count < 0) fail("data block " + std::to_string(nextBlock_) + " " + problem);
  currentBlock_ = nextBlock_;
  nextBlock_ = little16(block_.data());
  recordsInBlock_ = count;
  recordInBlock_ = 0;
  return true;
}

bool Cursor::nextStored() {
  while (recordInBlock_ >= recordsInBlock_) {
    if (!loadNextBlock()) return false;
  }
  if (recordsRead_ >= table_.header().recordCount) fail("the data blocks hold more records than the header counts");
  ++recordInBlock_;
  ++recordsRead_;
  return true;
}

Value Cursor::value(std::size_t index) {
  assert(index < fieldOffsets_.size());
  const std::uint8_t* bytes = recordBytes().data() + fieldOffsets_[index];
  const std::uint64_t address = memoAddress(index);
  if (address == 0) return decodeField(index, bytes);
  if (lastMemos_.empty()) lastMemos_.resize(fieldOffsets_.size());
  if (address != lastMemos_[index].first) {
    lastMemos_[index] = {0, Null{}};
    Value decoded = decodeField(index, bytes);
    lastMemos_[index] = {address, std::move(decoded)};
  }
  return lastMemos_[index].second;
}

bool Cursor::next(std::vector<Value>& row) {
  if (!nextStored()) return false;
  row.resize(fieldOffsets_.size());
  for (std::size_t i = 0; i < row.size(); ++i) row[i] = value(i);
  return true;
}

std::span<const std::uint8_t> Cursor::recordBytes() const {
  assert(recordInBlock_ > 0 && "only after next() gave a record");
  const auto size = static_cast<std::size_t>(table_.header().recordSize);
  return std::span(block_).subspan(DataBlockHeaderSize + static_cast<std::size_t>(recordInBlock_ - 1) * size, size);
}

std::span<const std::uint8_t> Cursor::fieldBytes(std::size_t index) const {
  const std::size_t end = index + 1 < fieldOffsets_.size() ? fieldOffsets_[index + 1]
                                                           : static_cast<std::size_t>(table_.header().recordSize);
  return recordBytes().subspan(fieldOffsets_[index], end - fieldOffsets_[index]);
}

DeclaredSize Table::declaredSize() const {
  DeclaredSize size;
  size.rows = header().recordCount;
  size.recordBytes = size.rows * static_cast<std::uint64_t>(header().recordSize);
  if (!blobs_) return size;
  Cursor records = cursor();
  while (records.nextStored()) {
    for (std::size_t f = 0; f < fields().size(); ++f) {
      const std::uint64_t address = records.memoAddress(f);
      if (address == 0) continue;
      const std::uint64_t length = address & 0xFFFFFFFFu;
      size.memoBytes += length;
      size.largestMemo = std::max(size.largestMemo, length);
    }
  }
  return size;
}

std::uint64_t Cursor::memoAddress(std::size_t index) const {
  const Field& field = table_.fields()[index];
  if (!isBlobType(field.type)) return 0;
  const std::uint8_t* pointerAt = fieldBytes(index).data() + field.size - BlobPointerSize;
  const std::uint32_t pointer = little32(pointerAt);
  const std::uint32_t length = little32(pointerAt + 4);
  return pointer == 0 || length == 0 ? 0 : (std::uint64_t{pointer} << 32) | length;
}

std::uint64_t Cursor::recordOffset() const {
  return blockOffset(table_.header(), currentBlock_) + DataBlockHeaderSize +
         static_cast<std::uint64_t>(recordInBlock_ - 1) * static_cast<std::uint64_t>(table_.header().recordSize);
}

std::string Cursor::decodeText(std::size_t index, const std::uint8_t* bytes, std::size_t length) {
  auto text = table_.codePage_->decode(std::string_view(reinterpret_cast<const char*>(bytes), length));
  if (!text) {
    fail("field \"" + table_.fields()[index].name + "\" holds bytes that are not text in code page " +
         std::to_string(table_.codePage_->number()));
  }
  return std::move(*text);
}

Value Cursor::decodeField(std::size_t index, const std::uint8_t* bytes) {
  const Field& field = table_.fields()[index];
  switch (field.type) {
    case FieldType::Alpha: {
      const auto* end = std::find(bytes, bytes + field.size, std::uint8_t{0});
      if (end == bytes) return Null{};
      return decodeText(index, bytes, static_cast<std::size_t>(end - bytes));
    }
    case FieldType::Short: {
      const std::uint16_t raw = big16(bytes);
      if (raw == 0) return Null{};
      return std::int64_t{static_cast<std::int16_t>(raw ^ 0x8000)};
    }
    case FieldType::Long:
    case FieldType::Autoincrement:
    case FieldType::Date:
    case FieldType::Time: {
      const std::uint32_t raw = big32(bytes);
      if (raw == 0) return Null{};
      const auto value = static_cast<std::int32_t>(raw ^ 0x80000000u);
      if (field.type == FieldType::Date) return dateOfDayNumber(value);
      if (field.type == FieldType::Time) {
        if (value < 0 || value >= MillisecondsPerDay) fail("field \"" + field.name + "\" holds an impossible time");
        return TimeOfDay{value};
      }
      return std::int64_t{value};
    }
    case FieldType::Number:
    case FieldType::Money: {
      const auto value = storedDouble(bytes);
      if (!value) return Null{};
      return *value;
    }
    case FieldType::Timestamp: {
      const auto value = storedDouble(bytes);
      if (!value) return Null{};
      // Milliseconds since the start of day number 0, negative before it;
      // the days a date field can name are the days a time stamp can name.
      if (!std::isfinite(*value) || std::fabs(*value) > MaxTimestampMilliseconds) {
        fail("field \"" + field.name + "\" holds an impossible time stamp");
      }
      const auto milliseconds = static_cast<std::int64_t>(std::llround(*value));
      const std::int64_t day = floorDivide(milliseconds, MillisecondsPerDay);
      return Timestamp{dateOfDayNumber(day),
                       TimeOfDay{static_cast<std::int32_t>(milliseconds - day * MillisecondsPerDay)}};
    }
    case FieldType::Logical:
      if (bytes[0] == 0) return Null{};
      if (bytes[0] != 0x80 && bytes[0] != 0x81) fail("field \"" + field.name + "\" holds an impossible logical value");
      return bytes[0] == 0x81;
    case FieldType::Bcd:
      if (allZero(bytes, BcdWidth)) return Null{};
      if ((bytes[0] & 0x3F) > BcdDigitCount) fail("field \"" + field.name + "\" holds an impossible decimal scale");
      return storedDecimal(bytes);
    case FieldType::Bytes:
      if (allZero(bytes, static_cast<std::size_t>(field.size))) return Null{};
      return Bytes(bytes, bytes + field.size);
    case FieldType::Memo:
    case FieldType::Binary:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
      return readBlob(index, bytes);
  }
  fail("field \"" + field.name + "\" has an unknown type");
}

Value Cursor::readBlob(std::size_t index, const std::uint8_t* bytes) {
  const Field& field = table_.fields()[index];
  const auto leader = static_cast<std::size_t>(field.size) - BlobPointerSize;
  const std::uint32_t pointer = little32(bytes + leader);
  const std::uint32_t length = little32(bytes + leader + 4);
  if (length == 0) return Null{};
  const bool graphic = field.type == FieldType::Graphic;
  if (graphic && length < GraphicHeaderSize) fail("field \"" + field.name + "\" holds a damaged graphic");
  Bytes data;
  if (pointer == 0) {
    // Short values live wholly in the record; a graphic's image follows its header there too.
    const std::size_t inRecord = graphic ? length - GraphicHeaderSize : length;
    if (inRecord > leader) fail("field \"" + field.name + "\" refers to no memo block for a value of " + std::to_string(length) + " bytes");
    data.assign(bytes, bytes + inRecord);
  } else {
    try {
      data = detail::readBlob(*blobBlocks_, pointer, length);
    } catch (const Error& error) {
      fail("field \"" + field.name + "\": " + error.what());
    }
    if (graphic) data.erase(data.begin(), data.begin() + GraphicHeaderSize);
  }
  if (field.type == FieldType::Memo) {
    return decodeText(index, data.data(), data.size());
  }
  return data;
}

}  // namespace orl::pdx
