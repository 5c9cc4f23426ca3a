#include "app/SiteCommands.h"

#include "dataset/DataSetMessages.h"
#include "dataset/DataSource.h"
#include "engine/base/TesselError.h"

namespace marrowick {

dataset::TDataSet* TSiteCommands::RecordSet() const {
  dataset::TDataSource* source = grid_.DataSource();
  return source != nullptr ? source->DataSet() : nullptr;
}

bool TSiteCommands::HasCurrentSite() const {
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active() || ds->IsEmpty()) return false;
  const dataset::TDataSetState state = ds->State();
  if (state != dataset::dsBrowse && state != dataset::dsEdit) return false;
  grid::TTreeListNode* node = grid_.FocusedNode();
  if (node == nullptr || node->HasChildren() || !grid_.IsLiveNode(node)) return false;
  // The record being edited is the focused row's, whatever its key holds
  // now (a key typed into a cell is not stored yet).
  if (state == dataset::dsEdit && node == grid_.EditedNode()) return true;
  dataset::TField* key = grid_.KeyFieldObject();
  if (key == nullptr) return false;
  return grid::TCustomDBGrid::AsDBNode(node)->KeyValue == key->Value();
}

std::optional<std::string> TSiteCommands::FieldText(dataset::TDataSet& ds, const char* name) {
  dataset::TField& field = ds.FieldByName(name);
  if (field.IsNull()) return std::nullopt;
  return field.AsString();
}

std::optional<std::string> TSiteCommands::CurrentSiteText(const char* field) const {
  if (!HasCurrentSite()) return std::nullopt;
  return FieldText(*RecordSet(), field).value_or(std::string());
}

void TSiteCommands::Store(dataset::TDataSet& ds, const TSiteValues& values) {
  ds.FieldByName("siteurl").SetValue(dataset::Variant(values.Url));
  ds.FieldByName("sitename").SetValue(dataset::Variant(values.Name));
  ds.FieldByName("sitetype").SetValue(dataset::Variant(values.Category));
  ds.FieldByName("login").SetValue(dataset::Variant(values.Login));
  ds.FieldByName("password").SetValue(dataset::Variant(values.Password));
}

std::optional<TSiteValues> TSiteCommands::RunDialog(const TSiteRecordValues* site) {
  dialogOpen_ = true;
  std::optional<TSiteValues> values;
  try {
    values = dialog_.Execute(site);
  } catch (...) {
    dialogOpen_ = false;
    throw;
  }
  dialogOpen_ = false;
  return values;
}

void TSiteCommands::Add() {
  if (dialogOpen_) return;
  dataset::TDataSet* ds = RecordSet();
  // Said before the dialog, so that nothing is typed in vain.
  if (ds == nullptr || !ds->Active()) dataset::DatabaseError(dataset::msg::DataSetClosed);
  // A pending edit (notes typed, a cell changed, a row being inserted) is
  // stored first, so that its refusal comes before anything is typed into
  // the dialog.
  if (dataset::IsEditMode(ds->State())) ds->CheckBrowseMode();
  const std::optional<TSiteValues> values = RunDialog(nullptr);
  if (!values) return;
  // The table may have been closed while the dialog was open (Exit from
  // the tray); Append then says so.
  ds->Append();
  Store(*ds, *values);
  ds->Post();
}

void TSiteCommands::Edit() {
  if (dialogOpen_ || !HasCurrentSite()) return;
  dataset::TDataSet& ds = *RecordSet();
  // A field without a value shows as empty (no category selected, for
  // example); OK then asks for what is missing.
  TSiteRecordValues site;
  site.Url = FieldText(ds, "siteurl");
  site.Name = FieldText(ds, "sitename");
  site.Category = FieldText(ds, "sitetype");
  site.Login = FieldText(ds, "login");
  site.Password = FieldText(ds, "password");
  const dataset::Variant key = grid_.KeyFieldObject()->Value();
  const std::optional<TSiteValues> values = RunDialog(&site);
  if (!values) return;
  // Only the site the dialog was opened for takes its values.
  if (!HasCurrentSite() || !(grid_.KeyFieldObject()->Value() == key)) return;
  try {
    ds.Edit();
  } catch (const tessel::ETesselEngineError& error) {
    if (error.Code() != tessel::ec::RecordChanged || !reportChanged_) throw;
    reportChanged_(error);
    OfferTypedAgain(*values, key);
    return;
  }
  Store(ds, *values);
  ds.Post();
}

void TSiteCommands::OfferTypedAgain(const TSiteValues& typed, const dataset::Variant& key) {
  if (refreshView_) refreshView_();
  dataset::TDataSet* ds = RecordSet();
  if (ds == nullptr || !ds->Active()) return;
  const bool exists = ds->Locate(grid_.KeyField(), key, {});
  TSiteRecordValues again;
  again.Name = typed.Name;
  again.Url = typed.Url;
  again.Category = typed.Category;
  again.Login = typed.Login;
  again.Password = typed.Password;
  const std::optional<TSiteValues> values = RunDialog(&again);
  if (!values || !ds->Active()) return;
  if (exists && HasCurrentSite() && grid_.KeyFieldObject()->Value() == key) {
    ds->Edit();
  } else {
    ds->Append();
  }
  Store(*ds, *values);
  ds->Post();
}

void TSiteCommands::Delete() {
  if (dialogOpen_ || !HasCurrentSite()) return;
  // The grid's own deletion: the question first, then the focused row's
  // record and no other.
  grid_.DeleteRecord();
}

void TSiteCommands::ViewSite() {
  if (!HasCurrentSite()) return;
  const std::optional<std::string> url = FieldText(*RecordSet(), "siteurl");
  if (!url) return;
  shell_.OpenAddress(*url);
}

}  // namespace marrowick
