// The record set's notifications and the focus: what each notification of
// the data link does to the nodes, and how the focused row and the current
// record follow each other.
#include <algorithm>

#include "grid/model/DBGrid.h"

namespace grid {

using dataset::TDataSetState;
using dataset::TField;
using dataset::Variant;

namespace {

// Sets a flag for the life of the scope and puts its old value back.
class TFlagScope {
 public:
  TFlagScope(bool& flag, bool value) : flag_(flag), old_(flag) { flag_ = value; }
  ~TFlagScope() { flag_ = old_; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

// ---- The data link

void TGridDataLink::ActiveChanged() { grid_.LinkActive(Active()); }

void TGridDataLink::DataSetChanged() {
  grid_.DataChanged();
  modified_ = false;
}

void TGridDataLink::DataSetScrolled(int distance) { grid_.Scroll(-distance); }

void TGridDataLink::RecordChanged(TField* field) {
  grid_.RecordChanged(field);
  modified_ = false;
}

void TGridDataLink::LayoutChanged() {
  grid_.BeginGrouping();
  try {
    grid_.ResetFullRefresh();
    grid_.BindColumns();
    RebuildFieldMap();
  } catch (...) {
    grid_.EndGrouping();
    throw;
  }
  grid_.EndGrouping();
}

void TGridDataLink::FocusControl(TField** field) { grid_.FocusControl(field); }

void TGridDataLink::UpdateData() {
  if (modified_) grid_.HideEditor();
}

void TGridDataLink::Reset() {
  if (modified_) {
    RecordChanged(nullptr);
  } else if (dataset::TDataSet* ds = DataSet()) {
    ds->Cancel();
  }
}

// ---- Notifications

void TCustomDBGrid::LinkActive(bool active) {
  if (destroyed_) return;
  if (!active) {
    if (editorOpen_) {
      editorOpen_ = false;
      editorModified_ = false;
      NotifyEditorState();
    }
    keyField_ = nullptr;
    previewField_ = nullptr;
    UnbindColumns();
  }
  ReLoadGroupList();
}

bool TCustomDBGrid::IsSmartRefresh() const {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || !HasOption(goSmartRefresh) || FullRefreshRequest()) return false;
  if (ds->Bof() || ds->Eof()) return false;
  if (GroupColumnCount() > 0 && GetFirstNode() != nullptr && !GetFirstNode()->HasChildren()) return false;
  return true;
}

void TCustomDBGrid::DataChanged() {
  if (destroyed_) return;
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return;
  // Rows that may have lost their record in this change: the row that was
  // focused and the row being edited or deleted.
  watched_.assign({FirstDataNode(FocusedNode()), editedNode_});

  if (IsSmartRefresh() && !loadingData_ && !skipSmartRefresh_) {
    TFlagScope refreshing(refreshingNodes_, true);
    SmartRefreshNode();
  }
  skipSmartRefresh_ = locating_ && !loadingData_;
  if (ds->State() != dataset::dsInsert) editedNode_ = nullptr;
  if (locating_) {
    locating_ = false;
    return;
  }
  if (loadingData_) return;
  TDataSetState state = ds->State();
  if (state == dataset::dsEdit || state == dataset::dsSetKey) return;
  if (state == dataset::dsInsert) {
    InsertNode(ds->Eof());
    return;
  }
  TFlagScope refreshing(refreshingNodes_, true);
  if (!IsSmartRefresh()) {
    RefreshGroupList();
  } else {
    RemoveGoneRecords();
  }
  watched_.clear();
  if (!movingRecord_) FocusCurrentRecord();
}

bool TCustomDBGrid::RecordExists(const Variant& key) const {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || key.IsClear()) return true;
  try {
    return !ds->Lookup(keyFieldName_, key, keyFieldName_).IsNull();
  } catch (const std::exception&) {
    return true;
  }
}

void TCustomDBGrid::RemoveGoneRecords() {
  if (keyField_ == nullptr || !HasOption(goCanNavigation)) return;
  Variant current = keyField_->Value();
  bool removed = false;
  // Destroying a row nulls its entry here (NodeDestroying).
  for (std::size_t i = 0; i < watched_.size(); ++i) {
    TTreeListNode* node = watched_[i];
    if (node == nullptr || !IsLiveNode(node) || node->HasChildren()) continue;
    Variant key = AsDBNode(node)->KeyValue;
    if (key.IsNull() || SameNodeValue(key, current) || RecordExists(key)) continue;
    DestroyWithEmptyAncestors(node);
    removed = true;
  }
  if (removed) ReCalcSummary(nullptr);
}

void TCustomDBGrid::SmartRefreshNode() {
  if (!HasOption(goLoadAllRecords) || keyField_ == nullptr || !HasOption(goCanNavigation)) return;
  Variant key = keyField_->Value();
  bool changed = false;
  TTreeListNode* matched = FindNodeByKey(key);
  TTreeListNode* firstMatch = matched;
  if (matched != nullptr) {
    NodeRecordChanged(nullptr, matched);
    changed = true;
  }
  bool stepThree = false;
  TTreeListNode* focused = nullptr;
  if (editedNode_ != nullptr) {
    focused = FirstDataNode(FocusedNode());
    if (focused != nullptr && SameNodeValue(AsDBNode(editedNode_)->KeyValue, AsDBNode(focused)->KeyValue)) {
      stepThree = true;
      bool keyChanged = !SameNodeValue(AsDBNode(focused)->KeyValue, key);
      // The first node holding the key was found above (firstMatch); another
      // one than the focused row, when matched is that row, can only come
      // after it.
      bool another = firstMatch != nullptr &&
                     (firstMatch != focused || FindNodeByKey(key, focused, focused) != nullptr);
      if (keyChanged || another) {
        if (SameNodeValue(savedKeyValue_, key) || firstMatch == nullptr) {
          NodeRecordChanged(nullptr, focused);
        } else {
          // The record is shown by another row already: this one goes.
          DestroyWithEmptyAncestors(focused);
          focused = nullptr;
        }
        changed = true;
      }
    }
    editedNode_ = nullptr;
  }
  if (changed) ReCalcSummary(stepThree ? focused : matched);
}

TTreeListNode* TCustomDBGrid::FindNodeByKey(const Variant& key, TTreeListNode* except, TTreeListNode* after) const {
  TTreeListNode* first = after != nullptr ? after->GetNext() : GetFirstNode();
  for (TTreeListNode* node = first; node != nullptr; node = node->GetNext()) {
    if (node != except && SameNodeValue(AsDBNode(node)->KeyValue, key)) return node;
  }
  return nullptr;
}

void TCustomDBGrid::RecordChanged(TField* field) {
  if (destroyed_) return;
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return;
  if ((ds->State() == dataset::dsInsert && editedNode_ == nullptr) || ds->State() == dataset::dsSetKey) return;
  if (ds->State() == dataset::dsInsert && field != nullptr && !prefilling_) insertTouched_ = true;
  TTreeListNode* focused = FocusedNode();
  NodeRecordChanged(field, focused);
  if (editedNode_ == nullptr && FocusedNode() != nullptr) savedKeyValue_ = AsDBNode(FocusedNode())->KeyValue;
  editedNode_ = FocusedNode();
}

void TCustomDBGrid::NodeRecordChanged(TField* field, TTreeListNode*& node) {
  RefreshNodeValues(node);
  TDBTreeListColumn* column = DBColumn(FocusedColumn());
  if ((field == nullptr || (column != nullptr && column->Field() == field)) && editorOpen_ && !editorModified_) {
    std::string text = GetEditText();
    if (text != editorOpeningText_) {
      editorText_ = editorOpeningText_ = text;
      NotifyEditorState();
    }
  }
}

void TCustomDBGrid::RefreshNodeValues(TTreeListNode*& node) {
  if (!HasOption(goLoadAllRecords) || !HasOption(goCanNavigation) || keyField_ == nullptr || node == nullptr) return;
  if (!IsLiveNode(node)) {
    node = nullptr;
    return;
  }
  if (node->HasChildren()) {
    Variant key = keyField_->Value();
    TTreeListNode* parent = node;
    TTreeListNode* found = nullptr;
    while (parent != nullptr && found == nullptr) {
      TTreeListNode* next = nullptr;
      for (int i = 0; i < parent->Count(); ++i) {
        TTreeListNode* child = parent->Items(i);
        if (!SameNodeValue(AsDBNode(child)->KeyValue, key)) continue;
        if (child->HasChildren()) {
          next = child;
        } else {
          found = child;
        }
        break;
      }
      parent = next;
    }
    if (found == nullptr) return;
    node = found;
  }
  AssignNodeAllValues(AsDBNode(node));
  NotifyRowChanged(node);
}

void TCustomDBGrid::InsertNode(bool append) {
  TTreeListNode* focused = FirstDataNode(FocusedNode());
  TTreeListNode* node;
  if (focused != nullptr && focused->Parent() != nullptr) {
    node = append ? focused->Parent()->AddChild() : focused->Parent()->InsertChild(focused);
  } else if (focused != nullptr) {
    node = append ? Add() : Insert(focused);
  } else {
    node = Add();
  }
  MakeNodeVisible(node);
  auto* d = AsDBNode(node);
  d->KeyValue = Variant::Null();
  d->GroupValue = Variant::Null();
  d->RecordIndex = loadedRecordCount_;
  AssignNodeAllValues(d);
  editedNode_ = node;
  savedKeyValue_ = d->KeyValue;
  nodeLinks_.insert(node);
  StoreFocus(node, -1);
  insertTouched_ = false;
  // The new record starts in the focused row's groups.
  dataset::TDataSet* ds = ActiveDataSet();
  TFlagScope prefilling(prefilling_, true);
  for (TTreeListNode* group = node->Parent(); group != nullptr && ds != nullptr; group = group->Parent()) {
    auto* column = dynamic_cast<TDBTreeListColumn*>(GroupColumns(group->Level()));
    if (column == nullptr || column->Field() == nullptr || !column->Field()->CanModify()) continue;
    column->Field()->SetValue(AsDBNode(group)->GroupValue);
  }
}

bool TCustomDBGrid::InsertUntouched() const {
  dataset::TDataSet* ds = ActiveDataSet();
  return ds != nullptr && ds->State() == dataset::dsInsert && !insertTouched_ && !dataLink_.Modified();
}

bool TCustomDBGrid::DeleteNodeRecord(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node) || node->HasChildren()) return false;
  if (!HasOption(goLoadAllRecords) || !HasOption(goCanNavigation)) return false;
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || keyField_ == nullptr) return false;
  Variant key = AsDBNode(node)->KeyValue;
  if (!LocateByNode(FocusedNode(), node, true, key)) return false;
  // Only the row's own record may be deleted: a Locate that found nothing
  // leaves another record current.
  if (!IsLiveNode(node) || !SameNodeValue(keyField_->Value(), key)) {
    RecordGone();
    return false;
  }
  editedNode_ = node;
  savedKeyValue_ = key;
  try {
    ds->Delete();
  } catch (...) {
    editedNode_ = nullptr;
    savedKeyValue_ = Variant::Null();
    // A record deleted elsewhere since the row was read: its row goes.
    if (!RecordExists(key)) RecordGone();
    throw;
  }
  return true;
}

