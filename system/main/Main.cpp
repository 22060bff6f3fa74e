#include "system/main/Main.h"

#include "platform/ui/ApplicationTitle.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QStorageInfo>

#include <algorithm>
#include <cmath>

namespace orl::Main {

bool PathExists(const QString& path) {
  if (path.isEmpty()) return false;
  const QFileInfo info(path);
  return info.exists() && info.lastModified().isValid();
}

void WaitSeconds(double seconds, TimeOfDayClock& clock, ui::EventPump& pump) {
  constexpr double SecondsPerDay = 86400.0;
  // The longest stretch the window goes without its events being run.
  constexpr double LongestSleep = 0.02;
  const double start = clock.secondsSinceMidnight();
  for (;;) {
    const double now = clock.secondsSinceMidnight();
    const double elapsed = now < start ? now + SecondsPerDay - start : now - start;
    if (elapsed >= seconds) return;
    pump.pumpOnce();
    const double sleep = std::min(seconds - elapsed, LongestSleep);
    pump.pumpFor(std::max(1, static_cast<int>(std::ceil(sleep * 1000.0))));
  }
}

QString CollapseBackslashes(const QString& path) {
  const QString doubled = QStringLiteral("//");
  const QString single = QStringLiteral("/");
  // Every absolute path here starts with one "/"; only a leading run of two
  // or more (a network path) is kept, as exactly two.
  if (!path.startsWith(doubled)) return QString(path).replace(doubled, single);
  qsizetype k = 2;
  while (k < path.size() && path[k] == QLatin1Char('/')) ++k;
  return doubled + path.mid(k).replace(doubled, single);
}

QString GetFileNameFromPath(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString ApplicationTitleFor(const QString& productTitle) {
  QString title = productTitle;
  while (title.size() > 40) {
    // A title without a space cannot be cut at a word; keep its first 40 characters.
    const qsizetype lastSpace = title.lastIndexOf(QLatin1Char(' '));
    title = lastSpace < 0 ? title.left(40) : title.left(lastSpace);
  }
  return title;
}

void SetApplicationTitle() { ui::SetApplicationTitle(ApplicationTitleFor(ProductTitle)); }

QString ProgramDriveRoot(const QString& programFolder) {
  QString root = QStorageInfo(programFolder).rootPath();
  if (root.isEmpty()) root = QStringLiteral("/");
  if (!root.endsWith(QLatin1Char('/'))) root += QLatin1Char('/');
  return root;
}

}  // namespace orl::Main
