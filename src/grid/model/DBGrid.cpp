#include "grid/model/DBGrid.h"

#include <algorithm>
#include <functional>

#include "dataset/TextConvert.h"

namespace grid {

using dataset::TField;
using dataset::Variant;

// ---- TGridDataLink (the notifications are in DBGridNotify.cpp)

TGridDataLink::~TGridDataLink() = default;

void TGridDataLink::RebuildFieldMap() {
  fieldMap_.clear();
  dataset::TDataSet* ds = Active() ? DataSet() : nullptr;
  for (int i = 0; i < grid_.ColumnCount(); ++i) {
    int index = -1;
    if (ds != nullptr) {
      if (auto* column = dynamic_cast<TDBTreeListColumn*>(grid_.Columns(i))) {
        if (TField* field = ds->FindField(column->FieldName())) index = ds->Fields().IndexOf(field);
      }
    }
    fieldMap_.push_back(index);
  }
}

// ---- TCustomDBGrid

TCustomDBGrid::TCustomDBGrid() { SetOptions(kProgramGridOptions); }

TCustomDBGrid::~TCustomDBGrid() {
  try {
    Destroying();
  } catch (...) {
    // A settings store that fails while the grid goes away has nobody to
    // report to.
  }
  destroyed_ = true;
  DropObservers();
  ClearNodes();
}

TDBGrid::TDBGrid() = default;

dataset::TDataSet* TCustomDBGrid::ActiveDataSet() const {
  if (!dataLink_.Active()) return nullptr;
  dataset::TDataSet* ds = dataLink_.DataSet();
  return ds != nullptr && ds->Active() ? ds : nullptr;
}

dataset::TField* TCustomDBGrid::FindRecordSetField(const std::string& name) const {
  if (!dataLink_.Active() || name.empty()) return nullptr;
  dataset::TDataSet* ds = dataLink_.DataSet();
  return ds != nullptr ? ds->FindField(name) : nullptr;
}

void TCustomDBGrid::SetKeyField(const std::string& name) {
  keyFieldName_ = name;
  keyField_ = FindRecordSetField(name);
}

TDBTreeListColumn* TCustomDBGrid::DBColumn(int index) const {
  return dynamic_cast<TDBTreeListColumn*>(Columns(index));
}

void TCustomDBGrid::BindColumns() {
  for (int i = 0; i < ColumnCount(); ++i) {
    if (TDBTreeListColumn* column = DBColumn(i)) column->field_ = FindRecordSetField(column->FieldName());
  }
}

void TCustomDBGrid::UnbindColumns() {
  for (int i = 0; i < ColumnCount(); ++i) {
    if (TDBTreeListColumn* column = DBColumn(i)) column->field_ = nullptr;
  }
}

void TCustomDBGrid::AssignPreviewField() {
  previewField_ = nullptr;
  TField* field = FindRecordSetField(previewFieldName_);
  if (field == nullptr) return;
  if (field->IsBlob() && field->DataType() != dataset::ftBlob && field->DataType() != dataset::ftMemo &&
      field->DataType() != dataset::ftFmtMemo) {
    return;
  }
  previewField_ = field;
}

std::string TCustomDBGrid::GroupFieldName(const TTreeListColumn* column) const {
  if (const auto* db = dynamic_cast<const TDBTreeListColumn*>(column)) return db->FieldName();
  return column->Name();
}

void TCustomDBGrid::ColumnFieldChanged(TTreeListColumn* column) {
  auto* db = dynamic_cast<TDBTreeListColumn*>(column);
  if (db == nullptr) return;
  db->field_ = FindRecordSetField(db->FieldName());
  if (db->GroupIndex() >= 0 && !IsLoading()) ChangedGroupColumn(db);
}

void TCustomDBGrid::ChangedGroupColumn(TTreeListColumn* column) {
  auto* db = dynamic_cast<TDBTreeListColumn*>(column);
  bool unusable = db == nullptr || db->FieldName().empty() || db->IsBlobColumn() ||
                  (dataLink_.Active() && db->Field() == nullptr);
  if (unusable) {
    SetGroupIndex(column, -1);
    return;
  }
  BeginGrouping();
  EndGrouping();
}

bool TCustomDBGrid::CanAddGroupColumn(TTreeListColumn* column) const {
  return TCustomTreeList::CanAddGroupColumn(column);
}

// ---- Life cycle and the stored layout

void TCustomDBGrid::Loaded() {
  if (!IsLoading()) return;
  RefreshGroupColumns();
  CheckSortedColumns();
  SetLoading(false);
  if (HasOption(goStoreToRegistry) && settings_ && !registryPath_.empty()) LoadFromRegistry(registryPath_);
  layoutModified_ = false;
  // A record set that was already open is read now.
  if (dataLink_.Active()) ReLoadGroupList();
}

void TCustomDBGrid::Destroying() {
  if (destroyed_) return;
  destroyed_ = true;
  if (!IsLoading() && HasOption(goStoreToRegistry) && settings_ && !registryPath_.empty()) {
    SaveToRegistry(registryPath_);
    layoutModified_ = false;
  }
}

bool TCustomDBGrid::SaveLayoutIfModified() {
  if (!layoutModified_ || !settings_ || registryPath_.empty() || !HasOption(goStoreToRegistry)) return false;
  SaveToRegistry(registryPath_);
  layoutModified_ = false;
  return true;
}

void TCustomDBGrid::LayoutChanged() {
  if (IsLoading() || restoringLayout_) return;
  layoutModified_ = true;
  TCustomTreeList::LayoutChanged();
}

// ---- Nodes and capture

TTreeListNode* TCustomDBGrid::CreateNode() { return new TDBGridNode(this); }

TTreeListNode* TCustomDBGrid::FirstDataNode(TTreeListNode* node) {
  while (node != nullptr && node->HasChildren()) node = node->GetFirstChild();
  return node;
}

namespace {
bool StoresTypedValue(const TField& field) {
  switch (field.DataType()) {
    case dataset::ftSmallint:
    case dataset::ftInteger:
    case dataset::ftWord:
    case dataset::ftBoolean:
    case dataset::ftFloat:
    case dataset::ftCurrency:
    case dataset::ftBCD:
    case dataset::ftDate:
    case dataset::ftTime:
    case dataset::ftDateTime:
    case dataset::ftAutoInc:
    case dataset::ftLargeint: return true;
    case dataset::ftString:
    case dataset::ftFixedChar:
    case dataset::ftWideString: return static_cast<bool>(field.OnGetText) || !field.EditMask().empty();
    default: return false;
  }
}
}  // namespace

void TCustomDBGrid::AssignNodeValues(TDBGridNode* node, TTreeListColumn* column) {
  auto* db = dynamic_cast<TDBTreeListColumn*>(column);
  if (node == nullptr || db == nullptr) return;
  CaptureColumn(node, db, db->Index());
}

void TCustomDBGrid::CaptureColumn(TDBGridNode* node, TDBTreeListColumn* column, int index) {
  TField* field = column->Field();
  node->SetStrings(index, field != nullptr ? column->GetDisplayText() : std::string());
  bool typed = field != nullptr && (StoresTypedValue(*field) || column->AlwaysStoredValue());
  bool lookup = field != nullptr && field->Lookup() && field->DataSet() != nullptr;
  // Most cells keep their text only: no value record is made for them
  // unless one has to be cleared.
  if (!typed && !lookup && node->GetVariantData(index).Flags == 0) return;
  TNodeVariantData data;
  if (typed) {
    data.Flags |= TNodeVariantData::vdValue;
    data.Value = field->Value();
  }
  if (lookup) {
    data.Flags |= TNodeVariantData::vdLookupKey;
    data.LookupKeyValue = field->DataSet()->FieldValues(field->KeyFields());
  }
  node->SetVariantData(index, std::move(data));
}

void TCustomDBGrid::AssignNodeAllValues(TDBGridNode* node) {
  if (node == nullptr) return;
  InvalidateFilterMatch(node);
  for (int i = 0; i < ColumnCount(); ++i) {
    TDBTreeListColumn* column = DBColumn(i);
    if (column != nullptr && column->Field() != nullptr) CaptureColumn(node, column, i);
  }
  node->KeyValue = keyField_ != nullptr ? keyField_->Value() : Variant::Null();
  if (previewField_ != nullptr) {
    try {
      node->PreviewText = previewField_->AsString();
    } catch (...) {
      // A preview that cannot be read keeps the text it had.
    }
  }
}

Variant TCustomDBGrid::GetColumnVariantData(const TDBGridNode* node, const TTreeListColumn* column) const {
  int index = column->Index();
  const TNodeVariantData& data = node->GetVariantData(index);
  if (data.Flags & TNodeVariantData::vdValue) return data.Value;
  const std::string& text = node->Strings(index);
  return text.empty() ? Variant::Null() : Variant(text);
}

void TCustomDBGrid::CorrectIdGroupNodes() {
  if (GroupColumnCount() == 0) return;
  std::function<void(TTreeListNode*)> correct = [&](TTreeListNode* node) {
    for (int i = 0; i < node->Count(); ++i) {
      if (node->Items(i)->HasChildren()) correct(node->Items(i));
    }
    auto* group = AsDBNode(node);
    auto* first = AsDBNode(node->GetFirstChild());
    group->KeyValue = first->KeyValue;
    group->RecordIndex = first->RecordIndex;
  };
  for (int i = 0; i < Count(); ++i) {
    if (GetNode(i)->HasChildren()) correct(GetNode(i));
  }
}

void TCustomDBGrid::MoveNodesToRoot() { FlattenGroups(); }

void TCustomDBGrid::SetFilterFieldNames(std::vector<std::string> names) {
  filterFieldNames_ = std::move(names);
  FilterSourcesChanged();
}

void TCustomDBGrid::SetFilterPreview(bool value) {
  if (filterPreview_ == value) return;
  filterPreview_ = value;
  FilterSourcesChanged();
}

std::vector<int> TCustomDBGrid::FilterColumns() const {
  if (filterFieldNames_.empty()) return TCustomTreeList::FilterColumns();
  std::vector<int> columns;
  for (int i = 0; i < ColumnCount(); ++i) {
    TDBTreeListColumn* column = DBColumn(i);
    if (column == nullptr) continue;
    for (const std::string& name : filterFieldNames_) {
      if (dataset::AnsiSameText(column->FieldName(), name)) {
        columns.push_back(i);
        break;
      }
    }
  }
  return columns;
}

const std::string* TCustomDBGrid::FilterExtraText(const TTreeListNode* node) const {
  if (!filterPreview_ || node == nullptr || node->HasChildren()) return nullptr;
  return &static_cast<const TDBGridNode*>(node)->PreviewText;
}

std::string TCustomDBGrid::GetPreviewString(const std::string& text) const {
  if (previewMaxLength_ <= 0 || static_cast<int>(text.size()) <= previewMaxLength_) return text;
  return text.substr(0, static_cast<std::size_t>(previewMaxLength_)) + "...";
}

std::string TCustomDBGrid::GetPreviewText(const TTreeListNode* node) const {
  if (node == nullptr || node->HasChildren()) return {};
  return static_cast<const TDBGridNode*>(node)->PreviewText;
}

void TCustomDBGrid::NodeDestroying(TTreeListNode* node) {
  nodeLinks_.erase(node);
  if (editedNode_ == node) editedNode_ = nullptr;
  for (TTreeListNode*& watched : watched_) {
    if (watched == node) watched = nullptr;
  }
}

}  // namespace grid
