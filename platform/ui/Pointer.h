#pragma once

#include <QCursor>
#include <QString>

namespace orl::ui {

// The mouse pointer styles a window can show.
namespace PointerStyle {
inline constexpr int Default = 0;
inline constexpr int Hourglass = 11;
inline constexpr int Custom = 99;
}  // namespace PointerStyle

// Loads a cursor file (.cur) as a pointer with the hot spot the file names.
// A file that is not a loadable picture raises error 481.
QCursor LoadPointerFile(const QString& path);

}  // namespace orl::ui
