#include "grid/qt/GroupPanel.h"

#include <cstdlib>

#include <QMouseEvent>
#include <QPainter>

#include "grid/qt/DBGridWidget.h"
#include "platform/qt/AnsiText.h"
#include "platform/qt/FontMetrics.h"

namespace grid::qt {

using marrowick::platform::AnsiToQString;
using marrowick::platform::ToQFont;

namespace {
constexpr int kDragThreshold = 5;

QRect ToQRect(const TGridRect& r) { return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top); }
}  // namespace

TGroupPanel::TGroupPanel(TDBGridWidget& owner) : QWidget(&owner), owner_(owner) {
  setObjectName(QStringLiteral("GroupPanel"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize TGroupPanel::sizeHint() const { return QSize(200, owner_.GroupPanelHeight()); }

void TGroupPanel::DrawHint(QPainter& painter, const QRect& rect, const TDBGridWidget& owner) {
  painter.save();
  painter.fillRect(rect, owner.Colors().GroupPanel);
  painter.setFont(ToQFont(owner.Grid().Appearance().HeaderFont));
  painter.setPen(owner.Colors().GroupPanelText);
  painter.drawText(rect, int(Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextExpandTabs),
                   AnsiToQString(std::string(" ") + text::kGroupPanelHint));
  painter.restore();
}

void TGroupPanel::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  const TCustomDBGrid& grid = owner_.Grid();
  const TGridColors colors = owner_.Colors();
  if (grid.GroupColumnCount() == 0) {
    DrawHint(painter, rect(), owner_);
    return;
  }
  painter.fillRect(rect(), colors.GroupPanel);
  TGridGeometry geometry(grid, owner_.metrics_);
  painter.setPen(colors.BtnText);
  for (const std::vector<TGridPoint>& line : geometry.GroupConnectors()) {
    for (std::size_t i = 1; i < line.size(); ++i) {
      painter.drawLine(QPoint(line[i - 1].X, line[i - 1].Y), QPoint(line[i].X, line[i].Y));
    }
  }
  const QFont font = ToQFont(grid.Appearance().HeaderFont);
  for (int level = 0; level < grid.GroupColumnCount(); ++level) {
    const TTreeListColumn* column = grid.GroupColumns(level);
    QRect r = ToQRect(geometry.GetGroupHeaderRect(level));
    if (!r.intersects(rect())) continue;
    DrawHeaderButton(painter, r, AnsiToQString(column->Caption()), column->HeaderAlignment(), column->Sorted(),
                     font, colors, level == pressedLevel_ && !dragging_);
  }
}

void TGroupPanel::mousePressEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || owner_.Dragging()) return;
  const QPoint pos = event->position().toPoint();
  owner_.HeaderPressed();
  TGridGeometry geometry(owner_.Grid(), owner_.metrics_);
  pressedLevel_ = geometry.GetGroupColumnAt(pos.x(), pos.y());
  pressPos_ = pos;
  dragging_ = false;
  update();
}

void TGroupPanel::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
  if (pressedLevel_ < 0) return;
  if (dragging_) {
    owner_.MoveHeaderDrag(event->globalPosition().toPoint());
    return;
  }
  QPoint moved = event->position().toPoint() - pressPos_;
  if (std::abs(moved.x()) <= kDragThreshold && std::abs(moved.y()) <= kDragThreshold) return;
  const TTreeListColumn* column = owner_.Grid().GroupColumns(pressedLevel_);
  if (column == nullptr || !owner_.CanDragColumn(column->Index())) return;
  dragging_ = true;
  update();
  owner_.BeginHeaderDrag(column->Index(), true, this, event->globalPosition().toPoint());
}

void TGroupPanel::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
  if (event->button() != Qt::LeftButton || pressedLevel_ < 0) return;
  const int level = pressedLevel_;
  const bool dragged = dragging_;
  QPoint moved = event->position().toPoint() - pressPos_;
  pressedLevel_ = -1;
  dragging_ = false;
  update();
  if (dragged) {
    owner_.EndHeaderDrag(event->globalPosition().toPoint());
  } else if (std::abs(moved.x()) <= kDragThreshold && std::abs(moved.y()) <= kDragThreshold) {
    owner_.GroupHeaderClick(level);
  }
}

void TGroupPanel::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

}  // namespace grid::qt
