#include "system/case/Case.h"

#include "platform/common/Error.h"
#include "system/case/CharacterMapping.h"
#include "system/case/NameCase.h"

#include <unicode/uchar.h>

#include <limits>

namespace orl::Case {
namespace {

using Transform = QString (*)(const QString&);

constexpr int kLargestInt16 = std::numeric_limits<qint16>::max();

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

bool IsWordSeparator(QChar c) { return c == u' ' || c == u'\t' || c == u'\r'; }

QString Upper(const QString& value) { return MapFrom(value, 0, u_toupper); }

QString Lower(const QString& value) { return MapFrom(value, 0, u_tolower); }

QString ProperCase(const QString& value) {
  // The length fits the 16-bit count only up to 32,767, and a value of
  // exactly 32,767 overflows the position counter after its last character.
  if (value.size() >= kLargestInt16) throw Error::overflow();
  QString result = Lower(value);
  bool capitaliseNext = true;
  for (qsizetype index = 0; index < result.size();) {
    const QChar first = result.at(index);
    index += capitaliseNext ? MapCharacterAt(result, index, u_toupper) : UnitsAt(result, index);
    capitaliseNext = IsWordSeparator(first);
  }
  return result;
}

QString SentenceCase(const QString& text) {
  if (text.isEmpty()) return text;
  QString result = text;
  const qsizetype firstUnits = MapCharacterAt(result, 0, u_toupper);
  return MapFrom(result, firstUnits, u_tolower);
}

std::optional<CaseKind> CaseKindFromChoice(const QString& choiceText) {
  const QString lowered = Lower(choiceText);
  if (lowered.contains(u"upper")) return CaseKind::Upper;
  if (lowered.contains(u"lower")) return CaseKind::Lower;
  if (lowered.contains(u"proper")) return CaseKind::Proper;
  if (lowered.contains(u"sentence")) return CaseKind::Sentence;
  if (lowered.contains(u"name")) return CaseKind::Name;
  return std::nullopt;
}

void ListUpperCase(ui::ListItems& list) { recaseList(list, Upper); }
void ListLowerCase(ui::ListItems& list) { recaseList(list, Lower); }
void ListProperCase(ui::ListItems& list) { recaseList(list, ProperCase); }
void ListSentenceCase(ui::ListItems& list) { recaseList(list, SentenceCase); }
void ListNameCase(ui::ListItems& list) { recaseList(list, NameCase); }

}  // namespace orl::Case
