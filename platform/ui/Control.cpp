#include "platform/ui/Control.h"

#include <QWidget>

namespace orl::ui {

void BackColor::applyTo(QWidget& widget) const {
  widget.setAutoFillBackground(true);
  if (isSystemColor()) {
    // The role is looked up in the palette when the widget paints, so the
    // colour follows the system's choice.
    widget.setPalette(QPalette());
    widget.setBackgroundRole(role_);
    return;
  }
  QPalette palette = widget.palette();
  palette.setColor(QPalette::Window, color_);
  widget.setPalette(palette);
  widget.setBackgroundRole(QPalette::Window);
}

}  // namespace orl::ui
