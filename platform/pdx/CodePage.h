#pragma once

// Text in a DOS or Windows code page, to and from UTF-8. Free of Qt.
//
// The single-byte pages Paradox tables name go through the engine's own
// tables (CodePageTables.h): every byte decodes to a character, and
// encode(decode(bytes)) gives the same bytes back. The multi-byte pages
// (932, 936, 949, 950) and any other number go through ICU.

#include <array>
#include <cstdint>
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
  // table or converter for it exists.
  explicit CodePage(int number);
  ~CodePage();
  CodePage(CodePage&&) noexcept;
  CodePage& operator=(CodePage&&) noexcept;

  int number() const { return number_; }

  // The text the bytes stand for, or nothing when some byte sequence is not
  // a character of this code page (only a multi-byte page has such).
  std::optional<std::string> decode(std::string_view bytes) const;

  // The bytes of the text in this code page, or nothing when the text is
  // not valid UTF-8 or holds a character the code page cannot hold (never
  // a substitute or a look-alike).
  std::optional<std::string> encode(std::string_view utf8) const;

 private:
  struct Closer {
    void operator()(UConverter* converter) const;
  };
  // A character of a single-byte page, as UTF-8.
  struct Utf8Character {
    std::array<char, 3> bytes;
    std::uint8_t length;
  };

  void openConverter();
  // How many bytes from `at` on are ASCII that the code page keeps as they are.
  std::size_t keptAsciiRun(std::string_view text, std::size_t at) const;
  std::optional<std::string> decodeByConverter(std::string_view bytes) const;
  std::optional<std::string> encodeByConverter(std::string_view utf8) const;

  int number_;
  bool singleByte_ = false;
  // For a single-byte page: what each byte decodes to, the characters the
  // bytes hold, and the ASCII bytes that stand for themselves (all but one
  // in code page 864, whose 0x25 is the Arabic percent sign).
  std::array<Utf8Character, 256> byteText_{};
  std::unordered_map<char32_t, char> characterByte_;
  std::array<bool, 256> keptAsIs_{};

  std::unique_ptr<UConverter, Closer> converter_;
  // IBM's DOS tables in ICU exchange 0x1A, 0x1C and 0x7F with U+001C,
  // U+007F and U+001A; Windows maps those bytes to themselves, and so do we.
  bool controlsRotated_ = false;
};

}  // namespace orl::pdx
