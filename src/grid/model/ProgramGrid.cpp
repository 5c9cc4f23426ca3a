#include "grid/model/ProgramGrid.h"

namespace grid {

TGridDesc ProgramGridDescription(const std::vector<std::string>& categories) {
  TGridDesc d;
  d.Name = "DBGrid1";
  d.KeyField = "siteurl";
  d.PreviewField = "note";
  d.RegistryPath = kProgramGridRegistryPath;
  d.Options = kProgramGridOptions;
  d.FilterFields = {"sitetype", "sitename", "siteurl", "login"};

  TGridColumnDesc category;
  category.Name = "SiteCategory";
  category.Kind = TColumnKind::Pick;
  category.FieldName = "sitetype";
  category.Caption = "Site Category";
  category.Width = 184;
  category.GroupIndex = 0;
  category.Sorted = csUp;
  category.ImmediateDropDown = false;
  category.Items = categories;

  TGridColumnDesc name;
  name.Name = "SiteName";
  name.FieldName = "sitename";
  name.Caption = "Site Name";
  name.Width = 200;
  name.DisableGrouping = true;

  TGridColumnDesc url;
  url.Name = "SiteUrl";
  url.Kind = TColumnKind::HyperLink;
  url.FieldName = "siteurl";
  url.Caption = "Site Url";
  url.Width = 363;
  url.DisableGrouping = true;

  TGridColumnDesc login;
  login.Name = "SiteLogin";
  login.FieldName = "login";
  login.Caption = "Site Login";
  login.Width = 119;
  login.Visible = false;
  login.DisableGrouping = true;

  TGridColumnDesc password = login;
  password.Name = "SitePassword";
  password.FieldName = "password";
  password.Caption = "Site Password";

  d.Columns = {category, name, url, login, password};
  return d;
}

std::unique_ptr<TDBGrid> BuildGrid(const TGridDesc& description,
                                   marrowick::platform::SettingsStoreFactory settings,
                                   dataset::TDataSource* source) {
  auto grid = std::make_unique<TDBGrid>();
  grid->Appearance().Name = description.Name;
  grid->SetOptions(description.Options);
  grid->SetKeyField(description.KeyField);
  grid->SetPreviewFieldName(description.PreviewField);
  grid->SetRegistryPath(description.RegistryPath);
  grid->SetFilterFieldNames(description.FilterFields);
  grid->SetSettingsStore(std::move(settings));
  for (const TGridColumnDesc& c : description.Columns) {
    TDBTreeListColumn* column = nullptr;
    switch (c.Kind) {
      case TColumnKind::Text: column = &grid->CreateColumn<TDBGridColumn>(); break;
      case TColumnKind::Pick: {
        auto& pick = grid->CreateColumn<TDBGridPickColumn>();
        pick.SetItems(c.Items);
        pick.SetImmediateDropDown(c.ImmediateDropDown);
        column = &pick;
        break;
      }
      case TColumnKind::HyperLink: column = &grid->CreateColumn<TDBGridHyperLinkColumn>(); break;
    }
    column->SetName(c.Name);
    column->SetFieldName(c.FieldName);
    if (!c.Caption.empty()) column->SetCaption(c.Caption);
    column->SetWidth(c.Width);
    column->SetVisible(c.Visible);
    column->SetDisableGrouping(c.DisableGrouping);
    column->SetGroupIndex(c.GroupIndex);
    column->SetSorted(c.Sorted);
  }
  grid->Loaded();
  if (source != nullptr) grid->SetDataSource(source);
  return grid;
}

}  // namespace grid
