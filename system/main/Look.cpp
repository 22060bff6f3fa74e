#include "system/main/Look.h"

#include "platform/ui/Frame.h"
#include "platform/ui/Label.h"
#include "platform/ui/SkinFramework.h"
#include "platform/ui/Window.h"

#include <QFileInfo>

namespace orl::Main {

void SetFormColors(ui::Window& window) {
  const ui::BackColor buttonFace = ui::BackColor::buttonFace();
  window.setBackColor(buttonFace);
  for (ui::Control* control : window.controls()) {
    switch (control->kind()) {
      case ui::ControlKind::Frame:
        static_cast<ui::Frame*>(control)->setBackColor(buttonFace);
        break;
      case ui::ControlKind::Label:
        static_cast<ui::Label*>(control)->setBackColor(buttonFace);
        break;
      default:
        break;
    }
  }
}

void ApplySkin(ui::Window& window, ui::SkinFramework& skin, const QString& programFolder) {
  const QString skinFile = programFolder + QStringLiteral("/x/o.cjs");
  // Only a plain file counts; a hidden one (a name beginning with ".") can't be this name.
  if (!QFileInfo(skinFile).isFile()) return;
  SetFormColors(window);
  skin.loadSkin(skinFile);
  skin.applyWindow(window.handle());
}

}  // namespace orl::Main
