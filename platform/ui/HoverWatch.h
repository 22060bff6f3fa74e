#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace orl::ui {

// Calls back on every mouse move over one widget, buttons pressed or not,
// and keeps the move from reaching the widgets it sits on (so a move over a
// control inside a frame is not also a move over the frame).
class HoverWatch final : public QObject {
 public:
  HoverWatch(QWidget& watched, std::function<void()> moved);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::function<void()> moved_;
};

}  // namespace orl::ui
