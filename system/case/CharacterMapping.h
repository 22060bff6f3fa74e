#pragma once

#include <QString>

#include <unicode/umachine.h>

// Mapping one character of a text in place by a Unicode simple case
// mapping, so that the text keeps its UTF-16 length.
namespace orl::Case {

using CodePointMapping = UChar32 (*)(UChar32);

// The number of UTF-16 units of the character that starts at index: two for
// a well-formed surrogate pair, otherwise one (a lone surrogate stands alone).
qsizetype UnitsAt(const QString& text, qsizetype index);

// The code point of the character that starts at index.
char32_t CodePointAt(const QString& text, qsizetype index);

// Writes the mapping of the character at index over itself and returns the
// number of units it covers. A mapping that would need a different number
// of UTF-16 units keeps the character as it is, so that the length always
// holds. (No simple mapping of ICU 72 does that.)
qsizetype MapCharacterAt(QString& text, qsizetype index, CodePointMapping mapping);

// Maps every character from start to the end.
QString MapFrom(QString text, qsizetype start, CodePointMapping mapping);

}  // namespace orl::Case