bool TDBGridNode::Delete() {
  auto* grid = dynamic_cast<TCustomDBGrid*>(Owner());
  return grid != nullptr && grid->DeleteNodeRecord(this);
}

void TCustomDBGrid::Scroll(int /*distance*/) {
  if (destroyed_) return;
  UpdateActive();
}

void TCustomDBGrid::EndCustomLayout() {
  if (destroyed_) return;
  if (dataLink_.Active()) keyField_ = FindRecordSetField(keyFieldName_);
  UpdateActive();
}

void TCustomDBGrid::UpdateActive() {
  if (updatingActive_) return;
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || IsLoading()) return;
  TFlagScope updating(updatingActive_, true);
  if (!refreshingNodes_) FocusCurrentRecord();
  if (editorOpen_ && !editorModified_) {
    std::string text = GetEditText();
    if (text != editorOpeningText_) {
      editorText_ = editorOpeningText_ = text;
      NotifyEditorState();
    }
  }
}

bool TCustomDBGrid::CurrentRecordShown() const {
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr || ds->IsEmpty() || keyField_ == nullptr) return true;
  TTreeListNode* focused = FocusedNode();
  return focused != nullptr && SameNodeValue(AsDBNode(focused)->KeyValue, keyField_->Value());
}

void TCustomDBGrid::FocusCurrentRecord() {
  FindNodeById();
  dataset::TDataSet* ds = ActiveDataSet();
  if (findingCurrent_ || ds == nullptr || ds->State() != dataset::dsBrowse || keyField_ == nullptr ||
      !HasOption(goCanNavigation) || loadingData_ || CurrentRecordShown()) {
    return;
  }
  // The current record has no row (another program added it, or the tree
  // is behind the table): read the table again, keeping the rows there are.
  TFlagScope finding(findingCurrent_, true);
  TFlagScope refreshing(refreshingNodes_, true);
  RefreshGroupList();
  FindNodeById();
}

