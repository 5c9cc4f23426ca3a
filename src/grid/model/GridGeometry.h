// The grid's geometry that is not drawing: the height of a header row from
// the header font, the group panel's height, its group header rectangles,
// the connectors between them, where a dropped header goes and where the
// drop arrows stand, the panel's hint text, and how many preview lines a
// row needs. Fonts are measured through IFontMetrics, so tests answer with
// fixed figures.
#pragma once

#include <string>
#include <vector>

#include "grid/model/DBGrid.h"
#include "platform/core/FontMetrics.h"

namespace grid {

struct TGridRect {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
  bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  friend bool operator==(const TGridRect&, const TGridRect&) = default;
};

struct TGridPoint {
  int X = 0, Y = 0;
  friend bool operator==(const TGridPoint&, const TGridPoint&) = default;
};

class TGridGeometry {
 public:
  TGridGeometry(const TCustomDBGrid& grid, marrowick::platform::IFontMetrics& metrics)
      : grid_(grid), metrics_(metrics) {}

  // h: the text height of "Wg" in the header font per text line of a
  // header, plus 6 (standard look) or 5 (flat look).
  int HeaderRowHeight() const;
  // (n - 1) * (h / 2) + h + 16 for n group columns.
  int CalcGroupPanelHeight(int groupColumns) const;
  // The panel's height now; 0 while it is hidden.
  int GroupPanelHeight() const;
  // The i-th group header: 100 pixels wide, 4 apart, each half a header
  // lower than the one before.
  TGridRect GetGroupHeaderRect(int i) const;
  // For each pair of consecutive group headers, the connector's three
  // points: down 3 pixels from the middle of the upper header's bottom,
  // then right to just inside the next header.
  std::vector<std::vector<TGridPoint>> GroupConnectors() const;
  // The group position a header dropped at x goes to: the first group
  // header whose middle lies right of x, or the number of group columns.
  int GroupPanelInsertPosition(int x) const;
  // The top-left point of the drop arrows for an insertion position.
  TGridPoint DropArrowsPosition(int position) const;
  // The group level whose header holds the point, or -1.
  int GetGroupColumnAt(int x, int y) const;
  // The panel's text when no column is grouped: one blank, then the hint;
  // empty while a column is grouped.
  std::string GroupPanelText() const;
  // The band panel's height (0: no bands shown).
  int BandPanelHeight() const;
  // Preview lines a data row needs within a row width (0 while previews
  // are off or the text is empty).
  int PreviewLineCount(const TTreeListNode* node, int rowWidth) const;

 private:
  const TCustomDBGrid& grid_;
  marrowick::platform::IFontMetrics& metrics_;
};

}  // namespace grid
