#include "platform/pdx/CodePage.h"

#include "platform/pdx/CodePageTables.h"
#include "platform/pdx/Error.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

namespace orl::pdx {
namespace {

// The pages without a table of the engine's own: the Windows multi-byte
// ones, and IBM's names for anything else a header may name.
std::string converterName(int number) {
  switch (number) {
    case 932:
    case 936:
    case 949:
    case 950:
      return "windows-" + std::to_string(number);
    default:
      return "ibm-" + std::to_string(number);
  }
}

char16_t unrotate(char16_t unit) {
  switch (unit) {
    case 0x1C: return 0x1A;
    case 0x7F: return 0x1C;
    case 0x1A: return 0x7F;
    default: return unit;
  }
}

char16_t rotate(char16_t unit) {
  switch (unit) {
    case 0x1A: return 0x1C;
    case 0x1C: return 0x7F;
    case 0x7F: return 0x1A;
    default: return unit;
  }
}

// The character of well-formed UTF-8 at `at`, which is moved past it; none
// for anything else.
std::optional<char32_t> nextCharacter(std::string_view utf8, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(utf8[at]);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > utf8.size()) return std::nullopt;
  char32_t character = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(utf8[at + i]);
    if ((next & 0xC0) != 0x80) return std::nullopt;
    character = (character << 6) | (next & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF are not characters.
  constexpr char32_t Least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (character < Least[length] || character > 0x10FFFF || (character >= 0xD800 && character <= 0xDFFF))
    return std::nullopt;
  at += length;
  return character;
}

// The UTF-8 form of a character of the Basic Multilingual Plane.
std::array<char, 3> utf8Of(char16_t character, std::uint8_t& length) {
  if (character < 0x80) {
    length = 1;
    return {static_cast<char>(character), 0, 0};
  }
  if (character < 0x800) {
    length = 2;
    return {static_cast<char>(0xC0 | (character >> 6)), static_cast<char>(0x80 | (character & 0x3F)), 0};
  }
  length = 3;
  return {static_cast<char>(0xE0 | (character >> 12)), static_cast<char>(0x80 | ((character >> 6) & 0x3F)),
          static_cast<char>(0x80 | (character & 0x3F))};
}

}  // namespace

void CodePage::Closer::operator()(UConverter* converter) const { ucnv_close(converter); }

CodePage::CodePage(int number) : number_(number) {
  const detail::ByteCharacters* characters = detail::singleByteCodePage(number);
  if (characters == nullptr) {
    openConverter();
    return;
  }
  singleByte_ = true;
  for (std::size_t byte = 0; byte < characters->size(); ++byte) {
    const char16_t character = (*characters)[byte];
    Utf8Character& text = byteText_[byte];
    text.bytes = utf8Of(character, text.length);
    characterByte_.emplace(character, static_cast<char>(byte));
    keptAsIs_[byte] = byte < 0x80 && character == byte;
  }
}

void CodePage::openConverter() {
  UErrorCode status = U_ZERO_ERROR;
  const std::string name = converterName(number_);
  UConverter* converter = number_ > 0 ? ucnv_open(name.c_str(), &status) : nullptr;
  if (converter == nullptr || U_FAILURE(status)) {
    if (converter != nullptr) ucnv_close(converter);
    throw Error("code page " + std::to_string(number_) + " is not known to this system");
  }
  converter_.reset(converter);
  status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFallback(converter, false);
  if (U_FAILURE(status)) throw Error("code page " + std::to_string(number_) + " cannot be set up");
  if (ucnv_getMaxCharSize(converter) == 1) {
    const auto probe = decodeByConverter("\x1A");
    controlsRotated_ = probe && *probe == "\x1C";
  }
}

std::size_t CodePage::keptAsciiRun(std::string_view text, std::size_t at) const {
  std::size_t end = at;
  while (end < text.size() && keptAsIs_[static_cast<unsigned char>(text[end])]) ++end;
  return end - at;
}

CodePage::~CodePage() = default;
CodePage::CodePage(CodePage&&) noexcept = default;
CodePage& CodePage::operator=(CodePage&&) noexcept = default;

std::optional<std::string> CodePage::decode(std::string_view bytes) const {
  if (!singleByte_) return decodeByConverter(bytes);
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t at = 0; at < bytes.size();) {
    if (const std::size_t run = keptAsciiRun(bytes, at)) {
      text.append(bytes.substr(at, run));
      at += run;
      continue;
    }
    const Utf8Character& character = byteText_[static_cast<unsigned char>(bytes[at++])];
    text.append(character.bytes.data(), character.length);
  }
  return text;
}

std::optional<std::string> CodePage::encode(std::string_view utf8) const {
  if (!singleByte_) return encodeByConverter(utf8);
  std::string bytes;
  bytes.reserve(utf8.size());
  for (std::size_t at = 0; at < utf8.size();) {
    if (const std::size_t run = keptAsciiRun(utf8, at)) {
      bytes.append(utf8.substr(at, run));
      at += run;
      continue;
    }
    const auto character = nextCharacter(utf8, at);
    if (!character) return std::nullopt;
    const auto byte = characterByte_.find(*character);
    if (byte == characterByte_.end()) return std::nullopt;
    bytes += byte->second;
  }
  return bytes;
}

std::optional<std::string> CodePage::decodeByConverter(std::string_view bytes) const {
  if (bytes.empty()) return std::string();
  UConverter* converter = converter_.get();
  ucnv_resetToUnicode(converter);
  // A byte never yields more than two UTF-16 units.
  std::vector<char16_t> units(bytes.size() * 2 + 1);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t unitCount = ucnv_toUChars(converter, units.data(), static_cast<int32_t>(units.size()),
                                          bytes.data(), static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  if (controlsRotated_) {
    for (int32_t i = 0; i < unitCount; ++i) units[i] = unrotate(units[i]);
  }
  std::string utf8(static_cast<std::size_t>(unitCount) * 3 + 1, '\0');
  int32_t length = 0;
  status = U_ZERO_ERROR;
  u_strToUTF8(utf8.data(), static_cast<int32_t>(utf8.size()), &length, units.data(), unitCount, &status);
  if (U_FAILURE(status)) return std::nullopt;
  utf8.resize(static_cast<std::size_t>(length));
  return utf8;
}

std::optional<std::string> CodePage::encodeByConverter(std::string_view utf8) const {
  if (utf8.empty()) return std::string();
  std::vector<char16_t> units(utf8.size() + 1);
  int32_t unitCount = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(units.data(), static_cast<int32_t>(units.size()), &unitCount, utf8.data(),
                static_cast<int32_t>(utf8.size()), &status);
  if (U_FAILURE(status)) return std::nullopt;
  if (controlsRotated_) {
    for (int32_t i = 0; i < unitCount; ++i) units[i] = rotate(units[i]);
  }
  UConverter* converter = converter_.get();
  ucnv_resetFromUnicode(converter);
  std::string bytes(static_cast<std::size_t>(unitCount) * ucnv_getMaxCharSize(converter) + 1, '\0');
  status = U_ZERO_ERROR;
  const int32_t length = ucnv_fromUChars(converter, bytes.data(), static_cast<int32_t>(bytes.size()),
                                         units.data(), unitCount, &status);
  if (U_FAILURE(status)) return std::nullopt;
  bytes.resize(static_cast<std::size_t>(length));
  return bytes;
}

}  // namespace orl::pdx
