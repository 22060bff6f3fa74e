#pragma once

// Text in a DOS or Windows code page, to and from UTF-8. Free of Qt.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

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
  int number_;
  std::unique_ptr<UConverter, Closer> converter_;
  // IBM's DOS tables exchange 0x1A, 0x1C and 0x7F with U+001C, U+007F and
  // U+001A; Windows maps those bytes to themselves, and so do we.
  bool controlsRotated_ = false;
};

}  // namespace orl::pdx