void TCustomDBGrid::RecordGone() {
  TFlagScope refreshing(refreshingNodes_, true);
  RefreshGroupList();
  FocusCurrentRecord();
}

void TCustomDBGrid::FindNodeById() {
  if (keyField_ == nullptr || !HasOption(goCanNavigation) || loadingData_) return;
  Variant key = keyField_->Value();
  if (Count() == 0) return;
  if (GroupColumnCount() == 0) {
    for (int i = 0; i < Count(); ++i) {
      if (SameNodeValue(AsDBNode(GetNode(i))->KeyValue, key)) {
        FocusNodeHere(GetNode(i));
        return;
      }
    }
    return;
  }
  TTreeListNode* group = nullptr;
  for (int level = 0; level < GroupColumnCount(); ++level) {
    auto* column = dynamic_cast<TDBTreeListColumn*>(GroupColumns(level));
    if (column == nullptr || column->Field() == nullptr) return;
    TTreeListNode* start = group != nullptr ? group->GetFirstChild() : GetFirstNode();
    TTreeListNode* found = nullptr;
    if (!FindGroupNode(start, column->Field()->Value(), found, column->Sorted() == csDown, 0)) return;
    group = found;
  }
  TTreeListNode* first = group->GetFirstChild();
  if (SameNodeValue(AsDBNode(group)->KeyValue, key) && first != nullptr &&
      SameNodeValue(AsDBNode(first)->KeyValue, key)) {
    if (first->Focused()) {
      FocusNodeHere(first);
      return;
    }
    if (updatingActive_) {
      while (!group->IsVisible() && group->Parent() != nullptr &&
             SameNodeValue(AsDBNode(group->Parent())->KeyValue, key)) {
        group = group->Parent();
      }
    }
    FocusNodeHere(group);
    return;
  }
  for (int i = 0; i < group->Count(); ++i) {
    if (SameNodeValue(AsDBNode(group->Items(i))->KeyValue, key)) {
      FocusNodeHere(group->Items(i));
      return;
    }
  }
}

