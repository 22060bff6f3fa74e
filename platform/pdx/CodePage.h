#pragma once

// Text in a DOS or Windows code page, to and from UTF-8. Free of Qt.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct UConverter;

namespace orl::pdx {

class CodePage {
 public:
  // The code page a table's header names. Throws orl::pdx::Error when no
  // converter for it exists.
  explicit CodePage(int number);
  ~CodePage();
  CodePage(CodePage&&) noexcept;
  CodePage& operator=(CodePage&&) noexcept;

  int number() const { return number_; }

  // The text the bytes stand for, or nothing when some byte sequence is not
  // a character of this code page.
  std::optional<std::string> decode(std::string_view bytes) const;

  // The bytes of the text in this code page, or nothing when the text is
  // not valid UTF-8 or holds a character the code page cannot hold (never
  // a substitute or a look-alike).
  std::optional<std::string> encode(std::string_view utf8) const;

 private:
  struct Closer {
    void operator()(UConverter* converter) const;
  };
  // How many bytes from `at` on are ASCII that the code page keeps as they are.
  std::size_t asciiRun(std::string_view text, std::size_t at) const;
  std::optional<std::string> decodeByConverter(std::string_view bytes) const;
  std::optional<std::string> encodeByConverter(std::string_view utf8) const;

  int number_;
  std::unique_ptr<UConverter, Closer> converter_;
  // IBM's DOS tables exchange 0x1A, 0x1C and 0x7F with U+001C, U+007F and
  // U+001A; Windows maps those bytes to themselves, and so do we.
  bool controlsRotated_ = false;
  // For a code page of one byte a character: what each byte decodes to
  // (none when it decodes to nothing alone), and the characters that
  // encode back to exactly one byte. Text they do not cover goes the
  // converter's way, so both ways give what the converter gives.
  bool singleByte_ = false;
  std::array<std::optional<std::string>, 256> byteText_;
  std::unordered_map<char32_t, char> characterByte_;
  bool asciiKept_ = false;
};

}  // namespace orl::pdx
