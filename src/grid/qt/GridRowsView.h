// The rows of the grid: a tree view over the grid's item model that lays
// out, scrolls and announces the rows (screen readers read the model through
// it), while the grid widget draws each row from the core and decides what
// every key and click does. The view's current index and expanded rows only
// mirror the core's focus and expansion.
#pragma once

#include <QStyledItemDelegate>
#include <QTreeView>

namespace grid::qt {

class TDBGridWidget;

// Row heights: the cells' height, plus the preview lines of a data row.
class TGridRowDelegate : public QStyledItemDelegate {
 public:
  TGridRowDelegate(TDBGridWidget& owner, QObject* parent) : QStyledItemDelegate(parent), owner_(owner) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  TDBGridWidget& owner_;
};

class TGridRowsView : public QTreeView {
  Q_OBJECT

 public:
  explicit TGridRowsView(TDBGridWidget& owner);

  // Scrolls so that the row is the top one.
  void ScrollRowToTop(const QModelIndex& index);
  // The index of the row shown at the top; invalid without rows.
  QModelIndex TopIndex() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  void drawBranches(QPainter*, const QRect&, const QModelIndex&) const override {}
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void updateGeometries() override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  TDBGridWidget& owner_;
};

}  // namespace grid::qt
