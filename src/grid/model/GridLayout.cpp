// The grid's layout in the settings store. Under the key P (the registry
// path without its trailing '\'):
//
//   P                  ShowGroupPanel, ShowNewItemRow, ShowGrid, ShowPreviewGrid,
//                      ShowRowFooter, ShowSummaryFooter (booleans "1"/"0"),
//                      BandRowCount, DefaultRowHeight, HeaderPanelRowCount
//   P\Band\Band<i>     ID, Visible, Index, Width
//   P\Columns\<Name>   BandIndex, RowIndex, ColIndex, Visible, Index, GroupIndex,
//                      Width, Sorted (0 none, 1 down, 2 up), SortedOrder,
//                      StoredRowIndex
//
// Every value is a string: integers as decimal text. Reading uses the
// current value wherever a key, a value or a decimal integer is missing.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "dataset/TextConvert.h"
#include "grid/model/DBGrid.h"

namespace grid {

using marrowick::platform::ISettingsStore;

class TGridLayoutIo {
 public:
  static void Save(TCustomDBGrid& grid, ISettingsStore& store, const std::string& path);
  static void Load(TCustomDBGrid& grid, ISettingsStore& store, const std::string& path);
};

namespace {

std::string KeyPath(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

std::string Bool(bool value) { return value ? "1" : "0"; }

int ReadInt(ISettingsStore& store, const std::string& name, int fallback) {
  int64_t value = 0;
  std::string text = store.ReadString(name);
  if (!dataset::TryStrToInt64(text, value) || value < INT32_MIN || value > INT32_MAX) return fallback;
  return static_cast<int>(value);
}

bool ReadBool(ISettingsStore& store, const std::string& name, bool fallback) {
  return ReadInt(store, name, fallback ? 1 : 0) != 0;
}

}  // namespace

void TGridLayoutIo::Save(TCustomDBGrid& grid, ISettingsStore& store, const std::string& path) {
  const std::string p = KeyPath(path);
  const TTreeListSwitches& s = grid.Switches();
  store.OpenKey(p, true);
  store.WriteString("ShowGroupPanel", Bool(s.ShowGroupPanel));
  store.WriteString("ShowNewItemRow", Bool(s.ShowNewItemRow));
  store.WriteString("ShowGrid", Bool(s.ShowGrid));
  store.WriteString("ShowPreviewGrid", Bool(s.ShowPreviewGrid));
  store.WriteString("ShowRowFooter", Bool(s.ShowRowFooter));
  store.WriteString("ShowSummaryFooter", Bool(s.ShowSummaryFooter));
  store.WriteString("BandRowCount", std::to_string(s.BandRowCount));
  store.WriteString("DefaultRowHeight", std::to_string(s.DefaultRowHeight));
  store.WriteString("HeaderPanelRowCount", std::to_string(grid.HeaderPanelRowCount()));
  store.CloseKey();

  const TTreeListBand& band = grid.Band();
  store.OpenKey(p + "\\Band\\Band0", true);
  store.WriteString("ID", std::to_string(band.ID));
  store.WriteString("Visible", Bool(band.Visible));
  store.WriteString("Index", "0");
  store.WriteString("Width", std::to_string(grid.BandWidth()));
  store.CloseKey();

  const auto& sorted = grid.SortedColumns();
  for (int i = 0; i < grid.ColumnCount(); ++i) {
    TTreeListColumn* column = grid.Columns(i);
    auto order = std::find(sorted.begin(), sorted.end(), column);
    store.OpenKey(p + "\\Columns\\" + column->Name(), true);
    store.WriteString("BandIndex", std::to_string(column->BandIndex()));
    store.WriteString("RowIndex", std::to_string(column->RowIndex()));
    store.WriteString("ColIndex", std::to_string(column->ColIndex()));
    store.WriteString("Visible", Bool(column->Visible()));
    store.WriteString("Index", std::to_string(column->Index()));
    store.WriteString("GroupIndex", std::to_string(column->GroupIndex()));
    store.WriteString("Width", std::to_string(column->Width()));
    store.WriteString("Sorted", std::to_string(static_cast<int>(column->Sorted())));
    store.WriteString("SortedOrder", std::to_string(order == sorted.end() ? -1 : static_cast<int>(order - sorted.begin())));
    store.WriteString("StoredRowIndex", std::to_string(column->StoredRowIndex()));
    store.CloseKey();
  }
}

void TGridLayoutIo::Load(TCustomDBGrid& grid, ISettingsStore& store, const std::string& path) {
  const std::string p = KeyPath(path);
  struct TRestoring {
    TCustomDBGrid& grid;
    bool old;
    explicit TRestoring(TCustomDBGrid& g) : grid(g), old(g.restoringLayout_) { grid.restoringLayout_ = true; }
    ~TRestoring() { grid.restoringLayout_ = old; }
  } restoring(grid);

  grid.BeginUpdate();
  grid.BeginGrouping();
  bool multiSort = grid.HasOption(goMultiSort);
  if (multiSort) grid.BeginSorting();
  std::map<TTreeListColumn*, int> sortedOrder;
  try {
    if (store.OpenKey(p, false)) {
      const TTreeListSwitches& s = grid.Switches();
      grid.SetShowGroupPanel(ReadBool(store, "ShowGroupPanel", s.ShowGroupPanel));
      grid.SetShowNewItemRow(ReadBool(store, "ShowNewItemRow", s.ShowNewItemRow));
      grid.SetShowGrid(ReadBool(store, "ShowGrid", s.ShowGrid));
      grid.SetShowPreviewGrid(ReadBool(store, "ShowPreviewGrid", s.ShowPreviewGrid));
      grid.SetShowRowFooter(ReadBool(store, "ShowRowFooter", s.ShowRowFooter));
      grid.SetShowSummaryFooter(ReadBool(store, "ShowSummaryFooter", s.ShowSummaryFooter));
      grid.SetBandRowCount(ReadInt(store, "BandRowCount", s.BandRowCount));
      grid.SetDefaultRowHeight(ReadInt(store, "DefaultRowHeight", s.DefaultRowHeight));
      int rows = ReadInt(store, "HeaderPanelRowCount", grid.HeaderPanelRowCount());
      if (rows != -1) grid.SetHeaderPanelRowCount(rows);
      store.CloseKey();
    }

    // The one band: a stored ID that names it sets its visibility and
    // width. The default layout keeps its band visible.
    if (store.OpenKey(p + "\\Band\\Band0", false)) {
      TTreeListBand& band = grid.MutableBand();
      if (ReadInt(store, "ID", -1) == band.ID) {
        band.Visible = grid.DefaultLayout() ? true : ReadBool(store, "Visible", band.Visible);
        band.Width = std::max(ReadInt(store, "Width", band.Width), 0);
      }
      store.CloseKey();
    }

    // Columns, first pass: visibility, grouping, width, sort, position.
    struct TPlace {
      TTreeListColumn* column;
      int current;
      int stored;
      bool valid;
    };
    std::vector<TPlace> places;
    std::vector<TTreeListColumn*> columns;
    for (int i = 0; i < grid.ColumnCount(); ++i) columns.push_back(grid.Columns(i));
    for (TTreeListColumn* column : columns) {
      TPlace place{column, column->Index(), column->Index(), false};
      if (store.OpenKey(p + "\\Columns\\" + column->Name(), false)) {
        bool visible = ReadBool(store, "Visible", column->Visible());
        column->SetVisible(visible);
        column->SetGroupIndex(ReadInt(store, "GroupIndex", column->GroupIndex()));
        // Ungrouping shows a column; the stored visibility stands.
        column->SetVisible(visible);
        column->SetWidth(ReadInt(store, "Width", column->Width()));
        int sortedValue = ReadInt(store, "Sorted", static_cast<int>(column->Sorted()));
        if (sortedValue >= csNone && sortedValue <= csUp) column->SetSorted(static_cast<TTreeListColumnSort>(sortedValue));
        sortedOrder[column] = ReadInt(store, "SortedOrder", -1);
        int stored = ReadInt(store, "Index", column->Index());
        place.stored = stored;
        place.valid = stored >= 0;
        store.CloseKey();
      }
      places.push_back(place);
    }
    // Stored positions that tie or are negative give way to the column's
    // design position.
    std::map<int, int> uses;
    for (const TPlace& place : places) {
      if (place.valid) ++uses[place.stored];
    }
    for (TPlace& place : places) {
      if (!place.valid || uses[place.stored] > 1) place.stored = place.current;
    }
    std::stable_sort(places.begin(), places.end(), [](const TPlace& a, const TPlace& b) {
      return a.stored != b.stored ? a.stored < b.stored : a.current < b.current;
    });
    for (std::size_t i = 0; i < places.size(); ++i) places[i].column->SetIndex(static_cast<int>(i));

    // Second pass: band, header row and remembered row.
    for (TTreeListColumn* column : columns) {
      if (!store.OpenKey(p + "\\Columns\\" + column->Name(), false)) continue;
      column->SetBandIndex(ReadInt(store, "BandIndex", column->BandIndex()));
      int storedRow = ReadInt(store, "StoredRowIndex", column->StoredRowIndex());
      column->SetRowIndex(ReadInt(store, "RowIndex", column->RowIndex()));
      column->SetStoredRowIndex(storedRow);
      store.CloseKey();
    }
  } catch (...) {
    if (multiSort) grid.EndSorting();
    grid.EndGrouping();
    grid.EndUpdate();
    throw;
  }
  if (multiSort) grid.EndSorting();
  grid.EndGrouping();
  grid.EndUpdate();
}

void TCustomDBGrid::SaveToRegistry(const std::string& path) {
  if (!settings_) return;
  std::unique_ptr<ISettingsStore> store = settings_();
  TGridLayoutIo::Save(*this, *store, path);
}

void TCustomDBGrid::LoadFromRegistry(const std::string& path) {
  if (!settings_) return;
  std::unique_ptr<ISettingsStore> store = settings_();
  if (!store->OpenKey(KeyPath(path), false)) return;
  store->CloseKey();
  TGridLayoutIo::Load(*this, *store, path);
}

}  // namespace grid
