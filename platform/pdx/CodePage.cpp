#include "platform/pdx/CodePage.h"

#include "platform/pdx/Error.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <string>
#include <vector>

namespace orl::pdx {
namespace {

std::string converterName(int number) {
  switch (number) {
    case 874:
    case 932:
    case 936:
    case 949:
    case 950:
      return "windows-" + std::to_string(number);
    default:
      break;
  }
  if (number >= 1250 && number <= 1258) return "windows-" + std::to_string(number);
  return "ibm-" + std::to_string(number);
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

}  // namespace

void CodePage::Closer::operator()(UConverter* converter) const { ucnv_close(converter); }

CodePage::CodePage(int number) : number_(number) {
  UErrorCode status = U_ZERO_ERROR;
  const std::string name = converterName(number);
  UConverter* converter = number > 0 ? ucnv_open(name.c_str(), &status) : nullptr;
  if (converter == nullptr || U_FAILURE(status)) {
    if (converter != nullptr) ucnv_close(converter);
    throw Error("code page " + std::to_string(number) + " is not known to this system");
  }
  converter_.reset(converter);
  status = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  ucnv_setFallback(converter, false);
  if (U_FAILURE(status)) throw Error("code page " + std::to_string(number) + " cannot be set up");
  if (ucnv_getMaxCharSize(converter) == 1) {
    const auto probe = decode("\x1A");
    controlsRotated_ = probe && *probe == "\x1C";
  }
}

CodePage::~CodePage() = default;
CodePage::CodePage(CodePage&&) noexcept = default;
CodePage& CodePage::operator=(CodePage&&) noexcept = default;

std::optional<std::string> CodePage::decode(std::string_view bytes) const {
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

std::optional<std::string> CodePage::encode(std::string_view utf8) const {
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
