#include "tests/platform/pdx/JsonReader.h"

#include <charconv>
#include <cstdlib>

namespace orl::test {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Json document() {
    Json value = parseValue();
    skipSpace();
    if (at_ != text_.size()) fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(at_));
  }
  void skipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t')) ++at_;
  }
  char peek() {
    skipSpace();
    if (at_ >= text_.size()) fail("unexpected end");
    return text_[at_];
  }
  void expect(char c) {
    if (peek() != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }
  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  Json parseValue() {
    Json value;
    const char c = peek();
    if (c == '{') {
      value.kind = Json::Kind::Object;
      ++at_;
      if (peek() == '}') return ++at_, value;
      while (true) {
        if (peek() != '"') fail("expected a key");
        std::string key = parseString();
        expect(':');
        value.members.emplace_back(std::move(key), parseValue());
        if (peek() == ',') { ++at_; continue; }
        expect('}');
        return value;
      }
    }
    if (c == '[') {
      value.kind = Json::Kind::Array;
      ++at_;
      if (peek() == ']') return ++at_, value;
      while (true) {
        value.items.push_back(parseValue());
        if (peek() == ',') { ++at_; continue; }
        expect(']');
        return value;
      }
    }
    if (c == '"') {
      value.kind = Json::Kind::String;
      value.text = parseString();
      return value;
    }
    if (literal("null")) return value;
    if (literal("true")) { value.kind = Json::Kind::Bool; value.boolean = true; return value; }
    if (literal("false")) { value.kind = Json::Kind::Bool; return value; }
    const std::size_t start = at_;
    while (at_ < text_.size() && std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos) ++at_;
    if (start == at_) fail("unexpected character");
    value.kind = Json::Kind::Number;
    value.text = std::string(text_.substr(start, at_ - start));
    value.number = std::strtod(value.text.c_str(), nullptr);
    return value;
  }

  void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  unsigned hex4() {
    if (at_ + 4 > text_.size()) fail("short \\u escape");
    unsigned code = 0;
    const auto result = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, code, 16);
    if (result.ptr != text_.data() + at_ + 4) fail("bad \\u escape");
    at_ += 4;
    return code;
  }

  std::string parseString() {
    expect('"');
    std::string out;
    while (true) {
      if (at_ >= text_.size()) fail("unterminated string");
      const char c = text_[at_++];
      if (c == '"') return out;
      if (c != '\\') { out += c; continue; }
      if (at_ >= text_.size()) fail("unterminated escape");
      const char e = text_[at_++];
      switch (e) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          unsigned code = hex4();
          if (code >= 0xD800 && code < 0xDC00 && literal("\\u")) code = 0x10000 + ((code - 0xD800) << 10) + (hex4() - 0xDC00);
          appendUtf8(out, code);
          break;
        }
        default: out += e;
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

Json parseJson(std::string_view text) { return Parser(text).document(); }

}  // namespace orl::test
