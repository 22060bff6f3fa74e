#pragma once

// A value as an error message shows it. Free of Qt.

#include "platform/pdx/Value.h"

#include <string>

namespace orl::pdx {

// Text as it is, numbers in decimal, dates YYYY-MM-DD, a blank as "(blank)".
std::string valueText(const Value& value);

}  // namespace orl::pdx
