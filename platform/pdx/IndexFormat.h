#pragma once

// Layout facts of the index files (.PX, .Xnn/.Ynn, .XGn/.YGn), shared by the
// index reader, the writer and the checker. Free of Qt.
//
// Every index file is built like a table file: a header, then blocks that
// begin with the next and previous block's numbers and the offset of their
// last entry. The .Xnn and .XGn files are tables of their own (sorted on the
// indexed fields, then the primary key, then the data block of the record);
// the .PX, .Ynn and .YGn files are B-trees over a table's blocks: the .PX
// over the data table's, a .Ynn/.YGn over its .Xnn/.XGn's.

#include <cstddef>
#include <cstdint>

namespace orl::pdx::indexformat {

// The header's file-type byte.
inline constexpr int PrimaryIndexType = 1;        // .PX
inline constexpr int SingleIndexType = 3;         // .Xnn, not maintained
inline constexpr int TreeType = 4;                // .Ynn
inline constexpr int SingleMaintainedType = 5;    // .Xnn, maintained
inline constexpr int CompositeIndexType = 6;      // .XGn, not maintained
inline constexpr int CompositeTreeType = 7;       // .YGn
inline constexpr int CompositeMaintainedType = 8; // .XGn, maintained

// Offsets in every index file's header (the rest as in a table's header).
inline constexpr std::size_t RecordSizeAt = 0x00;
inline constexpr std::size_t HeaderSizeAt = 0x02;
inline constexpr std::size_t FileTypeAt = 0x04;
inline constexpr std::size_t BlockSizeAt = 0x05;
inline constexpr std::size_t RecordCountAt = 0x06;
inline constexpr std::size_t NextFreeBlockAt = 0x0A;
inline constexpr std::size_t FileBlocksAt = 0x0C;
inline constexpr std::size_t FirstBlockAt = 0x0E;
inline constexpr std::size_t LastBlockAt = 0x10;
inline constexpr std::size_t RootBlockAt = 0x1E;   // a tree's root block
inline constexpr std::size_t LevelCountAt = 0x20;  // a tree's levels
inline constexpr std::size_t FieldCountAt = 0x21;
inline constexpr std::size_t KeyFieldCountAt = 0x23;
inline constexpr std::size_t SortOrderAt = 0x29;
inline constexpr std::size_t VersionAt = 0x39;
// A tree's header ends in its key fields' types and sizes, then one pointer
// and the file's name; it names no fields.
inline constexpr std::size_t TreeFieldsAt = 0x58;
// An .Xnn/.XGn header is laid out as a table's: fields at these offsets.
inline constexpr std::size_t BaseHeaderEnd = 0x58;
inline constexpr std::size_t ExtendedHeaderEnd = 0x78;

inline constexpr std::size_t BlockHeaderSize = 6;

// A tree entry is its key, then three 16-bit numbers stored as Short values
// (big-endian, sign bit flipped): the block it leads to, the records below
// it, and one that is always zero.
inline constexpr std::size_t TreeEntryTailSize = 6;

// The last field of an .Xnn/.XGn record: the data block that holds the record.
inline constexpr std::size_t BlockNumberFieldSize = 2;

}  // namespace orl::pdx::indexformat
