#pragma once

#include "platform/ui/Control.h"

#include <QCursor>
#include <QString>
#include <QWidget>

#include <optional>
#include <utility>
#include <vector>

class QFont;
class QIcon;

namespace orl::ui {

// A window of fixed size, built once from its controls. It is loaded the
// first time it is shown and from then on only shown and hidden; closing it
// is the window's unload.
class Window : public QWidget {
  Q_OBJECT

 public:
  Window(const QString& name, const QSize& clientPixels, const QFont& font);

  void setCaption(const QString& caption);
  QString caption() const;
  void setIcon(const QIcon& icon);
  void setBackColor(const BackColor& color);
  BackColor backColor() const { return backColor_; }

  // One of the styles of PointerStyle; another value raises error 380.
  void setMousePointer(int style);
  int mousePointer() const { return pointerStyle_; }
  // The picture that the custom style shows; without one it shows the default pointer.
  void setMouseIcon(const QCursor& picture);
  bool hasMouseIcon() const { return mouseIcon_.has_value(); }

  // Loads the window on first use, then shows it without making it modal.
  void showModeless();
  void hideWindow();
  bool isLoaded() const { return loaded_; }

  // The window as the owner of the dialogs it opens.
  QWidget& handle() { return *this; }
  const std::vector<Control*>& controls() const { return controls_; }

 signals:
  void mouseMoved();

 protected:
  // Creates a control on this window (or in one of its frames) and lists it.
  template <class ControlType, class... Arguments>
  ControlType& place(Arguments&&... arguments) {
    auto* control = new ControlType(std::forward<Arguments>(arguments)...);
    controls_.push_back(control);
    return *control;
  }

  // The window's load step; runs once, before the window is first shown.
  virtual void load() = 0;
  // Shows the window before its load step ends, so that a long load is seen at work.
  void showWhileLoading();
  // The window, already loaded, is about to be shown again.
  virtual void showingAgain() {}
  // Asked when the user closes the window; false keeps it open.
  virtual bool mayUnload() = 0;
  // The window is closing.
  virtual void unload() = 0;

  void closeEvent(QCloseEvent* event) override;

 private:
  void centreOnScreen();

  std::vector<Control*> controls_;
  BackColor backColor_ = BackColor::buttonFace();
  int pointerStyle_ = 0;
  std::optional<QCursor> mouseIcon_;
  bool loaded_ = false;
  bool loading_ = false;
  bool hiddenWhileLoading_ = false;
};

}  // namespace orl::ui
