#include "platform/pdx/Writer.h"

#include "platform/pdx/FieldCodec.h"
#include "platform/pdx/Header.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>

namespace orl::pdx {
namespace {

using namespace detail;

// Layout facts of level-5 tables, as real tables made by Paradox and BDE show them.
constexpr std::uint8_t FileVersion = 11;
constexpr std::size_t BlockSizeCode = 4;  // 4 KiB blocks: the largest level 5 allows
constexpr std::size_t BlockSize = BlockSizeCode * 1024;
constexpr std::size_t BlockHeaderSize = 6;
constexpr std::uint32_t MaxBlocks = 0xFFFF;  // block numbers are 16-bit
constexpr std::size_t HeaderUnit = 0x800;
constexpr std::size_t FieldInfoOffset = 0x78;
constexpr std::size_t TableNameSize = 79;
constexpr std::size_t MaxFieldNameBytes = 25;
constexpr std::size_t MaxFields = 255;

// The memo file: a 4 KiB header, then blocks of whole 4 KiB units. Values
// under 2 KiB share sub-allocated blocks, cut in 16-byte chunks and found
// through a 64-entry table; larger values get a block of their own.
constexpr std::size_t BlobUnit = 4096;
constexpr std::size_t SubAllocThreshold = 2048;
constexpr std::size_t ChunkSize = 16;
constexpr int SubEntries = 64;
constexpr std::size_t SubFirstDataChunk = 0x150 / ChunkSize;
constexpr std::size_t SubChunks = BlobUnit / ChunkSize;
constexpr std::size_t SingleBlobHeaderSize = 9;
constexpr std::uint64_t MaxBlobUnits = 0xFFFF;
constexpr std::uint64_t MaxBlobFileSize = 0xFFFFFF00u;  // offsets are 32-bit, low byte the entry

constexpr std::uint8_t BlobFileHeaderStart[] = {
    0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73, 0x02, 0x00, 0x29, 0x00, 0x00, 0x10, 0x00, 0x10, 0x00,
    0x10, 0x40, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa1, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};

std::uint8_t typeCode(FieldType type) {
  switch (type) {
    case FieldType::Alpha: return 0x01;
    case FieldType::Date: return 0x02;
    case FieldType::Short: return 0x03;
    case FieldType::Long: return 0x04;
    case FieldType::Money: return 0x05;
    case FieldType::Number: return 0x06;
    case FieldType::Logical: return 0x09;
    case FieldType::Memo: return 0x0C;
    case FieldType::Binary: return 0x0D;
    case FieldType::FormattedMemo: return 0x0E;
    case FieldType::Ole: return 0x0F;
    case FieldType::Graphic: return 0x10;
    case FieldType::Time: return 0x14;
    case FieldType::Timestamp: return 0x15;
    case FieldType::Autoincrement: return 0x16;
    case FieldType::Bcd: return 0x17;
    case FieldType::Bytes: return 0x18;
  }
  return 0;
}

bool isText(FieldType type) {
  return type == FieldType::Alpha || type == FieldType::Memo;
}

// The bytes a field takes in a record, as the reader counts them.
std::size_t storedSize(const Field& field) { return static_cast<std::size_t>(detail::storedWidth(field)); }

std::string blobPathFor(const std::string& tablePath) {
  const std::string name = nameOf(tablePath);
  const auto dot = name.find_last_of('.');
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  const bool upper = !extension.empty() && std::all_of(extension.begin(), extension.end(), [](char c) {
    return c < 'a' || c > 'z';
  });
  const std::string stem = dot == std::string::npos ? tablePath : tablePath.substr(0, tablePath.size() - extension.size() - 1);
  return stem + (upper ? ".MB" : ".mb");
}

}  // namespace

struct TableWriter::Blob {
  std::size_t field;
  std::vector<std::uint8_t> data;  // as stored in the memo file
  std::uint8_t* tail;              // the record's 10 bytes after the leader
};

void checkFieldForWriting(const Field& field) {
  const auto fail = [&](const std::string& why) {
    throw Error("Field \"" + field.name + "\" cannot be written: " + why);
  };
  if (typeCode(field.type) == 0) fail("its type is not a Paradox field type");
  switch (field.type) {
    case FieldType::Alpha:
      if (field.size < 1 || field.size > 255) fail("an alpha field holds 1 to 255 characters");
      break;
    case FieldType::Bytes:
      if (field.size < 1 || field.size > 255) fail("a bytes field holds 1 to 255 bytes");
      break;
    case FieldType::Memo:
      if (field.size < 11 || field.size > 250) fail("a memo field keeps 1 to 240 bytes in the record");
      break;
    case FieldType::FormattedMemo:
    case FieldType::Binary:
    case FieldType::Ole:
    case FieldType::Graphic:
      if (field.size < 10 || field.size > 250) fail("a blob field keeps 0 to 240 bytes in the record");
      break;
    case FieldType::Bcd:
      if (field.size < 0 || field.size > 32) fail("a BCD field has 0 to 32 digits after the point");
      break;
    default:
      break;
  }
}

TableWriter::TableWriter(FileOps& files, std::string tablePath, WriterSettings settings)
    : files_(files),
      tablePath_(std::move(tablePath)),
      settings_(std::move(settings)),
      codePage_(settings_.codePage),
      autoIncrement_(settings_.autoIncrement) {
  const auto& fields = settings_.fields;
  if (fields.empty() || fields.size() > MaxFields)
    throw Error("Cannot write \"" + tablePath_ + "\": a table has 1 to 255 fields");
  bool needsBlobs = false;
  std::vector<std::string> names;
  for (const Field& field : fields) {
    checkFieldForWriting(field);
    std::string folded = field.name;
    for (char& c : folded)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (std::find(names.begin(), names.end(), folded) != names.end())
      throw Error("Field \"" + field.name + "\" cannot be written: two fields have that name");
    names.push_back(std::move(folded));
    const auto encoded = codePage_.encode(field.name);
    if (field.name.empty() || !encoded || encoded->size() > MaxFieldNameBytes ||
        encoded->find('\0') != std::string::npos)
      throw Error("Field \"" + field.name + "\" cannot be written: a field name is 1 to 25 characters of code page " +
                  std::to_string(settings_.codePage));
    offsets_.push_back(recordSize_);
    recordSize_ += storedSize(field);
    needsBlobs = needsBlobs || isBlobType(field.type);
  }
  if (recordSize_ > BlockSize - BlockHeaderSize)
    throw Error("Cannot write \"" + tablePath_ + "\": a record of " + std::to_string(recordSize_) +
                " bytes does not fit a data block");
  if (settings_.sortOrderName.find('\0') != std::string::npos || settings_.sortOrderName.size() > 32)
    throw Error("Cannot write \"" + tablePath_ + "\": the sort order name \"" + settings_.sortOrderName +
                "\" is not one a header can carry");
  recordsPerBlock_ = (BlockSize - BlockHeaderSize) / recordSize_;
  headerSize_ = (tableHeader().size() + HeaderUnit - 1) / HeaderUnit * HeaderUnit;
  block_.assign(BlockSize, 0);

  table_ = files_.createExclusive(tablePath_);
  try {
    if (needsBlobs) {
      blobPath_ = blobPathFor(tablePath_);
      blobs_ = files_.createExclusive(blobPath_);
      std::vector<std::uint8_t> header(BlobUnit, 0);
      std::copy(std::begin(BlobFileHeaderStart), std::end(BlobFileHeaderStart), header.begin());
      blobs_->write(0, header.data(), header.size());
      blobFileSize_ = BlobUnit;
    }
  } catch (...) {
    discard();
    throw;
  }
}

TableWriter::~TableWriter() {
  if (!finished_) discard();
}

void TableWriter::discard() noexcept {
  const auto drop = [&](std::unique_ptr<OutputFile>& file) {
    if (!file) return;
    const std::string path = file->path();
    try {
      file->close();
    } catch (const Error&) {
      // The file goes anyway.
    }
    file.reset();
    try {
      files_.remove(path);
    } catch (const Error&) {
      // Nothing more can be done here; a temporary name shows what it was.
    }
  };
  drop(table_);
  drop(blobs_);
  broken_ = true;
}

void TableWriter::checkUsable() const {
  if (finished_) throw Error("The table \"" + tablePath_ + "\" is finished already");
  if (broken_) throw Error("The table \"" + tablePath_ + "\" cannot be written after an earlier failure");
}

void TableWriter::failValue(std::size_t index, const Value& value, const std::string& why) const {
  throw Error("Field \"" + settings_.fields[index].name + "\" of \"" + tablePath_ + "\": the value " +
              describe(value) + " cannot be written unchanged: " + why);
}

void TableWriter::encodeField(std::size_t index, const Value& value, std::uint8_t* out,
                              std::vector<Blob>& blobs) {
  const Field& field = settings_.fields[index];
  if (std::holds_alternative<Null>(value)) return;  // all zeroes is blank
  const auto wrongKind = [&]() { failValue(index, value, "it is not a value of this field's type"); };

  const auto text = [&]() -> std::string {
    const auto* utf8 = std::get_if<std::string>(&value);
    if (utf8 == nullptr) wrongKind();
    auto bytes = codePage_.encode(*utf8);
    if (!bytes)
      failValue(index, value, "it holds a character code page " + std::to_string(settings_.codePage) + " cannot hold");
    return std::move(*bytes);
  };

  if (!isBlobType(field.type)) {
    if (const std::string why = encodeInRecord(field, value, codePage_, out); !why.empty()) failValue(index, value, why);
    if (const auto* number = std::get_if<std::int64_t>(&value); field.type == FieldType::Autoincrement && *number > 0)
      autoIncrement_ = std::max(autoIncrement_, static_cast<std::uint32_t>(*number));
    return;
  }
  std::vector<std::uint8_t> data;
  if (isText(field.type)) {
    const std::string bytes = text();
    data.assign(bytes.begin(), bytes.end());
  } else {
    const auto* bytes = std::get_if<Bytes>(&value);
    if (bytes == nullptr) wrongKind();
    data = *bytes;
  }
  if (data.empty()) return;  // an empty value is stored blank
  const std::size_t leader = static_cast<std::size_t>(field.size) - BlobPointerSize;
  std::copy_n(data.begin(), std::min(leader, data.size()), out);
  std::uint8_t* tail = out + leader;
  if (isText(field.type) && data.size() <= leader) {
    putLe32(tail + 4, static_cast<std::uint32_t>(data.size()));  // held by the record alone
    return;
  }
  if (field.type == FieldType::Graphic) {
    std::vector<std::uint8_t> stored(GraphicHeaderSize + data.size());
    stored[0] = 0x01;
    stored[3] = 0x01;
    putLe32(stored.data() + 4, static_cast<std::uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), stored.begin() + GraphicHeaderSize);
    data = std::move(stored);
  }
  if (data.size() > largestMemoForWriting())
    failValue(index, value, "a memo file holds values up to 256 MB");
  blobs.push_back(Blob{index, std::move(data), tail});
}

