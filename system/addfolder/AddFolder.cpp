#include "system/addfolder/AddFolder.h"

#include "platform/common/Error.h"

namespace orl::AddFolder {

QString FileNameArray::at(int index) const {
  if (names_.isEmpty() && index == 0) return QString();
  if (index < 1 || index > upperBound())
    throw Error(ErrorNumber::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
  return names_[index - 1];
}

FileNameArray ListFilesInFolder(const QString& folder, const QString& pattern, fso::FileSystem& fileSystem) {
  // Places are added 100 first, then 50 at a time, and trimmed once at the end.
  constexpr qsizetype FirstPlaces = 100;
  constexpr qsizetype MorePlaces = 50;
  QStringList places(FirstPlaces);
  qsizetype count = 0;
  const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
  for (const QString& name : fileSystem.listNames(base, pattern)) {
    if (!IsOpenableFile(base + name, fileSystem)) continue;
    ++count;
    if (count > places.size()) places.resize(places.size() + MorePlaces);
    places[count - 1] = name;
  }
  places.resize(count);
  return FileNameArray(std::move(places));
}

bool IsOpenableFile(const QString& path, fso::FileSystem& fileSystem) {
  try {
    return fileSystem.isOpenableFile(path);
  } catch (...) {
    return false;
  }
}

bool HasUnusableCharacters(const QString& name) {
  for (qsizetype k = 0; k < name.size(); ++k) {
    const QChar c = name[k];
    if (c.isHighSurrogate() && k + 1 < name.size() && name[k + 1].isLowSurrogate()) {
      ++k;
      continue;
    }
    // Half a surrogate pair has no UTF-8 form; it would come out as "?".
    if (c.isSurrogate()) return true;
    const char16_t code = c.unicode();
    if (code < 32 || (code >= 127 && code <= 159) || code == u'?') return true;
  }
  return false;
}

}  // namespace orl::AddFolder
