// What a key, a click or a drop does: in-place editing decisions, row and
// column moves, expanding and collapsing, Insert and Ctrl+Del, the
// clipboard line, header clicks, group panel drops and best fit. The view
// only turns its events into these calls.
#include <algorithm>

#include "grid/model/DBGrid.h"

namespace grid {

using dataset::Variant;

// ---- In-place editing

bool TCustomDBGrid::CanEditShow() const {
  TTreeListNode* node = FocusedNode();
  return node != nullptr && !node->HasChildren() && dataLink_.Active();
}

bool TCustomDBGrid::ShowEditor() {
  if (!HasOption(goEditing) || HasOption(goRowSelect)) return false;
  TTreeListNode* node = FocusedNode();
  if (node == nullptr || node->HasChildren()) return false;
  if (HasOption(goLoadAllRecords) && !HasOption(goCanNavigation)) return false;
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  if (column == nullptr || !column->Visible() || !column->GetEnableEditor()) return false;
  if (GetVisibleHeaderCount() == 0 || !CanEditShow()) return false;
  if (editorOpen_) return true;
  MakeNodeVisible(node);
  editorOpen_ = true;
  editorModified_ = false;
  editorText_ = editorOpeningText_ = GetEditText();
  NotifyEditorState();
  return true;
}

std::string TCustomDBGrid::GetEditText() const {
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  return column != nullptr ? column->GetEditText() : std::string();
}

int TCustomDBGrid::GetEditLimit() const {
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  return column != nullptr ? column->GetEditLimit() : 0;
}

bool TCustomDBGrid::CanEditAcceptKey(char c) const {
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  return column != nullptr && column->CanEditAcceptKey(c);
}

bool TCustomDBGrid::CanEditModify() {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return false;
  if (HasOption(goLoadAllRecords) && (!HasOption(goCanNavigation) || keyField_ == nullptr)) return false;
  if (dataLink_.ReadOnly()) return false;
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  if (column == nullptr || column->ReadOnly() || column->Field() == nullptr) return false;
  dataset::TField* field = column->Field();
  if (field->IsBlob() || field->ReadOnly() || !ds->CanModify()) return false;
  if (!HasOption(goCanInsert) && ds->IsEmpty()) return false;
  if (!dataLink_.Edit()) return false;
  dataLink_.Modified(true);
  return true;
}

bool TCustomDBGrid::SetEditorText(const std::string& text) {
  if (!editorOpen_) return false;
  // Every change asks again, as each typed key does: the record goes (back)
  // into edit and the link is marked modified. A notification in between
  // clears the mark (the pick list's value reaching the field at once sends
  // one), and an unmarked link would drop the text when the editor closes.
  if (!CanEditModify()) return false;
  editorModified_ = true;
  int limit = GetEditLimit();
  editorText_ = limit > 0 && static_cast<int>(text.size()) > limit ? text.substr(0, static_cast<std::size_t>(limit)) : text;
  return true;
}

void TCustomDBGrid::SetEditText(TTreeListNode* node, int column, const std::string& text) {
  editorOpeningText_ = text;
  dataset::TDataSet* ds = ActiveDataSet();
  TDBTreeListColumn* dbColumn = DBColumn(column);
  if (ds == nullptr || dbColumn == nullptr || !dataLink_.Modified() || !dataset::IsEditMode(ds->State())) return;
  dbColumn->SetEditText(text);
  if (node != nullptr && IsLiveNode(node) && !node->HasChildren()) {
    AsDBNode(node)->SetStrings(column, text);
    NotifyRowChanged(node);
  }
}

void TCustomDBGrid::HideEditor() {
  if (!editorOpen_) return;
  if (editorModified_) SetEditText(FocusedNode(), FocusedColumn(), editorText_);
  editorOpen_ = false;
  editorModified_ = false;
  NotifyEditorState();
}

void TCustomDBGrid::CancelEditor() {
  if (!editorOpen_) return;
  editorText_ = editorOpeningText_ = GetEditText();
  editorOpen_ = false;
  editorModified_ = false;
  NotifyEditorState();
}

void TCustomDBGrid::ExitGrid() {
  if (!HasOption(goCancelOnExit)) return;
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return;
  if (InsertUntouched()) {
    CancelEditor();
    ds->Cancel();
    return;
  }
  HideEditor();
}

bool TCustomDBGrid::StartLink() {
  auto* column = dynamic_cast<TDBTreeListHyperLinkColumn*>(Columns(FocusedColumn()));
  TTreeListNode* node = FocusedNode();
  if (column == nullptr || shell_ == nullptr || node == nullptr || node->HasChildren()) return false;
  std::string text = editorOpen_ ? editorText_ : AsDBNode(node)->Strings(column->Index());
  return column->StartLink(text, *shell_);
}

std::optional<std::string> TCustomDBGrid::PickComplete(const std::string& searchText) {
  auto* column = dynamic_cast<TDBTreeListPickColumn*>(Columns(FocusedColumn()));
  if (column == nullptr || !editorOpen_) return std::nullopt;
  int item = column->FindItemByPrefix(searchText);
  if (item < 0) return std::nullopt;
  std::string value = column->Items()[static_cast<std::size_t>(item)];
  if (!PickAccept(value)) return std::nullopt;
  return value;
}

bool TCustomDBGrid::PickAccept(const std::string& value) {
  auto* column = dynamic_cast<TDBTreeListPickColumn*>(Columns(FocusedColumn()));
  if (column == nullptr || !editorOpen_) return false;
  // Asked again for every value, as SetEditorText does: the value taken
  // before cleared the link's mark, and an unmarked link writes nothing.
  if (!CanEditModify()) return false;
  editorModified_ = true;
  editorText_ = value;
  // The value reaches the field at once, as the list closes.
  SetEditText(FocusedNode(), FocusedColumn(), value);
  return true;
}

int TCustomDBGrid::PickListSelection() const {
  auto* column = dynamic_cast<TDBTreeListPickColumn*>(Columns(FocusedColumn()));
  return column != nullptr ? column->FindItem(editorText_) : -1;
}

// ---- Rows and columns

bool TCustomDBGrid::CellClick(TTreeListNode* node, int column) {
  if (node == nullptr || !IsLiveNode(node)) return false;
  if (node == FocusedNode() && column == FocusedColumn()) return true;
  SetFocusedNode(node, column, true);
  return false;
}

void TCustomDBGrid::ToggleExpanded(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node) || !node->HasChildren()) return;
  node->SetExpanded(!node->Expanded());
}