void TCustomDBGrid::FocusNodeHere(TTreeListNode* node) {
  if (HasOption(goSeekDetail)) node = FirstDataNode(node);
  SetFocusedNode(node, FocusedColumn(), true);
}

void TCustomDBGrid::SetFocusedNode(TTreeListNode* node, int column, bool makeVisible) {
  if (node == nullptr || !IsLiveNode(node)) return;
  nodeLinks_.insert(node);
  if (!updatingActive_) {
    if (node != FocusedNode() || (column >= 0 && column != FocusedColumn())) {
      // Leaving the cell closes the editor; its text goes to the field.
      HideEditor();
      if (FocusedNode() != nullptr && column >= 0) StoreFocus(FocusedNode(), column);
    }
    if (!refreshingNodes_ && IsLiveNode(node)) {
      if (HasOption(goUseLocate) || HasOption(goSmartRefresh)) {
        if (!LocateByNode(FocusedNode(), node, true, AsDBNode(node)->KeyValue)) return;
      } else {
        dataset::TDataSet* ds = ActiveDataSet();
        bool editing = ds != nullptr && dataset::IsEditMode(ds->State());
        if (!LocateByNode(FocusedNode(), node, false, AsDBNode(node)->KeyValue)) return;
        if (editing && ValidateNode(node) && keyField_ != nullptr &&
            !SameNodeValue(keyField_->Value(), AsDBNode(node)->KeyValue)) {
          nodeLinks_.erase(node);
          return;
        }
      }
    }
  }
  if (ValidateNode(node)) TCustomTreeList::SetFocusedNode(node, column, makeVisible);
}

