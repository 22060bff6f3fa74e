#include "platform/pdx/SortOrder.h"

#include "platform/pdx/Header.h"
#include "platform/pdx/SortOrderWeights.h"

#include <cstring>

namespace orl::pdx {
namespace {

using detail::ByteWeights;

bool isAscii(const std::string& name) {
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "ascii";
}

int sign(int value) { return (value > 0) - (value < 0); }

// The weights of a value one after the other, a letter that sorts as two
// giving both.
class WeightWalk {
 public:
  WeightWalk(const ByteWeights* weights, const std::uint8_t* begin, std::size_t length)
      : weights_(weights), at_(begin), end_(begin + length) {}

  const ByteWeights* next() {
    if (pending_ != 0) {
      const ByteWeights* second = &weights_[pending_];
      pending_ = 0;
      return second;
    }
    if (at_ == end_) return nullptr;
    const ByteWeights* weights = &weights_[*at_++];
    pending_ = weights->expandsTo;
    return weights;
  }
  // Whether the weights last given are the first of a letter that sorts as two.
  bool secondWaiting() const { return pending_ != 0; }

 private:
  const ByteWeights* weights_;
  const std::uint8_t* at_;
  const std::uint8_t* end_;
  std::uint8_t pending_ = 0;
};

}  // namespace

std::optional<TextOrder> TextOrder::of(const TableHeader& header) {
  TextOrder order;
  if (isAscii(header.sortOrderName)) return order;
  for (const auto& known : detail::internationalSortOrders()) {
    if (header.sortOrderName == known.name && header.textCodePage() == known.codePage) {
      order.weights_ = known.weights;
      return order;
    }
  }
  return std::nullopt;
}

std::vector<std::string> TextOrder::reproducedNames() {
  std::vector<std::string> names{"ascii"};
  for (const auto& known : detail::internationalSortOrders()) names.push_back(known.name);
  return names;
}

int TextOrder::compare(const std::uint8_t* a, const std::uint8_t* b, std::size_t width) const {
  if (weights_ == nullptr) return sign(std::memcmp(a, b, width));
  const auto length = [width](const std::uint8_t* value) {
    const void* end = std::memchr(value, 0, width);
    return end == nullptr ? width : static_cast<std::size_t>(static_cast<const std::uint8_t*>(end) - value);
  };
  WeightWalk left(weights_, a, length(a));
  WeightWalk right(weights_, b, length(b));
  // Accent and case decide at their first difference, and only when the
  // letters are all the same; so does a letter that sorts as two.
  int bySecondary = 0;
  int byExpansion = 0;
  while (true) {
    const ByteWeights* x = left.next();
    const ByteWeights* y = right.next();
    if (x == nullptr || y == nullptr) {
      if (x != y) return x == nullptr ? -1 : 1;
      break;
    }
    if (x->primary != y->primary) return x->primary < y->primary ? -1 : 1;
    if (x->secondary != y->secondary) {
      if (bySecondary == 0) bySecondary = x->secondary < y->secondary ? -1 : 1;
    } else if (left.secondWaiting() != right.secondWaiting() && byExpansion == 0) {
      byExpansion = left.secondWaiting() ? 1 : -1;
    }
  }
  return bySecondary != 0 ? bySecondary : byExpansion;
}

std::optional<KeyOrder> KeyOrder::of(const TableHeader& header, const std::vector<int>& fieldNumbers) {
  KeyOrder order;
  for (int number : fieldNumbers) {
    const Field& field = header.fields.at(static_cast<std::size_t>(number - 1));
    const bool text = field.type == FieldType::Alpha;
    if (text && !order.text_) {
      order.text_ = TextOrder::of(header);
      if (!order.text_) return std::nullopt;
    }
    order.parts_.push_back(Part{static_cast<std::size_t>(detail::storedWidth(field)), text});
  }
  return order;
}

int KeyOrder::compare(const std::uint8_t* a, const std::uint8_t* b) const {
  for (const Part& part : parts_) {
    const int result = part.text ? text_->compare(a, b, part.width) : sign(std::memcmp(a, b, part.width));
    if (result != 0) return result;
    a += part.width;
    b += part.width;
  }
  return 0;
}

}  // namespace orl::pdx
