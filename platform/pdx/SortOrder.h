#pragma once

// How Paradox orders the values of a table's fields in the table's sort
// order, as its indexes hold them. Free of Qt.
//
//   const auto order = orl::pdx::KeyOrder::of(header, {1, 2});
//   if (order && order->compare(keyA.data(), keyB.data()) < 0) ...
//
// The stored bytes of every field type but Alpha sort as the values do
// (numbers big-endian with the sign flipped, blanks all zero and first).
// Alpha values sort by their bytes in the "ascii" order; in an
// international order by the order's letter weights: first the letters,
// case and accents aside, then at the first letter that differs only in
// accent or case, lower case first. A letter that sorts as two (ä as "ae")
// sorts after the two letters it stands for. A shorter value that begins
// another sorts first.

#include "platform/pdx/Table.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orl::pdx {

namespace detail {
struct ByteWeights;
}

// The order of Alpha values in one sort order.
class TextOrder {
 public:
  // The table's sort order, when the engine reproduces it exactly: "ascii"
  // in any code page, an international order in the code page its weights
  // are for. Empty otherwise: an order is never guessed.
  static std::optional<TextOrder> of(const TableHeader& header);

  // Compares two stored Alpha values of `width` bytes each (each ends at its
  // first zero byte): negative, zero or positive.
  int compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t width) const;

  // The sort orders reproduced, by the names table headers give them.
  static std::vector<std::string> reproducedNames();

 private:
  const detail::ByteWeights* weights_ = nullptr;  // none: by bytes
};

// The order of keys made of the stored bytes of some fields, one after the
// other, compared field by field.
class KeyOrder {
 public:
  // Empty when one of the fields is Alpha and the table's sort order is not
  // reproduced.
  static std::optional<KeyOrder> of(const TableHeader& header, const std::vector<int>& fieldNumbers);

  int compare(const std::uint8_t* a, const std::uint8_t* b) const;
  bool less(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
    return compare(a.data(), b.data()) < 0;
  }

 private:
  struct Part {
    std::size_t width;
    bool text;
  };
  std::optional<TextOrder> text_;
  std::vector<Part> parts_;
};

}  // namespace orl::pdx
