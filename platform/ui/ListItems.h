#pragma once

#include <QString>

namespace orl::ui {

// The items of a one-column list view, as the preview re-casing sees them:
// how many there are, and each item's own text by 1-based position.
class ListItems {
 public:
  virtual ~ListItems() = default;
  virtual int count() const = 0;
  virtual QString text(int position) const = 0;
  virtual void setText(int position, const QString& text) = 0;
};

}  // namespace orl::ui
