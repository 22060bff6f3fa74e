#include "platform/pdx/Header.h"

#include "platform/pdx/Bytes.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/Error.h"

#include <algorithm>
#include <optional>

namespace orl::pdx::detail {
namespace {

// Offsets in the header, as the format notes give them.
constexpr std::size_t RecordSizeAt = 0x00;
constexpr std::size_t HeaderSizeAt = 0x02;
constexpr std::size_t FileTypeAt = 0x04;
constexpr std::size_t BlockSizeAt = 0x05;
constexpr std::size_t RecordCountAt = 0x06;
constexpr std::size_t FirstBlockAt = 0x0E;
constexpr std::size_t FieldCountAt = 0x21;
constexpr std::size_t KeyFieldCountAt = 0x23;
constexpr std::size_t Encryption1At = 0x25;
constexpr std::size_t SortOrderAt = 0x29;
constexpr std::size_t VersionAt = 0x39;
constexpr std::size_t AutoIncrementAt = 0x49;
constexpr std::size_t BaseHeaderEnd = 0x58;
// Level 4 and later add a second part to the header.
constexpr std::size_t Encryption2At = 0x5C;
constexpr std::size_t CodePageAt = 0x6A;
constexpr std::size_t ExtendedHeaderEnd = 0x78;
// Level 4 and later fill encryption1 with this when encryption2 holds the key.
constexpr std::uint32_t Encryption1Unused = 0xFF00FF00;

std::optional<FieldType> typeFromCode(std::uint8_t code) {
  switch (code) {
    case 0x01: return FieldType::Alpha;
    case 0x02: return FieldType::Date;
    case 0x03: return FieldType::Short;
    case 0x04: return FieldType::Long;
    case 0x05: return FieldType::Money;
    case 0x06: return FieldType::Number;
    case 0x09: return FieldType::Logical;
    case 0x0C: return FieldType::Memo;
    case 0x0D: return FieldType::Binary;
    case 0x0E: return FieldType::FormattedMemo;
    case 0x0F: return FieldType::Ole;
    case 0x10: return FieldType::Graphic;
    case 0x14: return FieldType::Time;
    case 0x15: return FieldType::Timestamp;
    case 0x16: return FieldType::Autoincrement;
    case 0x17: return FieldType::Bcd;
    case 0x18: return FieldType::Bytes;
    default: return std::nullopt;
  }
}

std::string levelOf(int versionId) {
  if (versionId == 3) return "3.0";
  if (versionId == 4) return "3.5";
  if (versionId <= 9) return "4.x";
  if (versionId <= 11) return "5.x";
  return "7.x";
}

bool sizeFits(const Field& field) {
  switch (field.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
      return field.size >= 1;
    case FieldType::Memo:
    case FieldType::Binary:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
      return field.size >= 10;
    case FieldType::Bcd:
      return field.size <= 32;
    default:
      return field.size == storedWidth(field);
  }
}

}  // namespace

int storedWidth(const Field& field) {
  switch (field.type) {
    case FieldType::Logical: return 1;
    case FieldType::Short: return 2;
    case FieldType::Date:
    case FieldType::Long:
    case FieldType::Time:
    case FieldType::Autoincrement: return 4;
    case FieldType::Money:
    case FieldType::Number:
    case FieldType::Timestamp: return 8;
    case FieldType::Bcd: return 17;
    default: return field.size;
  }
}

TableHeader readHeader(const ByteSource& source, HeaderOf kind) {
  const std::string& name = source.name();
  auto fail = [&](const std::string& what) -> Error { return Error(name + ": " + what); };

  if (source.size() < BaseHeaderEnd) throw fail("is too short to be a Paradox table");
  std::vector<std::uint8_t> head(BaseHeaderEnd);
  source.read(0, head);

  TableHeader header;
  header.versionId = head[VersionAt];
  if (header.versionId < 3 || header.versionId > 12) {
    throw fail("is not a Paradox table, or of an unknown level (file version byte " +
               std::to_string(header.versionId) + ")");
  }
  header.level = levelOf(header.versionId);
  header.fileType = head[FileTypeAt];
  if (kind == HeaderOf::DataTable && header.fileType != FileTypeKeyed && header.fileType != FileTypeUnkeyed) {
    throw fail("is not a Paradox data table (file type " + std::to_string(header.fileType) +
               "; index files cannot be opened as tables)");
  }
  header.recordSize = little16(head.data() + RecordSizeAt);
  header.headerSize = little16(head.data() + HeaderSizeAt);
  header.blockSize = head[BlockSizeAt] * 1024;
  header.recordCount = little32(head.data() + RecordCountAt);
  header.firstBlock = little16(head.data() + FirstBlockAt);
  header.keyFieldCount = little16(head.data() + KeyFieldCountAt);
  header.sortOrder = head[SortOrderAt];
  header.autoIncrement = little32(head.data() + AutoIncrementAt);
  const int fieldCount = little16(head.data() + FieldCountAt);

  if (header.blockSize < 1024 || header.blockSize > 32 * 1024) {
    throw fail("has an impossible block size (" + std::to_string(head[BlockSizeAt]) + " KB)");
  }
  if (static_cast<std::uint64_t>(header.headerSize) > source.size()) {
    throw fail("is truncated: its header is " + std::to_string(header.headerSize) + " bytes but the file is " +
               std::to_string(source.size()));
  }
  if (fieldCount < 1 || fieldCount > 255) {
    throw fail("has an impossible number of fields (" + std::to_string(fieldCount) + ")");
  }
  if (header.keyFieldCount > fieldCount) throw fail("has more key fields than fields");
  if (header.recordSize < 1 || header.recordSize > header.blockSize - DataBlockHeaderSize) {
    throw fail("has an impossible record size (" + std::to_string(header.recordSize) + " bytes)");
  }

  const bool extended = header.versionId >= 5;
  const std::size_t fieldsAt = extended ? ExtendedHeaderEnd : BaseHeaderEnd;
  const std::size_t tableNameLength = header.versionId >= 12 ? 261 : 79;
  const std::size_t tableNameAt = fieldsAt + static_cast<std::size_t>(fieldCount) * 2 + 4 +
                                  static_cast<std::size_t>(fieldCount) * 4;
  const std::size_t fieldNamesAt = tableNameAt + tableNameLength;
  if (fieldNamesAt > static_cast<std::size_t>(header.headerSize)) {
    throw fail("has an impossible header size (" + std::to_string(header.headerSize) + " bytes for " +
               std::to_string(fieldCount) + " fields)");
  }
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header.headerSize));
  source.read(0, bytes);

  if (extended) {
    header.codePage = little16(bytes.data() + CodePageAt);
    header.encrypted = little32(bytes.data() + Encryption2At) != 0;
  }
  const std::uint32_t encryption1 = little32(bytes.data() + Encryption1At);
  if (encryption1 != 0 && !(extended && encryption1 == Encryption1Unused)) header.encrypted = true;

  auto stringAt = [&](std::size_t at, std::size_t limit) -> std::optional<std::string> {
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(at);
    const auto end = bytes.begin() + static_cast<std::ptrdiff_t>(std::min(limit, bytes.size()));
    const auto nul = std::find(begin, end, std::uint8_t{0});
    if (nul == end) return std::nullopt;
    return std::string(begin, nul);
  };
  header.tableName = stringAt(tableNameAt, fieldNamesAt).value_or("");

  int recordWidth = 0;
  std::size_t nameAt = fieldNamesAt;
  std::vector<std::string> rawNames;
  for (int i = 0; i < fieldCount; ++i) {
    const std::uint8_t code = bytes[fieldsAt + static_cast<std::size_t>(i) * 2];
    const int size = bytes[fieldsAt + static_cast<std::size_t>(i) * 2 + 1];
    const auto type = typeFromCode(code);
    if (!type) {
      throw fail("field " + std::to_string(i + 1) + " has an unknown field type (code " + std::to_string(code) + ")");
    }
    auto fieldName = stringAt(nameAt, bytes.size());
    if (!fieldName) throw fail("the header ends inside the name of field " + std::to_string(i + 1));
    nameAt += fieldName->size() + 1;
    Field field{*fieldName, *type, size};
    if (!sizeFits(field)) {
      throw fail("field " + std::to_string(i + 1) + " has an impossible size (" + std::to_string(size) +
                 " for type " + std::string(1, static_cast<char>(field.type)) + ")");
    }
    recordWidth += storedWidth(field);
    header.fields.push_back(std::move(field));
  }
  if (recordWidth != header.recordSize) {
    throw fail("its record size (" + std::to_string(header.recordSize) + " bytes) does not match its fields (" +
               std::to_string(recordWidth) + " bytes)");
  }
  // Level 4 and later follow the names with the field numbers and the name of the sort order.
  if (extended) {
    const std::size_t sortNameAt = nameAt + static_cast<std::size_t>(fieldCount) * 2;
    if (sortNameAt < bytes.size()) header.sortOrderName = stringAt(sortNameAt, bytes.size()).value_or("");
  }

  std::optional<CodePage> codePage;
  try {
    codePage.emplace(header.textCodePage());
  } catch (const Error& error) {
    throw fail(error.what());
  }
  const CodePage& names = *codePage;
  for (auto& field : header.fields) {
    auto decoded = names.decode(field.name);
    if (!decoded) throw fail("the name of a field is not text in code page " + std::to_string(names.number()));
    field.name = std::move(*decoded);
  }
  header.tableName = names.decode(header.tableName).value_or("");
  return header;
}

}  // namespace orl::pdx::detail
