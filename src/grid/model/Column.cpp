#include "grid/model/Column.h"

#include <algorithm>

#include "dataset/TextConvert.h"
#include "grid/model/TreeList.h"

namespace grid {

namespace {
bool IsTextType(dataset::TFieldType type) {
  return type == dataset::ftString || type == dataset::ftFixedChar || type == dataset::ftWideString;
}

bool IsNumericType(dataset::TFieldType type) {
  switch (type) {
    case dataset::ftSmallint:
    case dataset::ftInteger:
    case dataset::ftWord:
    case dataset::ftFloat:
    case dataset::ftCurrency:
    case dataset::ftBCD:
    case dataset::ftAutoInc:
    case dataset::ftLargeint: return true;
    default: return false;
  }
}
}  // namespace

// ---- TTreeListColumn

TTreeListColumn::TTreeListColumn() = default;
TTreeListColumn::~TTreeListColumn() = default;

void TTreeListColumn::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (treeList_ != nullptr) treeList_->ColumnChanged(false);
}

void TTreeListColumn::SetDisableCaption(bool value) {
  disableCaption_ = value;
  if (treeList_ != nullptr) treeList_->ColumnChanged(false);
}

void TTreeListColumn::SetWidth(int width) {
  width = std::max(width, minWidth_);
  if (width == width_) return;
  width_ = width;
  if (treeList_ != nullptr) treeList_->ColumnChanged(true);
}

void TTreeListColumn::SetMinWidth(int value) {
  minWidth_ = std::max(value, 0);
  SetWidth(width_);
}

void TTreeListColumn::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  if (treeList_ != nullptr) treeList_->ColumnChanged(true);
}

int TTreeListColumn::Index() const {
  if (treeList_ == nullptr) return -1;
  for (int i = 0; i < treeList_->ColumnCount(); ++i) {
    if (treeList_->Columns(i) == this) return i;
  }
  return -1;
}

void TTreeListColumn::SetIndex(int index) {
  if (treeList_ != nullptr) treeList_->ColumnIndexChanging(this, index);
}

void TTreeListColumn::SetBandIndex(int index) {
  int bands = treeList_ != nullptr ? treeList_->BandCount() : 1;
  index = std::clamp(index, -1, bands - 1);
  if (index == bandIndex_) return;
  bandIndex_ = index;
  if (treeList_ != nullptr) treeList_->ColumnChanged(true);
}

void TTreeListColumn::SetRowIndex(int index) {
  int rows = treeList_ != nullptr ? treeList_->HeaderPanelRowCount() : 1;
  storedRowIndex_ = index;
  index = std::clamp(index, 0, std::max(rows, 1) - 1);
  if (index == rowIndex_) return;
  rowIndex_ = index;
  if (treeList_ != nullptr) treeList_->ColumnChanged(true);
}

int TTreeListColumn::ColIndex() const {
  if (!visible_ || treeList_ == nullptr) return -1;
  int position = 0;
  for (int i = 0; i < treeList_->ColumnCount(); ++i) {
    const TTreeListColumn* c = treeList_->Columns(i);
    if (c == this) return position;
    if (c->Visible() && c->BandIndex() == bandIndex_ && c->RowIndex() == rowIndex_) ++position;
  }
  return -1;
}

void TTreeListColumn::SetColIndex(int position) {
  if (treeList_ == nullptr) return;
  std::vector<TTreeListColumn*> row;
  for (int i = 0; i < treeList_->ColumnCount(); ++i) {
    TTreeListColumn* c = treeList_->Columns(i);
    if (c->Visible() && c->BandIndex() == bandIndex_ && c->RowIndex() == rowIndex_) row.push_back(c);
  }
  if (row.empty()) return;
  int last = static_cast<int>(row.size()) - 1;
  position = std::clamp(position, 0, last);
  TTreeListColumn* target = row[static_cast<std::size_t>(position)];
  if (target == this) return;
  int index = target->Index();
  if (position == last && Index() > index) ++index;
  SetIndex(index);
}

void TTreeListColumn::SetSorted(TTreeListColumnSort state) {
  if (state != csNone && state != csDown && state != csUp) return;
  if (treeList_ == nullptr || treeList_->IsLoading()) {
    sorted_ = state;
    return;
  }
  treeList_->ColumnSortedRequest(this, state);
}