bool TCustomDBGrid::LocateByNode(TTreeListNode* oldNode, TTreeListNode* newNode, bool useLocate, const Variant& key) {
  if (loadingData_ || newNode == nullptr) return true;
  if (keyField_ != nullptr && newNode == oldNode && SameNodeValue(keyField_->Value(), AsDBNode(newNode)->KeyValue)) {
    return true;
  }
  dataset::TDataSet* ds = ActiveDataSet();
  if (ds == nullptr) return true;
  if (newNode == editedNode_ && ds->State() == dataset::dsInsert) return true;
  if (!HasOption(goCanNavigation)) return true;
  loadingData_ = true;
  if (dataLink_.Active()) loadingData_ = !dataset::IsEditMode(ds->State());
  bool found = true;
  try {
    if (useLocate) {
      // The engine notices another program's changes only when it reads
      // from the files; without this a row deleted elsewhere could still
      // be found in its buffers.
      ds->Refresh();
      locating_ = true;
      found = ds->Locate(keyFieldName_, key, 0);
      locating_ = false;
    } else {
      movingRecord_ = true;
      TTreeListNode* base = oldNode;
      if (ds->State() == dataset::dsInsert) {
        if (TTreeListNode* next = oldNode != nullptr ? oldNode->GetNextNode() : nullptr) base = next;
      }
      int from = base != nullptr ? AsDBNode(base)->RecordIndex : 0;
      ds->MoveBy(AsDBNode(newNode)->RecordIndex - from);
      movingRecord_ = false;
      loadingData_ = false;
      Scroll(0);
    }
  } catch (...) {
    locating_ = false;
    movingRecord_ = false;
    loadingData_ = false;
    throw;
  }
  locating_ = false;
  loadingData_ = false;
  if (!found) {
    // The row's record is gone: the row is removed, the rows are read again
    // and the current record's row takes the focus.
    RecordGone();
    return false;
  }
  return true;
}

bool TCustomDBGrid::MakeFocused(TTreeListNode* node) {
  if (node == nullptr) return false;
  nodeLinks_.insert(node);
  SetFocusedNode(node, FocusedColumn(), true);
  return ValidateNode(node);
}

void TCustomDBGrid::FocusControl(TField** field) {
  if (field == nullptr || *field == nullptr || !HasOption(goCanNavigation)) return;
  TTreeListNode* node = FirstDataNode(FocusedNode());
  if (node == nullptr) return;
  MakeNodeVisible(node);
  StoreFocus(node, -1);
  if (!HasOption(goRowSelect)) {
    for (int i = 0; i < ColumnCount(); ++i) {
      TDBTreeListColumn* column = DBColumn(i);
      if (column != nullptr && column->Field() == *field) {
        StoreFocus(node, i);
        *field = nullptr;
        ShowEditor();
        return;
      }
    }
  }
}

}  // namespace grid
