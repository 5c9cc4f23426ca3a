#include "grid/qt/GridAppearance.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPolygon>

#include "platform/qt/FontMetrics.h"

namespace grid::qt {

using marrowick::platform::IColorScheme;
using marrowick::platform::SystemColor;

QColor ResolveColor(TColorValue color, const IColorScheme& scheme) {
  return marrowick::platform::ToQColor(color, scheme);
}

TGridColors::TGridColors(const TTreeListAppearance& a, const IColorScheme& scheme) {
  auto resolve = [&](TColorValue value) { return ResolveColor(value, scheme); };
  Window = resolve(a.Color);
  WindowText = resolve(a.Font.Color);
  HeaderFace = resolve(a.HeaderColor);
  HeaderText = resolve(a.HeaderFont.Color);
  GroupNode = resolve(a.GroupNodeColor);
  GroupNodeText = a.GroupNodeTextColor == kColorNone ? WindowText : resolve(a.GroupNodeTextColor);
  GridLine = resolve(a.GridLineColor == kColorNone ? SystemColor(16) : a.GridLineColor);
  Highlight = resolve(a.HighlightColor);
  HighlightText = resolve(a.HighlightTextColor);
  Arrows = resolve(a.ArrowsColor);
  GroupPanel = resolve(a.GroupPanelColor);
  GroupPanelText = resolve(a.GroupPanelFontColor);
  PreviewText = resolve(a.PreviewFont.Color);
  BtnHighlight = resolve(SystemColor(20));
  BtnShadow = resolve(SystemColor(16));
  DarkShadow = resolve(SystemColor(21));
  BtnText = resolve(SystemColor(18));
}

namespace {

Qt::Alignment HorizontalAlignment(TAlignment alignment) {
  switch (alignment) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    case taLeftJustify: break;
  }
  return Qt::AlignLeft;
}

// A small solid triangle of the sort state, pointing up for ascending.
void DrawSortMark(QPainter& painter, const QRect& area, bool ascending, const TGridColors& colors) {
  const int w = 7, h = 4;
  int x = area.right() - w;
  int y = area.center().y() - h / 2;
  QPolygon triangle;
  if (ascending) {
    triangle << QPoint(x + w / 2, y) << QPoint(x, y + h) << QPoint(x + w - 1, y + h);
  } else {
    triangle << QPoint(x, y) << QPoint(x + w - 1, y) << QPoint(x + w / 2, y + h);
  }
  painter.save();
  painter.setPen(colors.BtnShadow);
  painter.setBrush(colors.BtnShadow);
  painter.drawPolygon(triangle);
  painter.restore();
}

}  // namespace

void DrawHeaderButton(QPainter& painter, const QRect& rect, const QString& caption, TAlignment alignment,
                      TTreeListColumnSort sorted, const QFont& font, const TGridColors& colors, bool pressed) {
  if (rect.width() <= 0 || rect.height() <= 0) return;
  painter.save();
  painter.fillRect(rect, colors.HeaderFace);
  const QRect r = rect;  // right() and bottom() are the last pixels
  // Raised: light top and left, dark bottom and right (an inner shadow line
  // inside the outer dark one). Pressed: the shadow on top and left.
  if (pressed) {
    painter.setPen(colors.BtnShadow);
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
  } else {
    painter.setPen(colors.BtnHighlight);
    painter.drawLine(r.topLeft(), QPoint(r.right() - 1, r.top()));
    painter.drawLine(r.topLeft(), QPoint(r.left(), r.bottom() - 1));
    painter.setPen(colors.DarkShadow);
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    painter.setPen(colors.BtnShadow);
    painter.drawLine(QPoint(r.left() + 1, r.bottom() - 1), QPoint(r.right() - 1, r.bottom() - 1));
    painter.drawLine(QPoint(r.right() - 1, r.top() + 1), QPoint(r.right() - 1, r.bottom() - 1));
  }
  QRect text = rect.adjusted(4, 1, -4, -1);
  if (pressed) text.translate(1, 1);
  if (sorted != csNone && text.width() > 14) {
    DrawSortMark(painter, text, sorted == csUp, colors);
    text.setRight(text.right() - 11);
  }
  painter.setFont(font);
  painter.setPen(colors.HeaderText);
  QString shown = QFontMetrics(font).elidedText(caption, Qt::ElideRight, text.width());
  painter.drawText(text, int(HorizontalAlignment(alignment) | Qt::AlignVCenter | Qt::TextSingleLine), shown);
  painter.restore();
}

QRect ExpandButtonBox(const QRect& cell) {
  const int size = 9;
  return QRect(cell.left() + (cell.width() - size) / 2, cell.top() + (cell.height() - size) / 2, size, size);
}

void DrawExpandButton(QPainter& painter, const QRect& cell, bool expanded, const TGridColors& colors) {
  QRect box = ExpandButtonBox(cell);
  painter.save();
  painter.fillRect(box, colors.Window);
  painter.setPen(colors.BtnShadow);
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(box.adjusted(0, 0, -1, -1));
  painter.setPen(colors.WindowText);
  const int cy = box.top() + box.height() / 2;
  const int cx = box.left() + box.width() / 2;
  painter.drawLine(box.left() + 2, cy, box.right() - 2, cy);
  if (!expanded) painter.drawLine(cx, box.top() + 2, cx, box.bottom() - 2);
  painter.restore();
}

void DrawDropArrows(QPainter& painter, const QPoint& topLeft, int height, const QColor& color) {
  const int w = kDropArrowWidth, h = kDropArrowHeight;
  const int x = topLeft.x(), y = topLeft.y();
  // Pointing down above the place, pointing up below it; each a short stem
  // and a head.
  QPolygon down;
  down << QPoint(x + 3, y) << QPoint(x + 7, y) << QPoint(x + 7, y + 3) << QPoint(x + w - 1, y + 3)
       << QPoint(x + w / 2, y + h - 1) << QPoint(x, y + 3) << QPoint(x + 3, y + 3);
  const int b = y + height;
  QPolygon up;
  up << QPoint(x + w / 2, b) << QPoint(x + w - 1, b + 5) << QPoint(x + 7, b + 5) << QPoint(x + 7, b + h - 1)
     << QPoint(x + 3, b + h - 1) << QPoint(x + 3, b + 5) << QPoint(x, b + 5);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setPen(Qt::black);
  painter.setBrush(color);
  painter.drawPolygon(down);
  painter.drawPolygon(up);
  painter.restore();
}

}  // namespace grid::qt
