#pragma once

#include "platform/ado/Value.h"
#include "platform/pdx/CodePage.h"
#include "platform/pdx/Value.h"

namespace orl::ado {

// A value read from a Paradox field, as the data-access layer hands it out.
// A formatted memo is long binary data to the driver: its text goes back into
// the table's code page and travels as bytes.
Value FromParadox(const pdx::Value& value, pdx::FieldType type, const pdx::CodePage& codePage);

}  // namespace orl::ado
