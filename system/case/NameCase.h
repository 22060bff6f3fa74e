#pragma once

#include <QString>

namespace orl::Case {

// Name Case: Proper Case for people's and companies' names. Words are
// separated by space, tab and carriage return, as in Proper Case, and each
// word starts with a capital; on top of that:
// - a hyphen, full stop, slash, ampersand, opening bracket or double quote
//   starts a new part of a word, which starts with a capital
//   ("Mary-Ann", "J.F.");
// - an apostrophe after a single letter at the start of a part is followed
//   by a capital ("O'Brien", "D'Arcy"), unless only one letter follows it
//   ("I'm", "O's"); after a longer start it is not ("Bill's", "Don't");
// - "Mc" and a letter always take a capital after "Mc" ("McDonald"); "Mac"
//   does only before three or more letters of which the last is none of
//   a, c, i, o, z, j, and not for the known exceptions ("MacDonald", but
//   "Mack", "Macy", "Machado", "Mackie");
// - a particle (van, von, de, da, di, du, der, den, la, le, ...) between two
//   other words stays in small letters ("Ludwig van Beethoven"); as the
//   first or the last word it is a name ("Van der Berg", "Princess Di");
// - a Roman numeral from I to XLIX as a whole word after the first is in
//   capitals ("Henry VIII"); words with L alone or M are never numerals
//   ("Liv", "Li", "Mix").
// Every character is mapped on its own by the simple case mapping, so the
// result has the UTF-16 length of the value. There is no length limit.
QString NameCase(const QString& value);

}  // namespace orl::Case
