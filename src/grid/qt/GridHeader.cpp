#include "grid/qt/GridHeader.h"

#include <algorithm>
#include <cstdlib>

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include "grid/qt/DBGridWidget.h"
#include "platform/qt/AnsiText.h"
#include "platform/qt/FontMetrics.h"

namespace grid::qt {

namespace {
// A press moved further than this (either way) starts dragging the header.
constexpr int kDragThreshold = 5;
}  // namespace

TGridHeader::TGridHeader(TDBGridWidget& owner) : QHeaderView(Qt::Horizontal, &owner), owner_(owner) {
  setObjectName(QStringLiteral("HeaderPanel"));
  setSectionsMovable(false);
  setSectionsClickable(false);
  setHighlightSections(false);
  setStretchLastSection(false);
  setMinimumSectionSize(1);
  setSectionResizeMode(QHeaderView::Fixed);
  setMouseTracking(true);
  viewport()->setMouseTracking(true);
}

QSize TGridHeader::sizeHint() const { return QSize(length(), owner_.HeaderRowHeight()); }

int TGridHeader::SizingEdgeAt(int x) const {
  const TCustomDBGrid& grid = owner_.Grid();
  if (!grid.HasOption(goColumnSizing)) return -1;
  const int margin = std::max(2, style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this));
  int best = -1;
  int bestDistance = margin + 1;
  for (int logical = 0; logical < count(); ++logical) {
    if (isSectionHidden(logical)) continue;
    const TTreeListColumn* column = grid.Columns(logical);
    if (column == nullptr || !column->Sizing()) continue;
    int right = sectionViewportPosition(logical) + sectionSize(logical);
    int distance = std::abs(x - right);
    if (distance < bestDistance) {
      best = logical;
      bestDistance = distance;
    }
  }
  return best;
}

void TGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  const TCustomDBGrid& grid = owner_.Grid();
  const TTreeListColumn* column = grid.Columns(logicalIndex);
  if (column == nullptr) return;
  const bool pressed = logicalIndex == pressedColumn_ && !dragging_;
  DrawHeaderButton(*painter, rect, marrowick::platform::AnsiToQString(grid.GetHeaderText(logicalIndex)),
                   grid.GetHeaderAlignment(logicalIndex), column->Sorted(),
                   marrowick::platform::ToQFont(grid.Appearance().HeaderFont), owner_.Colors(), pressed);
}

void TGridHeader::paintEvent(QPaintEvent* event) {
  QHeaderView::paintEvent(event);
  // Beyond the last header lies the grid's background, not a header face.
  int end = 0;
  for (int logical = 0; logical < count(); ++logical) {
    if (!isSectionHidden(logical)) end = std::max(end, sectionViewportPosition(logical) + sectionSize(logical));
  }
  if (end < viewport()->width()) {
    QPainter painter(viewport());
    painter.fillRect(QRect(end, 0, viewport()->width() - end, viewport()->height()), owner_.Colors().Window);
  }
}

void TGridHeader::Reset() {
  sizingColumn_ = -1;
  pressedColumn_ = -1;
  dragging_ = false;
  viewport()->update();
}

void TGridHeader::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || owner_.Dragging()) return;
  const QPoint pos = event->position().toPoint();
  owner_.HeaderPressed();
  int edge = SizingEdgeAt(pos.x());
  if (edge >= 0) {
    sizingColumn_ = edge;
    sizingOffset_ = pos.x() - (sectionViewportPosition(edge) + sectionSize(edge));
    return;
  }
  int column = logicalIndexAt(pos.x());
  if (column < 0) return;
  pressedColumn_ = column;
  pressPos_ = pos;
  pressCtrl_ = (event->modifiers() & Qt::ControlModifier) != 0;
  dragging_ = false;
  viewport()->update();
}

void TGridHeader::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  const QPoint pos = event->position().toPoint();
  if (sizingColumn_ >= 0) {
    int right = pos.x() - sizingOffset_;
    owner_.ColumnResize(sizingColumn_, right - sectionViewportPosition(sizingColumn_));
    return;
  }
  if (pressedColumn_ >= 0) {
    if (!dragging_) {
      QPoint moved = pos - pressPos_;
      if (std::abs(moved.x()) <= kDragThreshold && std::abs(moved.y()) <= kDragThreshold) return;
      if (!owner_.CanDragColumn(pressedColumn_)) return;
      dragging_ = true;
      viewport()->update();
      owner_.BeginHeaderDrag(pressedColumn_, false, viewport(), event->globalPosition().toPoint());
      return;
    }
    owner_.MoveHeaderDrag(event->globalPosition().toPoint());
    return;
  }
  if (event->buttons() == Qt::NoButton) {
    viewport()->setCursor(SizingEdgeAt(pos.x()) >= 0 ? Qt::SplitHCursor : Qt::ArrowCursor);
  }
}

void TGridHeader::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  const QPoint pos = event->position().toPoint();
  if (sizingColumn_ >= 0) {
    Reset();
    return;
  }
  if (pressedColumn_ < 0) return;
  const int column = pressedColumn_;
  const bool dragged = dragging_;
  const bool ctrl = pressCtrl_;
  Reset();
  if (dragged) {
    owner_.EndHeaderDrag(event->globalPosition().toPoint());
  } else if (viewport()->rect().contains(pos) && logicalIndexAt(pos.x()) == column) {
    owner_.HeaderClick(column, ctrl);
  }
}

void TGridHeader::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton) return;
  int edge = SizingEdgeAt(event->position().toPoint().x());
  if (edge >= 0) {
    owner_.ColumnBestFit(edge);
    return;
  }
  // Elsewhere a double click is a second press.
  mousePressEvent(event);
}

}  // namespace grid::qt
