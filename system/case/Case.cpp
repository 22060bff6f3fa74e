#include "system/case/Case.h"

#include "platform/common/Error.h"

#include <unicode/uchar.h>

#include <limits>

namespace orl::Case {
namespace {

using CodePointMapping = UChar32 (*)(UChar32);
using Transform = QString (*)(const QString&);

constexpr int kLargestInt16 = std::numeric_limits<qint16>::max();

bool isWordSeparator(QChar c) {
  return c == u' ' || c == u'\t' || c == u'\r';
}

// The number of UTF-16 units of the character that starts at index: two for
// a well-formed surrogate pair, otherwise one (a lone surrogate stands alone).
qsizetype unitsAt(const QString& text, qsizetype index) {
  return text.at(index).isHighSurrogate() && index + 1 < text.size() &&
                 text.at(index + 1).isLowSurrogate()
             ? 2
             : 1;
}

// Writes the mapping of the character at index over itself in result and
// returns the number of units it covers. A mapping that would need a
// different number of UTF-16 units keeps the character as it is, so that the
// length always holds. (No simple mapping of ICU 72 does that.)
qsizetype mapCharacterAt(QString& result, qsizetype index, CodePointMapping mapping) {
  const qsizetype units = unitsAt(result, index);
  const char32_t original =
      units == 2 ? QChar::surrogateToUcs4(result.at(index), result.at(index + 1))
                 : result.at(index).unicode();
  const auto mapped = static_cast<char32_t>(mapping(static_cast<UChar32>(original)));
  if (mapped == original || QChar::requiresSurrogates(mapped) != (units == 2)) return units;
  if (units == 2) {
    result[index] = QChar(QChar::highSurrogate(mapped));
    result[index + 1] = QChar(QChar::lowSurrogate(mapped));
  } else {
    result[index] = QChar(static_cast<char16_t>(mapped));
  }
  return units;
}

QString mapFrom(QString text, qsizetype start, CodePointMapping mapping) {
  for (qsizetype index = start; index < text.size();) index += mapCharacterAt(text, index, mapping);
  return text;
}

void recaseList(ui::ListItems& list, Transform transform) {
  const int count = list.count();
  if (count > kLargestInt16) throw Error::overflow();
  for (int position = 1; position <= count; ++position) {
    list.setText(position, transform(list.text(position)));
    // Advancing the 16-bit position past 32,767 overflows after the last item.
    if (position == kLargestInt16) throw Error::overflow();
  }
}

}  // namespace

QString Upper(const QString& value) { return mapFrom(value, 0, u_toupper); }

QString Lower(const QString& value) { return mapFrom(value, 0, u_tolower); }

QString ProperCase(const QString& value) {
  // The length fits the 16-bit count only up to 32,767, and a value of
  // exactly 32,767 overflows the position counter after its last character.
  if (value.size() >= kLargestInt16) throw Error::overflow();
  QString result = Lower(value);
  bool capitaliseNext = true;
  for (qsizetype index = 0; index < result.size();) {
    const QChar first = result.at(index);
    index += capitaliseNext ? mapCharacterAt(result, index, u_toupper) : unitsAt(result, index);
    capitaliseNext = isWordSeparator(first);
  }
  return result;
}

QString SentenceCase(const QString& text) {
  if (text.isEmpty()) return text;
  QString result = text;
  const qsizetype firstUnits = mapCharacterAt(result, 0, u_toupper);
  return mapFrom(result, firstUnits, u_tolower);
}

std::optional<CaseKind> CaseKindFromChoice(const QString& choiceText) {
  const QString lowered = Lower(choiceText);
  if (lowered.contains(u"upper")) return CaseKind::Upper;
  if (lowered.contains(u"lower")) return CaseKind::Lower;
  if (lowered.contains(u"proper")) return CaseKind::Proper;
  if (lowered.contains(u"sentence")) return CaseKind::Sentence;
  return std::nullopt;
}

void ListUpperCase(ui::ListItems& list) { recaseList(list, Upper); }
void ListLowerCase(ui::ListItems& list) { recaseList(list, Lower); }
void ListProperCase(ui::ListItems& list) { recaseList(list, ProperCase); }
void ListSentenceCase(ui::ListItems& list) { recaseList(list, SentenceCase); }

}  // namespace orl::Case
