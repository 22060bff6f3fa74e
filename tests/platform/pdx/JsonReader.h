#pragma once

// A small JSON reader for the tests: enough for the reference data and the
// table tool's output (objects keep their key order; numbers keep their text).

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orl::test {

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;  // a string's value, or a number as written
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  bool isNull() const { return kind == Kind::Null; }
  const Json& operator[](std::string_view key) const {
    for (const auto& [name, value] : members) {
      if (name == key) return value;
    }
    throw std::out_of_range("no key " + std::string(key));
  }
  bool has(std::string_view key) const {
    for (const auto& member : members) {
      if (member.first == key) return true;
    }
    return false;
  }
};

// Throws std::runtime_error on malformed input.
Json parseJson(std::string_view text);

}  // namespace orl::test