void TCustomDBGrid::FocusNextRow() {
  TTreeListNode* node = FocusedNode();
  TTreeListNode* next = node != nullptr ? NextShownRow(node) : VisibleRow(0);
  dataset::TDataSet* ds = ActiveDataSet();
  if (next == nullptr) {
    // Down on the last row posts the record being edited.
    if (ds != nullptr && (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert)) {
      HideEditor();
      ds->Post();
    }
    return;
  }
  FocusRow(next);
}

void TCustomDBGrid::FocusPriorRow() {
  TTreeListNode* node = FocusedNode();
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds != nullptr && InsertUntouched() && node != nullptr && node == editedNode_ && NextShownRow(node) == nullptr) {
    // Up on a new record nobody touched, appended at the end: it goes.
    CancelEditor();
    ds->Cancel();
    if (TTreeListNode* last = LastVisibleNode()) FocusRow(last);
    return;
  }
  TTreeListNode* prior = node != nullptr ? PriorShownRow(node) : nullptr;
  if (prior == nullptr) {
    if (ds != nullptr && (ds->State() == dataset::dsEdit || ds->State() == dataset::dsInsert)) {
      HideEditor();
      ds->Post();
    }
    return;
  }
  FocusRow(prior);
}

std::vector<int> TCustomDBGrid::DisplayColumns() const {
  std::vector<int> columns;
  int n = GetVisibleHeaderCount();
  for (int i = 0; i < n; ++i) columns.push_back(GetFocusedAbsoluteIndex(i));
  return columns;
}

void TCustomDBGrid::FocusColumnStep(int step) {
  std::vector<int> columns = DisplayColumns();
  if (columns.empty()) return;
  auto it = std::find(columns.begin(), columns.end(), FocusedColumn());
  int position = it == columns.end() ? 0 : static_cast<int>(it - columns.begin());
  position = std::clamp(position + step, 0, static_cast<int>(columns.size()) - 1);
  HideEditor();
  SetFocusedColumn(columns[static_cast<std::size_t>(position)]);
}

