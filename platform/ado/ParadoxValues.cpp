#include "platform/ado/ParadoxValues.h"

#include "platform/common/Error.h"

#include <limits>

namespace orl::ado {

namespace {

struct Converter {
  pdx::FieldType type;
  const pdx::CodePage& codePage;

  Value operator()(const pdx::Null&) const { return Value(); }
  Value operator()(const std::string& text) const {
    if (type != pdx::FieldType::FormattedMemo) return Value::text(QString::fromStdString(text));
    const auto bytes = codePage.encode(text);
    const std::string& stored = bytes ? *bytes : text;
    return Value::bytes(pdx::Bytes(stored.begin(), stored.end()));
  }
  Value operator()(std::int64_t number) const {
    if (type == pdx::FieldType::Short && number >= std::numeric_limits<std::int16_t>::min() &&
        number <= std::numeric_limits<std::int16_t>::max())
      return Value::int16(static_cast<std::int16_t>(number));
    if (number >= std::numeric_limits<std::int32_t>::min() && number <= std::numeric_limits<std::int32_t>::max())
      return Value::int32(static_cast<std::int32_t>(number));
    throw Error::provider(QStringLiteral("The whole number %1 does not fit its field.").arg(number));
  }
  Value operator()(double number) const { return Value::real(number); }
  Value operator()(bool truth) const { return Value::boolean(truth); }
  Value operator()(const pdx::Decimal& number) const { return Value::decimal(number); }
  Value operator()(const pdx::Date& date) const { return Value::date(date); }
  Value operator()(const pdx::TimeOfDay& time) const { return Value::time(time); }
  Value operator()(const pdx::Timestamp& moment) const { return Value::timestamp(moment); }
  Value operator()(const pdx::Bytes& bytes) const { return Value::bytes(bytes); }
};

}  // namespace

Value FromParadox(const pdx::Value& value, pdx::FieldType type, const pdx::CodePage& codePage) {
  return std::visit(Converter{type, codePage}, value);
}

}  // namespace orl::ado
