#pragma once

#include <QString>

namespace orl::ui {

// The program's title, which plain message boxes show as their own. It is
// kept apart from Qt's application display name, which Qt would add to the
// title of every window and dialog ("Application Error — Orlintide").
void SetApplicationTitle(const QString& title);
QString ApplicationTitle();

}  // namespace orl::ui
