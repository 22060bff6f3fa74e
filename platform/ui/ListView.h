#pragma once

#include "platform/ui/Control.h"
#include "platform/ui/ListItems.h"

#include <QObject>
#include <QRect>
#include <QString>

class QFont;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

namespace orl::ui {

// A one-column report list with a header. Positions are 1-based. The
// selected item is the list's current one, also when several are selected.
// An entry may carry the folder it stands for, so that a table list can
// tell apart same-named tables of different folders.
class ListView final : public QObject, public Control, public ListItems {
  Q_OBJECT

 public:
  enum class Selection { Single, Several };

  ListView(QWidget& container, const QString& name, const QRect& pixels, const QFont& font,
           Selection selection);

  ControlKind kind() const override { return ControlKind::ListView; }

  void addColumn(const QString& header);
  // The width of the one column, in twips.
  void setColumnWidth(int widthTwips);
  void setToolTipText(const QString& text);

  void clear();
  // Appends an entry; the first entry of an empty list becomes its selected item.
  void add(const QString& text, const QString& folder = QString());
  int count() const override;
  QString text(int position) const override;
  void setText(int position, const QString& text) override;
  void setSelected(int position, bool selected);

  // While held, the list takes no click or key that would change its
  // selection or its selected item; it can still be scrolled.
  void setInputHeld(bool held);

  // Raise error 91 when the list has no selected item.
  QString selectedItemText() const;
  QString selectedItemFolder() const;
  // Whether the list has a selected item and shows it highlighted: a click
  // in the empty space below the entries, or unselecting every entry,
  // leaves a selected item that is not shown as chosen.
  bool showsSelectedItem() const;

 signals:
  // A click on the list, or a key that moved its selected item.
  void clicked();
  void mouseMoved();

 private:
  class Widget;
  QTreeWidgetItem* itemAt(int position) const;

  Widget* widget_;
};

}  // namespace orl::ui