void TableWriter::storeBlob(Blob& blob) {
  const std::size_t size = blob.data.size();
  std::uint32_t pointer = 0;
  if (size < SubAllocThreshold && settings_.fields[blob.field].type != FieldType::Graphic) {
    const int chunks = static_cast<int>((size + ChunkSize - 1) / ChunkSize);
    if (!subBlock_.empty() &&
        (subBlockEntries_ == SubEntries ||
         SubFirstDataChunk + static_cast<std::size_t>(subBlockChunks_ + chunks) > SubChunks))
      writeSubBlockOut();
    if (subBlock_.empty()) {
      if (blobFileSize_ + BlobUnit > MaxBlobFileSize) throw Error("The memo file \"" + blobPath_ + "\" is full");
      subBlock_.assign(BlobUnit, 0);
      subBlock_[0] = 0x03;
      putLe16(&subBlock_[1], 1);
      subBlockOffset_ = blobFileSize_;
      blobFileSize_ += BlobUnit;
      subBlockEntries_ = 0;
      subBlockChunks_ = 0;
    }
    // Entries are handed out from the last one down, as Paradox does.
    const int entry = SubEntries - 1 - subBlockEntries_;
    const std::size_t firstChunk = SubFirstDataChunk + static_cast<std::size_t>(subBlockChunks_);
    std::uint8_t* slot = &subBlock_[12 + 5 * static_cast<std::size_t>(entry)];
    slot[0] = static_cast<std::uint8_t>(firstChunk);
    slot[1] = static_cast<std::uint8_t>(chunks);
    putLe16(slot + 2, 1);
    slot[4] = static_cast<std::uint8_t>(size - (static_cast<std::size_t>(chunks) - 1) * ChunkSize);
    std::copy(blob.data.begin(), blob.data.end(), subBlock_.begin() + static_cast<std::ptrdiff_t>(firstChunk * ChunkSize));
    ++subBlockEntries_;
    subBlockChunks_ += chunks;
    pointer = static_cast<std::uint32_t>(subBlockOffset_) | static_cast<std::uint32_t>(entry);
  } else {
    const std::uint64_t units = (SingleBlobHeaderSize + size + BlobUnit - 1) / BlobUnit;
    if (blobFileSize_ + units * BlobUnit > MaxBlobFileSize) throw Error("The memo file \"" + blobPath_ + "\" is full");
    std::vector<std::uint8_t> block(static_cast<std::size_t>(units * BlobUnit), 0);
    block[0] = 0x02;
    putLe16(&block[1], static_cast<std::uint32_t>(units));
    putLe32(&block[3], static_cast<std::uint32_t>(size));
    putLe16(&block[7], 1);
    std::copy(blob.data.begin(), blob.data.end(), block.begin() + SingleBlobHeaderSize);
    blobs_->write(blobFileSize_, block.data(), block.size());
    pointer = static_cast<std::uint32_t>(blobFileSize_) | 0xFF;
    blobFileSize_ += block.size();
  }
  putLe32(blob.tail, pointer);
  putLe32(blob.tail + 4, static_cast<std::uint32_t>(size));
  putLe16(blob.tail + 8, 1);
}

