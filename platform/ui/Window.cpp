#include "platform/ui/Window.h"

#include "platform/common/Error.h"
#include "platform/ui/HoverWatch.h"
#include "platform/ui/Pointer.h"

#include <QCloseEvent>
#include <QFont>
#include <QIcon>
#include <QScreen>

namespace orl::ui {

Window::Window(const QString& name, const QSize& clientPixels, const QFont& font) {
  setObjectName(name);
  setWindowTitle(name);
  setFont(font);
  setFixedSize(clientPixels);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  new HoverWatch(*this, [this] { emit mouseMoved(); });
}

void Window::setCaption(const QString& caption) { setWindowTitle(caption); }

QString Window::caption() const { return windowTitle(); }

void Window::setIcon(const QIcon& icon) { setWindowIcon(icon); }

void Window::setBackColor(const BackColor& color) {
  backColor_ = color;
  color.applyTo(*this);
}

void Window::setMousePointer(int style) {
  switch (style) {
    case PointerStyle::Default:
      unsetCursor();
      break;
    case PointerStyle::Hourglass:
      setCursor(Qt::WaitCursor);
      break;
    case PointerStyle::Custom:
      if (mouseIcon_) setCursor(*mouseIcon_);
      else unsetCursor();
      break;
    default:
      throw Error(ErrorNumber::InvalidPropertyValue, QStringLiteral("Invalid property value"));
  }
  pointerStyle_ = style;
}

void Window::setMouseIcon(const QCursor& picture) {
  mouseIcon_ = picture;
  if (pointerStyle_ == PointerStyle::Custom) setCursor(picture);
}

void Window::showModeless() {
  if (!loaded_) {
    loaded_ = true;
    loading_ = true;
    hiddenWhileLoading_ = false;
    load();
    loading_ = false;
    // A load step that moved on to another window leaves this one hidden.
    if (hiddenWhileLoading_) return;
    if (!isVisible()) centreOnScreen();
  } else if (isHidden()) {
    showingAgain();
  }
  show();
  raise();
  activateWindow();
}

void Window::showWhileLoading() {
  centreOnScreen();
  show();
  raise();
}

void Window::hideWindow() {
  if (loading_) hiddenWhileLoading_ = true;
  hide();
}

void Window::centreOnScreen() {
  const QScreen* where = screen();
  if (where == nullptr) return;
  QRect placed(QPoint(), size());
  placed.moveCenter(where->availableGeometry().center());
  move(placed.topLeft());
}

void Window::closeEvent(QCloseEvent* event) {
  if (!mayUnload()) {
    event->ignore();
    return;
  }
  event->accept();
  unload();
}

}  // namespace orl::ui
