#include "platform/pdx/ValueText.h"

#include <cstdio>

namespace orl::pdx {
namespace {

std::string twoDigits(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

std::string dateText(const Date& date) {
  return std::to_string(date.year) + "-" + twoDigits(date.month) + "-" + twoDigits(date.day);
}

std::string timeText(const TimeOfDay& time) {
  const int seconds = time.milliseconds / 1000;
  return twoDigits(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" + twoDigits(seconds % 60);
}

}  // namespace

std::string valueText(const Value& value) {
  struct Visitor {
    std::string operator()(const Null&) const { return "(blank)"; }
    std::string operator()(const std::string& text) const { return text; }
    std::string operator()(std::int64_t number) const { return std::to_string(number); }
    std::string operator()(double number) const {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%.17g", number);
      return buffer;
    }
    std::string operator()(bool logical) const { return logical ? "True" : "False"; }
    std::string operator()(const Decimal& decimal) const { return decimal.text; }
    std::string operator()(const Date& date) const { return dateText(date); }
    std::string operator()(const TimeOfDay& time) const { return timeText(time); }
    std::string operator()(const Timestamp& stamp) const { return dateText(stamp.date) + " " + timeText(stamp.time); }
    std::string operator()(const Bytes& bytes) const { return std::to_string(bytes.size()) + " bytes"; }
  };
  return std::visit(Visitor{}, value);
}

}  // namespace orl::pdx