void TableWriter::writeSubBlockOut() {
  blobs_->write(subBlockOffset_, subBlock_.data(), subBlock_.size());
  subBlock_.clear();
}

std::uint64_t mostRowsFor(const std::vector<Field>& fields) {
  std::size_t recordSize = 0;
  for (const Field& field : fields) recordSize += storedSize(field);
  if (recordSize == 0 || recordSize > BlockSize - BlockHeaderSize) return 0;
  return std::uint64_t{MaxBlocks - 1} * ((BlockSize - BlockHeaderSize) / recordSize);
}

std::uint64_t largestMemoForWriting() { return MaxBlobUnits * BlobUnit - SingleBlobHeaderSize; }

std::uint64_t largestMemoFileForWriting() { return MaxBlobFileSize; }

void TableWriter::append(const std::vector<Value>& row) {
  checkUsable();
  if (row.size() != settings_.fields.size())
    throw Error("A row for \"" + tablePath_ + "\" has " + std::to_string(row.size()) + " values for " +
                std::to_string(settings_.fields.size()) + " fields");
  if (recordsInBlock_ == recordsPerBlock_ && blocksWritten_ + 1 == MaxBlocks)
    throw Error("The table \"" + tablePath_ + "\" cannot grow past " + std::to_string(rowCount_) +
                " rows: a level-5 table has at most 65535 data blocks");
  std::vector<std::uint8_t> record(recordSize_, 0);
  std::vector<Blob> blobs;
  const std::uint32_t autoIncrementBefore = autoIncrement_;
  try {
    for (std::size_t i = 0; i < row.size(); ++i) encodeField(i, row[i], record.data() + offsets_[i], blobs);
  } catch (...) {
    autoIncrement_ = autoIncrementBefore;
    throw;
  }
  try {
    for (Blob& blob : blobs) storeBlob(blob);
    if (recordsInBlock_ == recordsPerBlock_) writeBlockOut(false);
  } catch (...) {
    broken_ = true;
    throw;
  }
  std::copy(record.begin(), record.end(), block_.begin() + static_cast<std::ptrdiff_t>(BlockHeaderSize + recordsInBlock_ * recordSize_));
  ++recordsInBlock_;
  ++rowCount_;
}

