// The header panel: one row of column headers, drawn in the grid's standard
// look with each column's sort mark. Its sections follow the core's columns
// (by Index; hidden columns' sections hidden; the first shown header holds
// the group indent). The header handles its own gestures: a press and
// release on a header is a click (sorting, Ctrl removes the sort), a press
// on a header's right edge sizes the column (a double click there sets the
// best fit), and a press moved more than 5 pixels drags the header, to
// another place in the panel or onto the group panel.
#pragma once

#include <QHeaderView>

namespace grid::qt {

class TDBGridWidget;

class TGridHeader : public QHeaderView {
  Q_OBJECT

 public:
  explicit TGridHeader(TDBGridWidget& owner);

  QSize sizeHint() const override;

  // The column whose right edge lies under a header x (within the grip
  // margin) and may be sized; -1 for none.
  int SizingEdgeAt(int x) const;
  // The column being sized, pressed or dragged; -1 for none.
  int SizingColumn() const { return sizingColumn_; }
  int PressedColumn() const { return pressedColumn_; }

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  void Reset();

  TDBGridWidget& owner_;
  int sizingColumn_ = -1;
  int sizingOffset_ = 0;  // press x minus the column's right edge
  int pressedColumn_ = -1;
  QPoint pressPos_;
  bool pressCtrl_ = false;
  bool dragging_ = false;
};

}  // namespace grid::qt
