#include "app/WindowExport.h"

#include <array>
#include <optional>
#include <stdexcept>
#include <string>

#include "dataset/DataSet.h"
#include "export/ExportError.h"
#include "grid/model/GridRowSource.h"

namespace marrowick {

namespace {

// The five columns, in the order the command remembers and restores them.
constexpr std::array<const char*, 5> kExportColumns = {"SiteCategory", "SiteUrl", "SiteName", "SiteLogin",
                                                       "SitePassword"};

// The grid's columns as they were; put back when it goes, also on errors.
class TVisibilityGuard {
 public:
  explicit TVisibilityGuard(grid::TCustomDBGrid& grid) : grid_(grid) {
    for (size_t i = 0; i < kExportColumns.size(); ++i) {
      grid::TTreeListColumn* column = grid_.FindColumn(kExportColumns[i]);
      visible_[i] = column != nullptr && column->Visible();
    }
  }
  ~TVisibilityGuard() {
    for (size_t i = 0; i < kExportColumns.size(); ++i) {
      if (grid::TTreeListColumn* column = grid_.FindColumn(kExportColumns[i])) {
        try {
          column->SetVisible(visible_[i]);
        } catch (...) {
          // Showing a column again cannot be refused; nothing to report.
        }
      }
    }
  }
  TVisibilityGuard(const TVisibilityGuard&) = delete;
  TVisibilityGuard& operator=(const TVisibilityGuard&) = delete;

 private:
  grid::TCustomDBGrid& grid_;
  std::array<bool, kExportColumns.size()> visible_{};
};

void Show(grid::TCustomDBGrid& grid, const char* name, bool visible) {
  if (grid::TTreeListColumn* column = grid.FindColumn(name)) column->SetVisible(visible);
}

}  // namespace

exports::TExportFormat ExportFormatOf(TExportFormat format) {
  switch (format) {
    case TExportFormat::Excel:
      return exports::TExportFormat::Excel;
    case TExportFormat::Text:
      return exports::TExportFormat::Text;
    case TExportFormat::Bookmarks:
      return exports::TExportFormat::Bookmarks;
    case TExportFormat::Html:
      break;
  }
  return exports::TExportFormat::Html;
}

void ExportGridToFile(grid::TCustomDBGrid& grid, IExportDialog& exportDialog, ISaveDialog& saveDialog,
                      const platform::IColorScheme& colors) {
  const std::optional<TExportChoice> choice = exportDialog.Execute();
  if (!choice) return;
  const std::optional<std::string> file = saveDialog.Execute(SaveRequestFor(choice->Format));
  if (!file) return;

  // What is typed into a cell or the notes reaches the record first.
  grid.HideEditor();
  if (dataset::TDataSet* ds = grid.ActiveDataSet()) {
    if (dataset::IsEditMode(ds->State())) ds->CheckBrowseMode();
  }

  TVisibilityGuard restore(grid);
  Show(grid, "SiteCategory", choice->Category);
  Show(grid, "SiteUrl", choice->Url);
  Show(grid, "SitePassword", choice->Password);
  Show(grid, "SiteName", choice->Name);
  Show(grid, "SiteLogin", choice->Login);
  grid::TGridRowSource source(grid);
  try {
    exports::ExportToFile(source, *file, ExportFormatOf(choice->Format), colors);
  } catch (const exports::EExportError& error) {
    if (!error.FileName().empty()) throw;  // it names the file and the reason
    throw std::runtime_error("Cannot export to \"" + *file + "\": " + error.what());
  } catch (const std::exception& error) {
    throw std::runtime_error("Cannot export to \"" + *file + "\": " + error.what());
  }
}

}  // namespace marrowick
