#include "grid/model/GridGeometry.h"

#include <algorithm>

namespace grid {

int TGridGeometry::HeaderRowHeight() const {
  const int lines = 1;
  int base = grid_.Appearance().LookAndFeel == lfStandard ? 6 : 5;
  return metrics_.TextHeight(grid_.Appearance().HeaderFont) * lines + base;
}

int TGridGeometry::CalcGroupPanelHeight(int groupColumns) const {
  int h = HeaderRowHeight();
  return (groupColumns - 1) * (h / 2) + h + 16;
}

int TGridGeometry::GroupPanelHeight() const {
  if (!grid_.Switches().ShowGroupPanel) return 0;
  return CalcGroupPanelHeight(grid_.GroupColumnCount());
}

TGridRect TGridGeometry::GetGroupHeaderRect(int i) const {
  int h = HeaderRowHeight();
  TGridRect r;
  r.Left = 8 + 104 * i;
  r.Right = 108 + 104 * i;
  r.Top = 8 + i * (h / 2);
  r.Bottom = r.Top + h;
  return r;
}

std::vector<std::vector<TGridPoint>> TGridGeometry::GroupConnectors() const {
  std::vector<std::vector<TGridPoint>> lines;
  for (int i = 0; i + 1 < grid_.GroupColumnCount(); ++i) {
    TGridRect upper = GetGroupHeaderRect(i);
    TGridRect lower = GetGroupHeaderRect(i + 1);
    int x = (upper.Left + upper.Right) / 2;
    int y = upper.Bottom - 1;
    lines.push_back({{x, y}, {x, y + 3}, {lower.Left + 1, y + 3}});
  }
  return lines;
}

int TGridGeometry::GroupPanelInsertPosition(int x) const {
  int n = grid_.GroupColumnCount();
  for (int i = 0; i < n; ++i) {
    TGridRect r = GetGroupHeaderRect(i);
    if ((r.Left + r.Right) / 2 > x) return i;
  }
  return n;
}

TGridPoint TGridGeometry::DropArrowsPosition(int position) const {
  TGridRect r = GetGroupHeaderRect(position);
  return {r.Left - 5, r.Top - 9};
}

int TGridGeometry::GetGroupColumnAt(int x, int y) const {
  for (int i = 0; i < grid_.GroupColumnCount(); ++i) {
    if (GetGroupHeaderRect(i).Contains(x, y)) return i;
  }
  return -1;
}

std::string TGridGeometry::GroupPanelText() const {
  if (grid_.GroupColumnCount() > 0) return {};
  return std::string(" ") + text::kGroupPanelHint;
}

int TGridGeometry::BandPanelHeight() const {
  if (!grid_.Switches().ShowBands) return 0;
  return HeaderRowHeight() * std::max(grid_.Switches().BandRowCount, 1);
}

int TGridGeometry::PreviewLineCount(const TTreeListNode* node, int rowWidth) const {
  int limit = grid_.PreviewLines();
  if (!grid_.HasOption(goPreview) || limit == 0 || node == nullptr || node->HasChildren()) return 0;
  if (!grid_.HasOption(goAutoCalcPreviewLines)) return limit;
  std::string text = grid_.GetPreviewString(grid_.GetPreviewText(node));
  if (text.empty()) return 0;
  const TFontSpec& font = grid_.Appearance().PreviewFont;
  int width = std::max(rowWidth - grid_.IndentDesc() - 4, 1);
  // Word wrapping: a line takes words while they fit; a word wider than
  // the line takes a line of its own.
  int lines = 0;
  std::string line;
  std::size_t pos = 0;
  auto flush = [&] {
    if (!line.empty()) ++lines;
    line.clear();
  };
  while (pos < text.size()) {
    if (text[pos] == '\n' || text[pos] == '\r') {
      flush();
      if (text[pos] == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') ++pos;
      ++pos;
      continue;
    }
    std::size_t end = text.find_first_of(" \r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(pos, end - pos);
    std::string candidate = line.empty() ? word : line + " " + word;
    if (!line.empty() && metrics_.TextWidth(font, candidate) > width) {
      flush();
      line = word;
    } else {
      line = candidate;
    }
    pos = end;
    while (pos < text.size() && text[pos] == ' ') ++pos;
  }
  flush();
  return limit < 0 ? lines : std::min(lines, limit);
}

}  // namespace grid
