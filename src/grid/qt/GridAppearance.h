// The grid's colours and fonts as Qt draws them, and the faces the grid
// draws itself in its standard look: header buttons with their sort marks,
// the expand buttons of group rows and the drop arrows of a dragged header.
// Colours are the core's stored colour values resolved through a colour
// scheme (the application's palette in the program, the standard scheme in
// tests), so the pictures do not depend on the desktop's style.
#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include "grid/model/TreeList.h"
#include "platform/core/ColorScheme.h"

class QPainter;

namespace grid::qt {

// The stored value that means "no colour of its own".
inline constexpr TColorValue kColorNone = 0x1FFFFFFF;

struct TGridColors {
  TGridColors(const TTreeListAppearance& appearance, const marrowick::platform::IColorScheme& scheme);

  QColor Window;          // cell background (Color)
  QColor WindowText;      // cell text (the colour of Font)
  QColor HeaderFace;      // HeaderColor
  QColor HeaderText;      // the colour of HeaderFont
  QColor GroupNode;       // GroupNodeColor
  QColor GroupNodeText;   // GroupNodeTextColor, or the colour of Font
  QColor GridLine;        // GridLineColor, or clBtnShadow
  QColor Highlight;       // HighlightColor
  QColor HighlightText;   // HighlightTextColor
  QColor Arrows;          // ArrowsColor
  QColor GroupPanel;      // GroupPanelColor
  QColor GroupPanelText;  // GroupPanelFontColor
  QColor PreviewText;     // the colour of PreviewFont
  QColor BtnHighlight;
  QColor BtnShadow;
  QColor DarkShadow;
  QColor BtnText;
};

// A stored colour as a QColor through the scheme.
QColor ResolveColor(TColorValue color, const marrowick::platform::IColorScheme& scheme);

// A header button in the standard look: the face, its 3D edges (sunken
// while pressed), the caption and the sort mark of the state.
void DrawHeaderButton(QPainter& painter, const QRect& rect, const QString& caption, TAlignment alignment,
                      TTreeListColumnSort sorted, const QFont& font, const TGridColors& colors, bool pressed);

// The expand button of a group row, centred in cell: a 9 x 9 box with a
// plus (collapsed) or a minus (expanded).
QRect ExpandButtonBox(const QRect& cell);
void DrawExpandButton(QPainter& painter, const QRect& cell, bool expanded, const TGridColors& colors);

// The two drop arrows of a dragged header; topLeft is the corner of the
// upper arrow (pointing down), the lower one (pointing up) stands height
// pixels below it. Each is 11 x 9 pixels, its point on the middle column.
inline constexpr int kDropArrowWidth = 11;
inline constexpr int kDropArrowHeight = 9;
void DrawDropArrows(QPainter& painter, const QPoint& topLeft, int height, const QColor& color);

}  // namespace grid::qt
