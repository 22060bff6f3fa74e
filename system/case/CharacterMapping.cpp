#include "system/case/CharacterMapping.h"

namespace orl::Case {

qsizetype UnitsAt(const QString& text, qsizetype index) {
  return text.at(index).isHighSurrogate() && index + 1 < text.size() && text.at(index + 1).isLowSurrogate() ? 2
                                                                                                             : 1;
}

char32_t CodePointAt(const QString& text, qsizetype index) {
  return UnitsAt(text, index) == 2 ? QChar::surrogateToUcs4(text.at(index), text.at(index + 1))
                                   : text.at(index).unicode();
}

qsizetype MapCharacterAt(QString& text, qsizetype index, CodePointMapping mapping) {
  const qsizetype units = UnitsAt(text, index);
  const char32_t original = CodePointAt(text, index);
  const auto mapped = static_cast<char32_t>(mapping(static_cast<UChar32>(original)));
  if (mapped == original || QChar::requiresSurrogates(mapped) != (units == 2)) return units;
  if (units == 2) {
    text[index] = QChar(QChar::highSurrogate(mapped));
    text[index + 1] = QChar(QChar::lowSurrogate(mapped));
  } else {
    text[index] = QChar(static_cast<char16_t>(mapped));
  }
  return units;
}

QString MapFrom(QString text, qsizetype start, CodePointMapping mapping) {
  for (qsizetype index = start; index < text.size();) index += MapCharacterAt(text, index, mapping);
  return text;
}

}  // namespace orl::Case
