#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

namespace orl::ui {

// Positions and widths of the main window are given in twips, 15 to a pixel at 96 dots per inch.
constexpr int TwipsToPixels(int twips) { return twips / 15; }

// The kinds of control a window is built from; a window lists its controls with their kind.
enum class ControlKind { ListView, PushButton, ProgressBar, DropDown, TextBox, Frame, Label };

// A background colour: either a fixed colour or a reference to a system colour,
// which follows the desktop's palette.
class BackColor {
 public:
  static BackColor fixed(const QColor& color) { return BackColor(color, QPalette::NoRole); }
  static BackColor buttonFace() { return BackColor(QColor(), QPalette::Button); }

  bool isSystemColor() const { return role_ != QPalette::NoRole; }
  QPalette::ColorRole systemColor() const { return role_; }
  QColor color() const { return color_; }
  void applyTo(QWidget& widget) const;

  bool operator==(const BackColor& other) const {
    return role_ == other.role_ && (isSystemColor() || color_ == other.color_);
  }

 private:
  BackColor(const QColor& color, QPalette::ColorRole role) : color_(color), role_(role) {}
  QColor color_;
  QPalette::ColorRole role_;
};

// One control on a window. The wrappers offer the operations the windows use
// and nothing more; the Qt widget underneath carries the control's name as
// its object name.
class Control {
 public:
  virtual ~Control() = default;
  virtual ControlKind kind() const = 0;
};

}  // namespace orl::ui
