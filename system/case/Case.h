#pragma once

#include "platform/ui/ListItems.h"

#include <QString>

#include <optional>

// The four case transforms and the re-casing of the preview list, by them
// and by Name Case (NameCase.h). Every
// transform maps one code point at a time by the Unicode simple case
// mapping, so a result always has the UTF-16 length of its input.
namespace orl::Case {

enum class CaseKind { Upper, Lower, Proper, Sentence, Name };

// The three characters that separate words in Proper Case and Name Case:
// space, tab and carriage return.
bool IsWordSeparator(QChar c);

QString Upper(const QString& value);
QString Lower(const QString& value);

// Upper-cases the first character and every character that follows a space,
// tab or carriage return; everything else is lower-cased. Raises
// orl::Error::overflow() for a value of 32,767 UTF-16 units or more, because
// its length and position are counted in signed 16 bits.
QString ProperCase(const QString& value);

// Upper-cases the very first character and lower-cases the rest.
QString SentenceCase(const QString& text);

// The case kind a case-choice text names: its lower-case form is searched for
// "upper", "lower", "proper", "sentence" and "name", in that order, and the
// first key word found decides. A text that names none of them gives no kind, and the
// run refuses to start with it rather than guess.
std::optional<CaseKind> CaseKindFromChoice(const QString& choiceText);

// Re-case each item's text in place, first to last. A failure ends the
// re-casing at that item: the items before it keep their new text, the
// others their old one, and the error goes to the caller. The item count and
// position are signed 16-bit numbers, so a list of 32,767 items or more
// raises orl::Error::overflow().
void ListUpperCase(ui::ListItems& list);
void ListLowerCase(ui::ListItems& list);
void ListProperCase(ui::ListItems& list);
void ListSentenceCase(ui::ListItems& list);
void ListNameCase(ui::ListItems& list);  // by NameCase (NameCase.h)

}  // namespace orl::Case
