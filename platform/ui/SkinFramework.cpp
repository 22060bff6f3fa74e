#include "platform/ui/SkinFramework.h"

#include "platform/common/Error.h"

#include <QFile>
#include <QWidget>

namespace orl::ui {

void SkinFramework::loadSkin(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) throw Error::fileNotFound(path);
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError)
    throw Error(ErrorNumber::PathFileAccessError, QStringLiteral("Could not read the skin %1").arg(path));
  styleSheet_ = QString::fromUtf8(bytes);
}

void SkinFramework::applyWindow(QWidget& window) const { window.setStyleSheet(styleSheet_); }

}  // namespace orl::ui