void TableWriter::writeBlockOut(bool last) {
  const std::uint32_t number = blocksWritten_ + 1;
  putLe16(&block_[0], last ? 0 : number + 1);
  putLe16(&block_[2], number - 1);
  putLe16(&block_[4], static_cast<std::uint32_t>((recordsInBlock_ - 1) * recordSize_));
  table_->write(headerSize_ + (number - 1) * BlockSize, block_.data(), block_.size());
  std::fill(block_.begin(), block_.end(), 0);
  recordsInBlock_ = 0;
  blocksWritten_ = number;
}

std::vector<std::uint8_t> TableWriter::tableHeader() const {
  const auto& fields = settings_.fields;
  const std::size_t n = fields.size();
  std::vector<std::uint8_t> h(FieldInfoOffset, 0);
  const auto append = [&](const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    h.insert(h.end(), bytes, bytes + size);
  };

  // The field types and sizes, then room for the pointers Paradox keeps
  // while the table is open: to the table name and to each field name.
  for (const Field& field : fields) {
    h.push_back(typeCode(field.type));
    h.push_back(static_cast<std::uint8_t>(field.size));
  }
  const std::size_t tableNamePointer = h.size();
  h.resize(h.size() + 4 + 4 * n, 0);
  const std::size_t tableNameOffset = h.size();
  std::string tableName =
      codePage_.encode(settings_.tableName.empty() ? nameOf(tablePath_) : settings_.tableName).value_or("");
  if (tableName.find('\0') != std::string::npos) tableName.clear();
  tableName.resize(std::min(tableName.size(), TableNameSize - 1));
  append(tableName.data(), tableName.size());
  h.resize(tableNameOffset + TableNameSize, 0);
  std::vector<std::size_t> nameOffsets;
  for (const Field& field : fields) {
    nameOffsets.push_back(h.size());
    const std::string name = *codePage_.encode(field.name);
    append(name.c_str(), name.size() + 1);
  }
  const std::size_t fieldNamesEnd = h.size();
  for (std::size_t i = 0; i < n; ++i) {
    h.push_back(static_cast<std::uint8_t>(i + 1));
    h.push_back(static_cast<std::uint8_t>((i + 1) >> 8));
  }
  const std::size_t fieldNumbersEnd = h.size();
  append(settings_.sortOrderName.c_str(), settings_.sortOrderName.size() + 1);
  const std::size_t usedEnd = h.size();
  if (headerSize_ > h.size()) h.resize(headerSize_, 0);

  // The in-memory pointers, written as if the header were loaded at address 0.
  putLe32(&h[tableNamePointer], static_cast<std::uint32_t>(tableNameOffset));
  for (std::size_t i = 0; i < n; ++i)
    putLe32(&h[tableNamePointer + 4 + 4 * i], static_cast<std::uint32_t>(nameOffsets[i]));

  const std::uint32_t blocks = blocksWritten_;
  putLe16(&h[0x00], static_cast<std::uint32_t>(recordSize_));
  putLe16(&h[0x02], static_cast<std::uint32_t>(headerSize_));
  h[0x04] = 2;  // an unkeyed table
  h[0x05] = static_cast<std::uint8_t>(BlockSizeCode);
  putLe32(&h[0x06], rowCount_);
  putLe16(&h[0x0A], blocks);  // the next block to use
  putLe16(&h[0x0C], blocks);  // blocks in the file
  putLe16(&h[0x0E], blocks > 0 ? 1 : 0);  // the first data block
  putLe16(&h[0x10], blocks);  // the last data block
  putLe16(&h[0x12], 3);  // a counter of changes; real tables written in one go carry 3
  putLe16(&h[0x21], static_cast<std::uint32_t>(n));
  putLe32(&h[0x25], 0xFF00FF00);  // no password at this level's old place; see 0x5C
  h[0x29] = static_cast<std::uint8_t>(settings_.sortOrder);
  h[0x2D] = 1;  // header and data change counts
  h[0x2E] = 1;
  putLe32(&h[0x30], static_cast<std::uint32_t>(tableNamePointer));
  putLe32(&h[0x34], static_cast<std::uint32_t>(FieldInfoOffset));
  h[0x39] = FileVersion;
  putLe16(&h[0x3A], blocks);
  h[0x3E] = 0x1F;
  h[0x3F] = 0x0F;
  putLe32(&h[0x49], autoIncrement_);
  putLe16(&h[0x51], static_cast<std::uint32_t>(usedEnd));
  h[0x56] = 0x20;
  putLe16(&h[0x58], 0x0100 | FileVersion);
  putLe16(&h[0x5A], 0x0100 | FileVersion);
  putLe32(&h[0x60], settings_.modifiedTime);
  putLe16(&h[0x64], static_cast<std::uint32_t>(n + 1));
  putLe16(&h[0x66], static_cast<std::uint32_t>(fieldNamesEnd - 0x58));
  putLe16(&h[0x6A], static_cast<std::uint32_t>(settings_.codePage));
  h[0x6C] = 1;
  h[0x6D] = 1;
  putLe16(&h[0x6E], static_cast<std::uint32_t>(fieldNumbersEnd - 0x58));
  putLe16(&h[0x70], 1);
  return h;
}

void TableWriter::finish() {
  checkUsable();
  try {
    if (recordsInBlock_ > 0) writeBlockOut(true);
    const std::vector<std::uint8_t> header = tableHeader();
    table_->write(0, header.data(), header.size());
    if (blobs_) {
      if (!subBlock_.empty()) writeSubBlockOut();
      blobs_->flush();
      blobs_->close();
    }
    table_->flush();
    table_->close();
  } catch (...) {
    broken_ = true;
    throw;
  }
  finished_ = true;
}

}  // namespace orl::pdx
