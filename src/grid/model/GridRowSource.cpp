#include "grid/model/GridRowSource.h"

#include "dataset/TextConvert.h"
#include "grid/model/GridGeometry.h"

namespace grid {

namespace {

exports::TAlignment ToExport(TAlignment a) {
  switch (a) {
    case taRightJustify: return exports::taRightJustify;
    case taCenter: return exports::taCenter;
    default: return exports::taLeftJustify;
  }
}

class TNodeRow : public exports::IExportRow {
 public:
  TNodeRow(const TCustomDBGrid& grid, const TTreeListNode* node) : grid_(grid), node_(node) {}
  bool IsGroup() const override { return node_->HasChildren(); }
  int Level() const override { return node_->Level(); }
  // A group row's plain text: the exports write every row, so the quick
  // find's count has no place in them.
  std::string Text(int columnIndex) const override {
    return node_->HasChildren() ? grid_.GroupRowText(node_) : grid_.GetNodeString(node_, columnIndex);
  }
  dataset::Variant Value(int columnIndex) const override { return grid_.GetNodeValue(node_, columnIndex); }

 private:
  const TCustomDBGrid& grid_;
  const TTreeListNode* node_;
};

}  // namespace

const exports::TExportAppearance& TGridRowSource::Appearance() const {
  const TTreeListAppearance& a = grid_.Appearance();
  const TTreeListSwitches& s = grid_.Switches();
  exports::TExportAppearance& e = appearance_;
  e.Name = a.Name;
  e.Font = a.Font;
  e.BandFont = a.BandFont;
  e.HeaderFont = a.HeaderFont;
  e.Color = a.Color;
  e.BandColor = a.BandColor;
  e.HeaderColor = a.HeaderColor;
  e.GroupNodeColor = a.GroupNodeColor;
  // clNone means: the grid font's colour for group text, the button
  // shadow for grid lines.
  e.GroupNodeTextColor = a.GroupNodeTextColor == exports::clNone ? a.Font.Color : a.GroupNodeTextColor;
  e.GridLineColor = a.GridLineColor == exports::clNone ? marrowick::platform::clBtnShadow : a.GridLineColor;
  e.RowFooterColor = a.RowFooterColor;
  e.RowFooterTextColor = a.RowFooterTextColor;
  e.ShowBands = s.ShowBands;
  e.ShowHeader = s.ShowHeader;
  e.ShowGrid = s.ShowGrid;
  e.Ctl3D = a.Ctl3D;
  e.BorderStyle = a.BorderSingle ? exports::bsSingle : exports::bsNone;
  e.BandPanelHeight = 0;
  if (metrics_ != nullptr) e.BandPanelHeight = TGridGeometry(grid_, *metrics_).BandPanelHeight();
  e.Bands.clear();
  for (int band = 0; band < grid_.GetBandCount(); ++band) {
    exports::TExportBand b;
    b.Text = grid_.GetBandText(band);
    b.Alignment = ToExport(grid_.GetBandAlignment(band));
    for (int row = 0; row < grid_.HeaderPanelRowCount(); ++row) b.HeaderCellCount += grid_.GetHeaderColCount(band, row);
    e.Bands.push_back(b);
  }
  return e;
}

exports::TExportHeader TGridRowSource::Header(int columnIndex) const {
  exports::TExportHeader h;
  TTreeListColumn* column = grid_.Columns(columnIndex);
  h.ColumnIndex = columnIndex;
  h.Text = grid_.GetHeaderText(columnIndex);
  h.Width = grid_.GetHeaderBoundsWidth(columnIndex);
  h.HeaderAlignment = ToExport(grid_.GetHeaderAlignment(columnIndex));
  h.Alignment = ToExport(column->Alignment());
  h.Color = grid_.GetColumnColor(columnIndex);
  h.Font = grid_.GetColumnFont(columnIndex);
  if (auto* db = dynamic_cast<TDBTreeListColumn*>(column); db != nullptr && db->Field() != nullptr) {
    h.HasField = true;
    h.FieldType = db->Field()->DataType();
  }
  return h;
}

std::vector<exports::TExportHeader> TGridRowSource::VisibleHeaders() const {
  std::vector<exports::TExportHeader> headers;
  for (int band = 0; band < grid_.GetBandCount(); ++band) {
    for (int row = 0; row < grid_.HeaderPanelRowCount(); ++row) {
      for (int position = 0; position < grid_.GetHeaderColCount(band, row); ++position) {
        int index = grid_.GetHeaderAbsoluteIndex(band, row, position);
        if (index >= 0 && grid_.IsHeaderVisible(index)) headers.push_back(Header(index));
      }
    }
  }
  return headers;
}

int TGridRowSource::FieldColumnIndex(std::string_view fieldName) const {
  for (int i = 0; i < grid_.ColumnCount(); ++i) {
    const auto* column = dynamic_cast<const TDBTreeListColumn*>(grid_.Columns(i));
    if (column != nullptr && dataset::AnsiSameText(column->FieldName(), fieldName)) return i;
  }
  return -1;
}

std::vector<exports::TExportHeader> TGridRowSource::TextOrderHeaders() const {
  std::vector<exports::TExportHeader> headers;
  int n = grid_.GetVisibleHeaderCount();
  for (int i = 0; i < n; ++i) {
    int index = grid_.GetFocusedAbsoluteIndex(i);
    if (index >= 0) headers.push_back(Header(index));
  }
  return headers;
}

void TGridRowSource::ForEachRow(const std::function<void(const exports::IExportRow&)>& visit) const {
  for (TTreeListNode* node = grid_.GetFirstNode(); node != nullptr; node = node->GetNext()) {
    visit(TNodeRow(grid_, node));
  }
}

void TGridRowSource::ForEachVisibleRow(const std::function<void(const exports::IExportRow&)>& visit) const {
  for (TTreeListNode* node = grid_.GetFirstNode(); node != nullptr; node = node->GetNextNode()) {
    visit(TNodeRow(grid_, node));
  }
}

void TGridRowSource::BeginExport() {
  exporting_ = grid_.ActiveDataSet();
  topNode_ = grid_.TopNode();
  bookmark_.clear();
  if (exporting_ == nullptr) return;
  exporting_->DisableControls();
  bookmark_ = exporting_->GetBookmark();
}

void TGridRowSource::EndExport() {
  dataset::TDataSet* ds = exporting_;
  exporting_ = nullptr;
  if (ds != nullptr) {
    try {
      if (!bookmark_.empty() && ds->Active()) ds->GotoBookmark(bookmark_);
    } catch (...) {
      try {
        ds->EnableControls();
      } catch (...) {
        // The first error is the one to report.
      }
      throw;
    }
    ds->EnableControls();
  }
  if (topNode_ != nullptr && grid_.IsLiveNode(topNode_)) grid_.SetTopNode(topNode_);
  topNode_ = nullptr;
}

}  // namespace grid
