#include "platform/pdx/IndexFile.h"

#include "platform/pdx/Bytes.h"
#include "platform/pdx/Error.h"
#include "platform/pdx/IndexFormat.h"

#include <algorithm>
#include <optional>

namespace orl::pdx {

using namespace detail;
using namespace indexformat;

namespace {

constexpr int FirstTableNameLength = 79;
constexpr int LongTableNameVersion = 12;  // level 7 keeps 261 bytes for the name
constexpr int LongTableNameLength = 261;
constexpr std::uint8_t BcdTypeCode = 0x17;
constexpr int BcdWidth = 17;  // the size byte of a BCD field counts digits after the point

int widthOf(const IndexFileField& field) { return field.typeCode == BcdTypeCode ? BcdWidth : field.size; }

std::optional<std::string> stringAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  if (at >= bytes.size()) return std::nullopt;
  const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
  const auto nul = std::find(begin, bytes.end(), std::uint8_t{0});
  if (nul == bytes.end()) return std::nullopt;
  return std::string(begin, nul);
}

// The names, field numbers, sort order and index name that follow the
// fields in an .Xnn/.XGn header, laid out as in a table's header.
void readNamedFields(const std::vector<std::uint8_t>& bytes, IndexFileHeader& header, int fieldCount,
                     const std::string& fileName) {
  const auto fail = [&](const std::string& what) { return Error(fileName + ": " + what); };
  const std::size_t fieldsAt = header.versionId >= 5 ? ExtendedHeaderEnd : BaseHeaderEnd;
  const std::size_t count = static_cast<std::size_t>(fieldCount);
  const std::size_t nameLength = header.versionId >= LongTableNameVersion ? LongTableNameLength : FirstTableNameLength;
  std::size_t at = fieldsAt + count * 2 + 4 + count * 4 + nameLength;
  if (fieldsAt + count * 2 > bytes.size()) throw fail("its header ends inside its field list");
  for (std::size_t i = 0; i < count; ++i) {
    IndexFileField field;
    field.typeCode = bytes[fieldsAt + i * 2];
    field.size = bytes[fieldsAt + i * 2 + 1];
    auto name = stringAt(bytes, at);
    if (!name) throw fail("its header ends inside the name of field " + std::to_string(i + 1));
    at += name->size() + 1;
    field.name = std::move(*name);
    header.fields.push_back(std::move(field));
  }
  if (at + count * 2 > bytes.size()) throw fail("its header ends inside its field numbers");
  for (std::size_t i = 0; i < count; ++i) header.fields[i].number = little16(bytes.data() + at + i * 2);
  at += count * 2;
  header.sortOrderName = stringAt(bytes, at).value_or("");
  at += header.sortOrderName.size() + 1;
  if (header.fileType == CompositeIndexType || header.fileType == CompositeMaintainedType)
    header.indexName = stringAt(bytes, at).value_or("");
}

}  // namespace

bool IndexFileHeader::isTree() const {
  return fileType == PrimaryIndexType || fileType == TreeType || fileType == CompositeTreeType;
}

IndexFileHeader readIndexHeader(const ByteSource& source) {
  const std::string& name = source.name();
  const auto fail = [&](const std::string& what) { return Error(name + ": " + what); };
  if (source.size() < BaseHeaderEnd) throw fail("is too short to be a Paradox index file");
  std::vector<std::uint8_t> head(BaseHeaderEnd);
  source.read(0, head);

  IndexFileHeader header;
  header.fileType = head[FileTypeAt];
  if (header.fileType != PrimaryIndexType && (header.fileType < SingleIndexType || header.fileType > CompositeMaintainedType))
    throw fail("is not a Paradox index file (file type " + std::to_string(header.fileType) + ")");
  header.versionId = head[VersionAt];
  header.recordSize = little16(head.data() + RecordSizeAt);
  header.headerSize = little16(head.data() + HeaderSizeAt);
  header.blockSize = head[BlockSizeAt] * 1024;
  header.recordCount = little32(head.data() + RecordCountAt);
  header.nextFreeBlock = little16(head.data() + NextFreeBlockAt);
  header.fileBlocks = little16(head.data() + FileBlocksAt);
  header.firstBlock = little16(head.data() + FirstBlockAt);
  header.lastBlock = little16(head.data() + LastBlockAt);
  header.rootBlock = little16(head.data() + RootBlockAt);
  header.levelCount = head[LevelCountAt];
  header.keyFieldCount = little16(head.data() + KeyFieldCountAt);
  header.sortOrder = head[SortOrderAt];
  const int fieldCount = little16(head.data() + FieldCountAt);

  if (header.blockSize < 1024 || header.blockSize > 32 * 1024)
    throw fail("has an impossible block size (" + std::to_string(head[BlockSizeAt]) + " KB)");
  if (header.headerSize < static_cast<int>(BaseHeaderEnd) || static_cast<std::uint64_t>(header.headerSize) > source.size())
    throw fail("has an impossible header size (" + std::to_string(header.headerSize) + " bytes)");
  if (fieldCount < 1 || fieldCount > 255) throw fail("has an impossible number of fields (" + std::to_string(fieldCount) + ")");
  if (header.recordSize < 1 || header.recordSize > header.blockSize - static_cast<int>(BlockHeaderSize))
    throw fail("has an impossible entry size (" + std::to_string(header.recordSize) + " bytes)");

  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header.headerSize));
  source.read(0, bytes);
  if (header.isTree()) {
    if (TreeFieldsAt + static_cast<std::size_t>(fieldCount) * 2 > bytes.size()) throw fail("its header ends inside its field list");
    for (int i = 0; i < fieldCount; ++i) {
      const std::size_t at = TreeFieldsAt + static_cast<std::size_t>(i) * 2;
      header.fields.push_back(IndexFileField{bytes[at], bytes[at + 1], {}, 0});
    }
  } else {
    readNamedFields(bytes, header, fieldCount, name);
  }

  int width = header.isTree() ? static_cast<int>(TreeEntryTailSize) : 0;
  for (const auto& field : header.fields) width += widthOf(field);
  if (width != header.recordSize)
    throw fail("its entry size (" + std::to_string(header.recordSize) + " bytes) does not match its fields (" +
               std::to_string(width) + " bytes)");
  return header;
}

}  // namespace orl::pdx
