// The grid as the exports read it: its appearance, its visible headers in
// display and in text order, and its rows as captured strings and values.
// Around an export the record set's controls are disabled and its current
// record and the grid's top row are put back afterwards.
#pragma once

#include <functional>
#include <vector>

#include "dataset/DataSetTypes.h"
#include "export/RowSource.h"
#include "grid/model/DBGrid.h"
#include "platform/core/FontMetrics.h"

namespace grid {

class TGridRowSource : public exports::IRowSource {
 public:
  // metrics, when given, sizes the band panel; the program's grid shows no
  // bands, so the exports do not need it.
  explicit TGridRowSource(TCustomDBGrid& grid, marrowick::platform::IFontMetrics* metrics = nullptr)
      : grid_(grid), metrics_(metrics) {}

  const exports::TExportAppearance& Appearance() const override;
  std::vector<exports::TExportHeader> VisibleHeaders() const override;
  std::vector<exports::TExportHeader> TextOrderHeaders() const override;
  int GroupColumnCount() const override { return grid_.GroupColumnCount(); }
  int FieldColumnIndex(std::string_view fieldName) const override;
  void ForEachRow(const std::function<void(const exports::IExportRow&)>& visit) const override;
  void ForEachVisibleRow(const std::function<void(const exports::IExportRow&)>& visit) const override;
  void BeginExport() override;
  void EndExport() override;

 private:
  exports::TExportHeader Header(int columnIndex) const;

  TCustomDBGrid& grid_;
  marrowick::platform::IFontMetrics* metrics_;
  mutable exports::TExportAppearance appearance_;
  dataset::TDataSet* exporting_ = nullptr;
  dataset::TBookmark bookmark_;
  TTreeListNode* topNode_ = nullptr;
};

}  // namespace grid
