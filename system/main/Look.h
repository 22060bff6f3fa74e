#pragma once

#include <QString>

namespace orl::ui {
class SkinFramework;
class Window;
}  // namespace orl::ui

namespace orl::Main {

// Gives the window, its frames and its labels the system's button-face colour;
// the other controls keep their own colours.
void SetFormColors(ui::Window& window);

// When the program folder holds the skin file x/o.cjs, gives the window the
// button-face colours and lays the skin over it; otherwise changes nothing.
// A skin that can't be loaded raises, after the colours have been set.
void ApplySkin(ui::Window& window, ui::SkinFramework& skin, const QString& programFolder);

}  // namespace orl::Main