bool TCustomDBGrid::KeyDown(TGridKey key, TShiftState shift) {
  const bool ctrl = (shift & ssCtrl) != 0;
  const bool shiftKey = (shift & ssShift) != 0;
  TTreeListNode* node = FocusedNode();
  switch (key) {
    case TGridKey::Up:
      FocusPriorRow();
      return true;
    case TGridKey::Down:
      FocusNextRow();
      return true;
    case TGridKey::Left:
      if (ctrl) {
        FocusColumnStep(-ColumnCount());
      } else if (IsRowGroup(node) && node->Expanded()) {
        node->Collapse(false);
      } else {
        FocusColumnStep(-1);
      }
      return true;
    case TGridKey::Right:
      if (ctrl) {
        FocusColumnStep(ColumnCount());
      } else if (IsRowGroup(node) && !node->Expanded()) {
        node->Expand(false);
      } else {
        FocusColumnStep(1);
      }
      return true;
    case TGridKey::Home:
      if (ctrl) {
        if (TTreeListNode* first = VisibleRow(0)) FocusRow(first);
      } else {
        FocusColumnStep(-ColumnCount());
      }
      return true;
    case TGridKey::End:
      if (ctrl) {
        if (TTreeListNode* last = LastVisibleNode()) FocusRow(last);
      } else {
        FocusColumnStep(ColumnCount());
      }
      return true;
    case TGridKey::PageUp:
    case TGridKey::PageDown: {
      int rows = VisibleRowCount();
      if (rows == 0) return true;
      int at = node != nullptr ? node->GetAbsoluteIndex() : 0;
      if (at < 0) at = 0;
      int step = key == TGridKey::PageUp ? -PageRowCount() : PageRowCount();
      FocusRow(VisibleRow(std::clamp(at + step, 0, rows - 1)));
      return true;
    }
    case TGridKey::Tab: {
      std::vector<int> columns;
      for (int index : DisplayColumns()) {
        if (Columns(index)->TabStop()) columns.push_back(index);
      }
      if (columns.empty()) return false;
      auto it = std::find(columns.begin(), columns.end(), FocusedColumn());
      int position = it == columns.end() ? -1 : static_cast<int>(it - columns.begin());
      int next = position + (shiftKey ? -1 : 1);
      if (position >= 0 && (next < 0 || next >= static_cast<int>(columns.size()))) {
        if (!HasOption(goTabThrough)) return false;
        TTreeListNode* row = node == nullptr ? nullptr : (shiftKey ? PriorShownRow(node) : NextShownRow(node));
        if (row == nullptr) return false;
        int column = shiftKey ? columns.back() : columns.front();
        SetFocusedNode(row, column, true);
        return true;
      }
      HideEditor();
      SetFocusedColumn(columns[static_cast<std::size_t>(std::clamp(next, 0, static_cast<int>(columns.size()) - 1))]);
      return true;
    }
    case TGridKey::Enter:
      if (!HasOption(goEnterShowEditor)) return false;
      return ShowEditor();
    case TGridKey::F2:
      return ShowEditor();
    case TGridKey::Escape:
      if (editorOpen_) {
        CancelEditor();
      } else {
        dataLink_.Reset();
      }
      return true;
    case TGridKey::Plus:
      if (IsRowGroup(node)) node->Expand(false);
      return IsRowGroup(node);
    case TGridKey::Minus:
      if (IsRowGroup(node)) node->Collapse(false);
      return IsRowGroup(node);
    case TGridKey::Multiply:
      if (IsRowGroup(node)) node->Expand(true);
      return IsRowGroup(node);
    case TGridKey::Insert:
      if (ctrl) return CopyToClipboard();
      if (shiftKey) return false;
      return InsertRecord();
    case TGridKey::Delete:
      if (!ctrl) return false;
      return DeleteRecord();
    case TGridKey::C:
      if (!ctrl) return false;
      return CopyToClipboard();
  }
  return false;
}

bool TCustomDBGrid::InsertRecord() {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || !HasOption(goLoadAllRecords) || HasOption(goRowSelect)) return false;
  if (!HasOption(goCanInsert) || !HasOption(goCanNavigation) || !ds->CanModify()) return false;
  HideEditor();
  ds->Insert();
  ShowEditor();
  return true;
}

