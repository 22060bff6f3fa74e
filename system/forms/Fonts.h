#pragma once

#include <QFont>

namespace orl::forms {

// Arial at a point size; fontconfig maps it to a face with Arial's metrics.
inline QFont Arial(double pointSize, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(pointSize);
  font.setBold(bold);
  return font;
}

}  // namespace orl::forms
