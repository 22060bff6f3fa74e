#pragma once

// A table with what real tables written by Paradox and BDE hold and the
// engine's own writer never writes: dates and time stamps before year 1, a
// BCD value whose bytes are not the ones a number is written as, byte 0xAA
// of code page 852 ('¬'), and a file that ends after the last record of its
// last block instead of at the block's end.

#include "platform/pdx/FileOps.h"
#include "platform/pdx/Table.h"
#include "platform/pdx/Writer.h"

#include <unistd.h>

#include <bit>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace orl::test {

namespace unusual {

inline void patch(const std::string& path, std::uint64_t at, const std::vector<std::uint8_t>& bytes) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(at));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!file) throw std::runtime_error("cannot patch " + path);
}

// A date field's bytes: the day number (0001-01-01 is day 1), big-endian, sign bit flipped.
inline std::vector<std::uint8_t> storedDay(std::int32_t day) {
  const std::uint32_t raw = static_cast<std::uint32_t>(day) ^ 0x80000000u;
  return {static_cast<std::uint8_t>(raw >> 24), static_cast<std::uint8_t>(raw >> 16),
          static_cast<std::uint8_t>(raw >> 8), static_cast<std::uint8_t>(raw)};
}

// A time stamp field's bytes: milliseconds since the start of day 0 as a
// big-endian double, sign bit flipped, a negative one complemented.
inline std::vector<std::uint8_t> storedMilliseconds(double milliseconds) {
  std::uint64_t bits = std::bit_cast<std::uint64_t>(milliseconds);
  bits = (bits >> 63) ? ~bits : bits | (std::uint64_t{1} << 63);
  std::vector<std::uint8_t> bytes;
  for (int shift = 56; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(bits >> shift));
  return bytes;
}

}  // namespace unusual

// What the first record of the unusual table holds, as the reader gives it.
inline const pdx::Date UnusualBorn{-1, 12, 31};                 // day -366
inline const pdx::Timestamp UnusualSeen{{0, 1, 1}, {43'200'000}};  // day -365, noon
inline const std::string UnusualName = "x\xC2\xACy";             // "x¬y"
// Negative, scale 2, every digit nibble 0 (a negative's digits are stored
// complemented, so these are no digits at all): it reads as zero.
inline const std::vector<std::uint8_t> UnusualBcdBytes = {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Writes the table: fields Name A20, Born D, Seen @, Amount #2, City A20;
// three records. The first holds the unusual values above; the second
// ordinary ones; the third Born 0000-12-31 (day 0) and Seen at the very
// start of day 0. Code page 852. Returns the bytes of the file as it is
// left: cut after the last record.
inline std::vector<std::uint8_t> WriteUnusualTable(const std::string& path) {
  pdx::PosixFileOps files;
  pdx::WriterSettings settings;
  settings.codePage = 852;
  settings.fields = {{"Name", pdx::FieldType::Alpha, 20},
                     {"Born", pdx::FieldType::Date, 4},
                     {"Seen", pdx::FieldType::Timestamp, 8},
                     {"Amount", pdx::FieldType::Bcd, 2},
                     {"City", pdx::FieldType::Alpha, 20}};
  {
    pdx::TableWriter writer(files, path, settings);
    const pdx::Value placeholderDay = pdx::Date{2000, 1, 1};
    const pdx::Value placeholderMoment = pdx::Timestamp{{2000, 1, 1}, {0}};
    writer.append({std::string("x?y"), placeholderDay, placeholderMoment, pdx::Decimal{"1.00"},
                   std::string("prague")});
    writer.append({std::string("Dvo\xC5\x99\xC3\xA1k"), pdx::Date{1841, 9, 8}, pdx::Timestamp{{1904, 5, 1}, {0}},
                   pdx::Decimal{"12.50"}, std::string("praha")});
    writer.append({std::string("Nobody"), placeholderDay, placeholderMoment, pdx::Null{}, std::string("brno")});
    writer.finish();
  }
  const pdx::TableHeader header = pdx::Table::inspect(path);
  const std::uint64_t firstRecord = static_cast<std::uint64_t>(header.headerSize) + 6;
  const auto record = [&](int n) { return firstRecord + static_cast<std::uint64_t>(n * header.recordSize); };
  // Name 0..19, Born 20..23, Seen 24..31, Amount 32..48, City 49..68
  unusual::patch(path, record(0) + 1, {0xAA});
  unusual::patch(path, record(0) + 20, unusual::storedDay(-366));
  unusual::patch(path, record(0) + 24, unusual::storedMilliseconds(-365.0 * 86'400'000 + 43'200'000));
  unusual::patch(path, record(0) + 32, UnusualBcdBytes);
  unusual::patch(path, record(2) + 20, unusual::storedDay(0));
  unusual::patch(path, record(2) + 24, unusual::storedMilliseconds(0.0));
  if (::truncate(path.c_str(), static_cast<off_t>(record(3))) != 0) throw std::runtime_error("cannot cut " + path);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace orl::test