bool TCustomDBGrid::DeleteRecord() {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || Switches().ShowNewItemRow) return false;
  if (!HasOption(goCanDelete) || !HasOption(goCanNavigation)) return false;
  if (!HasOption(goCanInsert) && ds->IsEmpty()) return false;
  TTreeListNode* node = FocusedNode();
  if (node == nullptr || node->HasChildren()) return false;
  if (ds->IsEmpty() || !ds->CanModify()) return false;
  if (HasOption(goConfirmDelete)) {
    if (messageBoxes_ == nullptr) return false;
    if (!messageBoxes_->AskOkCancel(text::kDeleteRecord, text::kConfirm)) return false;
  }
  CancelEditor();
  // While a filter is set the next shown site takes the focus, rather than
  // the record the table moves to, which need not match.
  TTreeListNode* neighbour = nullptr;
  if (Filtered()) {
    for (neighbour = NextShownRow(node); neighbour != nullptr && neighbour->HasChildren();) {
      neighbour = NextShownRow(neighbour);
    }
    if (neighbour == nullptr) {
      for (neighbour = PriorShownRow(node); neighbour != nullptr && neighbour->HasChildren();) {
        neighbour = PriorShownRow(neighbour);
      }
    }
  }
  if (!DeleteNodeRecord(node)) return false;
  if (neighbour != nullptr && IsLiveNode(neighbour) && !RowMatchesFilter(FirstDataNode(FocusedNode()))) {
    FocusRow(neighbour);
  }
  return true;
}

std::string TCustomDBGrid::ClipboardText() const {
  std::string text = GetHeaderTabText() + "\r\n";
  if (TTreeListNode* node = FocusedNode()) text += GetNodeTabText(node) + "\r\n";
  return text;
}

bool TCustomDBGrid::CopyToClipboard() {
  if (clipboard_ == nullptr) return false;
  clipboard_->SetText(ClipboardText());
  return true;
}

// ---- Header and group panel gestures

void TCustomDBGrid::ColumnClick(TTreeListColumn* column, bool ctrl) {
  if (column == nullptr || !HasOption(goAutoSort)) return;
  HideEditor();
  DoColumnSort(column, ctrl);
}

void TCustomDBGrid::GroupHeaderClick(int level) {
  TTreeListColumn* column = GroupColumns(level);
  if (column == nullptr || !HasOption(goAutoSort)) return;
  HideEditor();
  // A click in the group panel never carries Ctrl.
  DoColumnSort(column, false);
}

bool TCustomDBGrid::CanDropOnGroupPanel(TTreeListColumn* column) const {
  if (column == nullptr) return false;
  return column->GroupIndex() >= 0 || CanAddGroupColumn(column);
}

void TCustomDBGrid::DropOnGroupPanel(TTreeListColumn* column, int position) {
  if (!CanDropOnGroupPanel(column)) return;
  if (column->GroupIndex() >= 0 && position >= GroupColumnCount()) position = GroupColumnCount() - 1;
  HideEditor();
  SetGroupIndex(column, position);
}

void TCustomDBGrid::DragGroupColumnOut(TTreeListColumn* column) {
  if (column == nullptr || column->GroupIndex() < 0) return;
  HideEditor();
  SetGroupIndex(column, -1);
}

int TCustomDBGrid::BestFitWidth(TTreeListColumn* column, marrowick::platform::IFontMetrics& metrics) const {
  if (column == nullptr) return 0;
  // The header's caption with room for its borders and sort mark, and every
  // loaded cell of the column with room for its margins.
  int width = metrics.TextWidth(Appearance().HeaderFont, GetHeaderText(column->Index())) + 18;
  TFontSpec font = GetColumnFont(column->Index());
  for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
    if (node->HasChildren()) continue;
    width = std::max(width, metrics.TextWidth(font, AsDBNode(node)->Strings(column->Index())) + 6);
  }
  return std::max(width, column->MinWidth());
}

void TCustomDBGrid::DoBestFitColumn(TTreeListColumn* column, marrowick::platform::IFontMetrics& metrics) {
  if (column == nullptr || !HasOption(goColumnSizing) || !column->Sizing()) return;
  column->SetWidth(BestFitWidth(column, metrics));
}

}  // namespace grid
