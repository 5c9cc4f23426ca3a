// The group panel: the strip above the headers that shows the group columns
// as small headers, each half a header lower than the one before and joined
// by connectors, or the hint "Drag a column header here to group by that
// column" while nothing is grouped. Its height and the headers' rectangles
// are the core's geometry. A group header pressed and released without
// moving more than 5 pixels reverses the order of its groups; moved further,
// it is dragged (out of the panel it ungroups its column).
#pragma once

#include <QWidget>

namespace grid::qt {

class TDBGridWidget;

class TGroupPanel : public QWidget {
  Q_OBJECT

 public:
  explicit TGroupPanel(TDBGridWidget& owner);

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

  // The panel's hint as drawn, alone on the panel's background: what the
  // panel shows while nothing is grouped.
  static void DrawHint(QPainter& painter, const QRect& rect, const TDBGridWidget& owner);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  TDBGridWidget& owner_;
  int pressedLevel_ = -1;
  QPoint pressPos_;
  bool dragging_ = false;
};

}  // namespace grid::qt