void TTreeListColumn::SetGroupIndex(int index) {
  if (index < -1) return;
  if (treeList_ == nullptr || treeList_->IsLoading()) {
    groupIndex_ = index;
    return;
  }
  treeList_->SetGroupIndex(this, index);
}

void TTreeListColumn::SetDisableGrouping(bool value) {
  disableGrouping_ = value;
  if (value && groupIndex_ >= 0 && treeList_ != nullptr && !treeList_->IsLoading()) {
    treeList_->SetGroupIndex(this, -1);
  }
}

// ---- TDBTreeListColumn

void TDBTreeListColumn::SetFieldName(const std::string& name) {
  fieldName_ = name;
  field_ = nullptr;
  if (TreeList() != nullptr) TreeList()->ColumnFieldChanged(this);
}

std::string TDBTreeListColumn::DefaultCaption() const {
  if (field_ != nullptr) return field_->DisplayName();
  return fieldName_;
}

TAlignment TDBTreeListColumn::DefaultAlignment() const {
  return field_ != nullptr && IsNumericType(field_->DataType()) ? taRightJustify : taLeftJustify;
}

bool TDBTreeListColumn::DefaultReadOnly() const { return field_ != nullptr && field_->ReadOnly(); }

bool TDBTreeListColumn::IsBlobColumn() const { return field_ != nullptr && field_->IsBlob(); }

bool TDBTreeListColumn::SortsByText() const { return field_ == nullptr || IsTextType(field_->DataType()); }

std::string TDBTreeListColumn::GetDisplayText() const {
  return field_ != nullptr ? field_->DisplayText() : std::string();
}

std::string TDBTreeListColumn::GetEditText() const { return field_ != nullptr ? field_->Text() : std::string(); }

void TDBTreeListColumn::SetEditText(const std::string& text) {
  if (field_ == nullptr) return;
  if (text.empty()) {
    field_->Clear();
  } else {
    field_->SetText(text);
  }
}

int TDBTreeListColumn::GetEditLimit() const {
  return field_ != nullptr && IsTextType(field_->DataType()) ? field_->Size() : 0;
}

bool TDBTreeListColumn::CanEditAcceptKey(char c) const {
  if (field_ == nullptr) return false;
  unsigned char u = static_cast<unsigned char>(c);
  if (u < 32) return false;
  switch (field_->DataType()) {
    case dataset::ftSmallint:
    case dataset::ftInteger:
    case dataset::ftWord:
    case dataset::ftAutoInc:
    case dataset::ftLargeint: return (c >= '0' && c <= '9') || c == '+' || c == '-';
    case dataset::ftFloat:
    case dataset::ftCurrency:
    case dataset::ftBCD:
      return (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
    case dataset::ftDate:
    case dataset::ftTime:
    case dataset::ftDateTime:
      return (c >= '0' && c <= '9') || c == '-' || c == '/' || c == '.' || c == ':' || c == ' ';
    default: return true;
  }
}

// ---- TDBTreeListPickColumn

int TDBTreeListPickColumn::FindItem(const std::string& text) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (dataset::AnsiSameText(items_[i], text)) return static_cast<int>(i);
  }
  return -1;
}

int TDBTreeListPickColumn::FindItemByPrefix(const std::string& text) const {
  if (text.empty()) return -1;
  std::string wanted = dataset::AnsiUpperCase(text);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].size() >= text.size() &&
        dataset::AnsiUpperCase(std::string_view(items_[i]).substr(0, text.size())) == wanted) {
      return static_cast<int>(i);
    }
  }
  return -1;
}

int TDBTreeListPickColumn::ListRowCount() const {
  return std::min(static_cast<int>(items_.size()), DropDownRows());
}

// ---- TDBTreeListHyperLinkColumn

bool TDBTreeListHyperLinkColumn::StartLink(const std::string& text, marrowick::platform::IShell& shell) const {
  if (text.find_first_not_of(" \t") == std::string::npos) return false;
  return shell.OpenAddress(text);
}

}  // namespace grid
