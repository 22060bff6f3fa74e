#include "system/case/NameCase.h"

#include "system/case/Case.h"
#include "system/case/CharacterMapping.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <vector>

namespace orl::Case {
namespace {

// A stretch [begin, end) of UTF-16 units of the value.
struct Span {
  qsizetype begin, end;
};

// Particles of Dutch, German, French, Italian, Portuguese, Arabic and Welsh
// names, as name-casing libraries list them. "ben", "el" and "lo" are left
// out: as forenames and surnames (Ben, El, Lo) they are more common.
constexpr std::array<std::u16string_view, 19> Particles = {
    u"al", u"ap",  u"bin", u"da",  u"de", u"del", u"della", u"delle", u"den", u"der",
    u"di", u"dos", u"du",  u"la",  u"le", u"ten", u"ter",   u"van",   u"von"};

// Names that begin with "mac" and a capital-taking rest but are not
// Mac + name ("Machado", "Mackintosh", "Macedonia"); each stands for every
// name it begins ("machin" for "Machine" and "Machinery" too).
constexpr std::array<std::u16string_view, 34> MacExceptions = {
    u"macab",   u"macaro",  u"macaul",     u"macbeth", u"macedo",  u"macevicius", u"machado",
    u"machar",  u"machell", u"machen",     u"machet",  u"machiel", u"machin",     u"machlin",
    u"machon",  u"macias",  u"macin",      u"maciol",  u"maciulis", u"macken",    u"mackell",
    u"mackey",  u"mackie",  u"mackintosh", u"mackle",  u"macklem", u"macklin",    u"mackley",
    u"mackmin", u"mackrell", u"maclin",    u"macomber", u"macquarie", u"macro"};

// Mac names that take the capital although the rule would not give it.
constexpr std::array<std::u16string_view, 2> MacAlways = {u"macisaac", u"macmurdo"};

bool startsWithAny(QStringView text, const auto& prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(), [&](std::u16string_view prefix) {
    return text.startsWith(QStringView(prefix.data(), static_cast<qsizetype>(prefix.size())));
  });
}

QStringView viewOf(const QString& text, Span span) { return QStringView(text).sliced(span.begin, span.end - span.begin); }

bool isLetterAt(const QString& text, qsizetype index) { return QChar::isLetter(CodePointAt(text, index)); }

void upperAt(QString& text, qsizetype index) { MapCharacterAt(text, index, u_toupper); }

bool startsPart(QChar c) {
  return c == u'-' || c == u'.' || c == u'/' || c == u'&' || c == u'(' || c == u'[' || c == u'{' || c == u'"';
}

bool isApostrophe(QChar c) { return c == u'\'' || c == u'\u2019'; }

// The end of the run of letters that starts at from, at most until end.
qsizetype lettersEnd(const QString& text, qsizetype from, qsizetype end) {
  while (from < end && isLetterAt(text, from)) from += UnitsAt(text, from);
  return std::min(from, end);
}

std::vector<Span> wordsOf(const QString& text) {
  std::vector<Span> words;
  for (qsizetype index = 0; index < text.size(); ++index) {
    if (IsWordSeparator(text.at(index))) continue;
    const qsizetype begin = index;
    while (index < text.size() && !IsWordSeparator(text.at(index))) ++index;
    words.push_back({begin, index});
  }
  return words;
}

bool isParticle(QStringView word) {
  return std::any_of(Particles.begin(), Particles.end(), [&](std::u16string_view particle) {
    return word == QStringView(particle.data(), static_cast<qsizetype>(particle.size()));
  });
}

// I to XLIX in their usual form: tens (x, xx, xxx or xl), then units.
bool isRomanNumeral(QStringView letters) {
  static const std::array<QStringView, 10> Units = {u"", u"i", u"ii", u"iii", u"iv", u"v", u"vi", u"vii", u"viii", u"ix"};
  if (letters.isEmpty()) return false;
  qsizetype tens = 0;
  if (letters.startsWith(u"xl"))
    tens = 2;
  else
    while (tens < 3 && tens < letters.size() && letters.at(tens) == u'x') ++tens;
  return std::find(Units.begin(), Units.end(), letters.sliced(tens)) != Units.end();
}

// Upper-cases a word that is a numeral, followed by nothing but punctuation
// ("VIII,"); true when it was one.
bool upperRomanNumeral(QString& text, Span word) {
  const qsizetype lettersStop = lettersEnd(text, word.begin, word.end);
  const QStringView rest = viewOf(text, {lettersStop, word.end});
  if (std::any_of(rest.begin(), rest.end(), [](QChar c) { return c.isLetterOrNumber(); })) return false;
  if (!isRomanNumeral(viewOf(text, {word.begin, lettersStop}))) return false;
  for (qsizetype index = word.begin; index < lettersStop; ++index) upperAt(text, index);
  return true;
}

bool takesMacCapital(QStringView letters) {
  assert(letters.startsWith(u"mac"));
  if (startsWithAny(letters, MacAlways)) return true;
  if (startsWithAny(letters, MacExceptions)) return false;
  return letters.size() - 3 >= 3 && !QStringView(u"aciozj").contains(letters.back());
}

// The capital after "Mc" or "Mac" at the start of a part's letters.
void capitaliseAfterScottishPrefix(QString& text, Span letters) {
  const QStringView run = viewOf(text, letters);
  if (run.startsWith(u"mc") && run.size() > 2)
    upperAt(text, letters.begin + 2);
  else if (run.startsWith(u"mac") && takesMacCapital(run))
    upperAt(text, letters.begin + 3);
}

void casePart(QString& text, Span part) {
  if (part.begin >= part.end) return;
  // "o'brien": a single letter, an apostrophe and at least two letters.
  const qsizetype afterApostrophe = part.begin + 2;
  if (afterApostrophe < part.end && text.at(part.begin).isLetter() && isApostrophe(text.at(part.begin + 1)) &&
      lettersEnd(text, afterApostrophe, part.end) - afterApostrophe >= 2) {
    upperAt(text, part.begin);
    casePart(text, {afterApostrophe, part.end});
    return;
  }
  capitaliseAfterScottishPrefix(text, {part.begin, lettersEnd(text, part.begin, part.end)});
  upperAt(text, part.begin);
}

void caseWord(QString& text, Span word) {
  qsizetype partBegin = word.begin;
  for (qsizetype index = word.begin; index <= word.end; ++index) {
    if (index < word.end && !startsPart(text.at(index))) continue;
    casePart(text, {partBegin, index});
    partBegin = index + 1;
  }
}

}  // namespace

QString NameCase(const QString& value) {
  QString result = Lower(value);
  const std::vector<Span> words = wordsOf(result);
  for (std::size_t k = 0; k < words.size(); ++k) {
    const bool inside = k > 0 && k + 1 < words.size();
    if (inside && isParticle(viewOf(result, words[k]))) continue;
    if (k > 0 && upperRomanNumeral(result, words[k])) continue;
    caseWord(result, words[k]);
  }
  assert(result.size() == value.size());
  return result;
}

}  // namespace orl::Case
