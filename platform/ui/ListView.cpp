#include "platform/ui/ListView.h"

#include "platform/common/Error.h"
#include "platform/ui/HoverWatch.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeWidget>

namespace orl::ui {
namespace {

constexpr int FolderRole = Qt::UserRole;

}  // namespace

class ListView::Widget final : public QTreeWidget {
 public:
  Widget(QWidget& container, ListView& owner) : QTreeWidget(&container), owner_(owner) {
    viewport()->installEventFilter(this);
  }

  bool held = false;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (held && watched == viewport() && mayChangeSelection(*event)) return true;
    return QTreeWidget::eventFilter(watched, event);
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    QTreeWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) emit owner_.clicked();
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (held) return;
    QTreeWidgetItem* before = currentItem();
    QTreeWidget::keyPressEvent(event);
    if (currentItem() != before) emit owner_.clicked();
  }

 private:
  static bool mayChangeSelection(const QEvent& event) {
    switch (event.type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease:
        return true;
      case QEvent::MouseMove:
        // A move with a button down drags the selection along; a plain move
        // still reaches the hover rule.
        return static_cast<const QMouseEvent&>(event).buttons() != Qt::NoButton;
      default:
        return false;
    }
  }

  ListView& owner_;
};

ListView::ListView(QWidget& container, const QString& name, const QRect& pixels, const QFont& font,
                   Selection selection)
    : QObject(&container), widget_(new Widget(container, *this)) {
  widget_->setObjectName(name);
  widget_->setGeometry(pixels);
  widget_->setFont(font);
  widget_->setRootIsDecorated(false);
  widget_->setItemsExpandable(false);
  widget_->setUniformRowHeights(true);
  widget_->setColumnCount(0);
  widget_->header()->setStretchLastSection(false);
  widget_->setHeaderHidden(true);
  widget_->setSelectionMode(selection == Selection::Several ? QAbstractItemView::ExtendedSelection
                                                             : QAbstractItemView::SingleSelection);
  widget_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  new HoverWatch(*widget_->viewport(), [this] { emit mouseMoved(); });
  new HoverWatch(*widget_, [this] { emit mouseMoved(); });
}

void ListView::addColumn(const QString& header) {
  widget_->setColumnCount(1);
  widget_->setHeaderLabels({header});
  widget_->setHeaderHidden(false);
}

void ListView::setColumnWidth(int widthTwips) { widget_->setColumnWidth(0, TwipsToPixels(widthTwips)); }

void ListView::setToolTipText(const QString& text) {
  widget_->setToolTip(text);
  widget_->viewport()->setToolTip(text);
}

void ListView::setInputHeld(bool held) { widget_->held = held; }

void ListView::clear() { widget_->clear(); }

void ListView::add(const QString& text, const QString& folder) {
  // Before the column header exists the list still holds one column of entries.
  if (widget_->columnCount() == 0) widget_->setColumnCount(1);
  const bool first = widget_->topLevelItemCount() == 0;
  auto* item = new QTreeWidgetItem(widget_, {text});
  if (!folder.isNull()) item->setData(0, FolderRole, folder);
  if (first) widget_->setCurrentItem(item);
}

int ListView::count() const { return widget_->topLevelItemCount(); }

QTreeWidgetItem* ListView::itemAt(int position) const {
  if (position < 1 || position > count())
    throw Error(ErrorNumber::SubscriptOutOfRange, QStringLiteral("Index out of bounds"));
  return widget_->topLevelItem(position - 1);
}

QString ListView::text(int position) const {
  return itemAt(position)->text(0);
}

void ListView::setText(int position, const QString& text) {
  itemAt(position)->setText(0, text);
}

void ListView::setSelected(int position, bool selected) {
  itemAt(position)->setSelected(selected);
}

QString ListView::selectedItemText() const {
  const QTreeWidgetItem* item = widget_->currentItem();
  if (item == nullptr)
    throw Error(ErrorNumber::ObjectNotSet, QStringLiteral("No entry of the list is selected"));
  return item->text(0);
}

bool ListView::showsSelectedItem() const {
  const QTreeWidgetItem* item = widget_->currentItem();
  return item != nullptr && item->isSelected();
}

QString ListView::selectedItemFolder() const {
  const QTreeWidgetItem* item = widget_->currentItem();
  if (item == nullptr)
    throw Error(ErrorNumber::ObjectNotSet, QStringLiteral("No entry of the list is selected"));
  return item->data(0, FolderRole).toString();
}

}  // namespace orl::ui
