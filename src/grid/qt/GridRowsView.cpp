#include "grid/qt/GridRowsView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include "grid/qt/DBGridWidget.h"
#include "grid/qt/GridItemModel.h"

namespace grid::qt {

QSize TGridRowDelegate::sizeHint(const QStyleOptionViewItem& /*option*/, const QModelIndex& index) const {
  return QSize(1, owner_.RowHeightOf(TGridItemModel::NodeOf(index)));
}

TGridRowsView::TGridRowsView(TDBGridWidget& owner) : QTreeView(&owner), owner_(owner) {
  setObjectName(QStringLiteral("Rows"));
  setFrameShape(QFrame::NoFrame);
  setRootIsDecorated(false);
  setIndentation(16);
  setUniformRowHeights(true);
  setItemsExpandable(false);
  setExpandsOnDoubleClick(false);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(true);
  setAutoScroll(false);
  setAllColumnsShowFocus(false);
  setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  setFocusPolicy(Qt::StrongFocus);
  setItemDelegate(new TGridRowDelegate(owner, this));
}

void TGridRowsView::ScrollRowToTop(const QModelIndex& index) {
  if (index.isValid()) scrollTo(index, QAbstractItemView::PositionAtTop);
}

QModelIndex TGridRowsView::TopIndex() const {
  if (model() == nullptr) return {};
  // Any shown column will do: the row is what counts.
  for (int visual = 0; visual < header()->count(); ++visual) {
    int logical = header()->logicalIndex(visual);
    if (header()->isSectionHidden(logical)) continue;
    return indexAt(QPoint(header()->sectionViewportPosition(logical) + 1, 1));
  }
  return {};
}

void TGridRowsView::paintEvent(QPaintEvent* event) {
  owner_.BeginPaintRows();
  QTreeView::paintEvent(event);
  owner_.EndPaintRows();
}

void TGridRowsView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  TTreeListNode* node = TGridItemModel::NodeOf(index);
  if (node == nullptr) return;
  QRect row(0, option.rect.top(), viewport()->width(), option.rect.height());
  owner_.PaintRow(*painter, row, node);
}

void TGridRowsView::keyPressEvent(QKeyEvent* event) { owner_.RowsKeyPress(event); }

void TGridRowsView::inputMethodEvent(QInputMethodEvent* event) { owner_.RowsInputMethod(event); }

void TGridRowsView::mousePressEvent(QMouseEvent* event) { owner_.RowsMousePress(event); }

void TGridRowsView::mouseReleaseEvent(QMouseEvent* event) { owner_.RowsMouseRelease(event); }

void TGridRowsView::mouseDoubleClickEvent(QMouseEvent* event) { owner_.RowsDoubleClick(event); }

void TGridRowsView::mouseMoveEvent(QMouseEvent* event) {
  // Nothing is dragged out of the rows; the base would start a selection.
  event->accept();
}

void TGridRowsView::contextMenuEvent(QContextMenuEvent* event) {
  owner_.RowsContextMenu(event->globalPos());
  event->accept();
}

void TGridRowsView::scrollContentsBy(int dx, int dy) {
  QTreeView::scrollContentsBy(dx, dy);
  owner_.UpdateTopNode();
  owner_.PositionEditor();
}

void TGridRowsView::updateGeometries() {
  QTreeView::updateGeometries();
  owner_.UpdatePageRows();
  owner_.PositionEditor();
}

void TGridRowsView::focusInEvent(QFocusEvent* event) {
  QTreeView::focusInEvent(event);
  viewport()->update();
}

void TGridRowsView::focusOutEvent(QFocusEvent* event) {
  QTreeView::focusOutEvent(event);
  viewport()->update();
}

}  // namespace grid::qt
