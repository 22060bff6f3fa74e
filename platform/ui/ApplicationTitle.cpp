#include "platform/ui/ApplicationTitle.h"

namespace orl::ui {
namespace {

QString& Title() {
  static QString title;
  return title;
}

}  // namespace

void SetApplicationTitle(const QString& title) { Title() = title; }

QString ApplicationTitle() { return Title(); }

}  // namespace orl::ui
