// Building a grid from a description of its columns, so that the program,
// the headless export command and the tests all make the same grid.
//
//   auto grid = grid::BuildGrid(grid::ProgramGridDescription(categories),
//                               settingsFactory, &dataSource);
//
// BuildGrid makes the columns, sets the key field, the preview field and
// the options, ends the construction (Loaded: the stored layout is read
// when a settings store is given), then binds the data source, which reads
// the records when the record set is open.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dataset/DataSource.h"
#include "grid/model/DBGrid.h"
#include "platform/core/SettingsStore.h"

namespace grid {

enum class TColumnKind { Text, Pick, HyperLink };

struct TGridColumnDesc {
  std::string Name;
  TColumnKind Kind = TColumnKind::Text;
  std::string FieldName;
  std::string Caption;
  int Width = 100;
  bool Visible = true;
  int GroupIndex = -1;
  TTreeListColumnSort Sorted = csNone;
  bool DisableGrouping = false;
  // Pick columns.
  bool ImmediateDropDown = true;
  std::vector<std::string> Items;
};

struct TGridDesc {
  std::string Name = "DBGrid1";
  std::vector<TGridColumnDesc> Columns;
  std::string KeyField;
  std::string PreviewField;
  std::string RegistryPath;
  TDBGridOptions Options = kProgramGridOptions;
  // The fields the quick find searches (every column when empty); it
  // searches the preview text too.
  std::vector<std::string> FilterFields;
};

// The registry path of the program's grid layout.
inline constexpr const char* kProgramGridRegistryPath = "\\Software\\Tolvane\\Marrowick\\grid";

// The program's grid: SiteCategory (pick list of the given categories,
// grouped, ascending), SiteName, SiteUrl (hyperlink), SiteLogin and
// SitePassword (hidden); key "siteurl", preview "note"; the quick find
// searches category, name, URL, login and the notes, never the password.
TGridDesc ProgramGridDescription(const std::vector<std::string>& categories);

std::unique_ptr<TDBGrid> BuildGrid(const TGridDesc& description,
                                   marrowick::platform::SettingsStoreFactory settings = {},
                                   dataset::TDataSource* source = nullptr);

}  // namespace grid
