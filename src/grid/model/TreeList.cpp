#include "grid/model/TreeList.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "dataset/TextConvert.h"

namespace grid {

TCustomTreeList::TCustomTreeList() : root_(std::make_unique<TTreeListNode>(this)) {
  root_->isRoot_ = true;
  root_->expanded_ = true;
}

TCustomTreeList::~TCustomTreeList() {
  observers_.clear();
  clearing_ = true;
  for (TTreeListNode* node : root_->children_) DestroySubtree(node);
  root_->children_.clear();
}

// ---------------------------------------------------------------------------
// Observers and notifications

void TCustomTreeList::AddObserver(IGridObserver* observer) {
  if (observer != nullptr && std::find(observers_.begin(), observers_.end(), observer) == observers_.end()) {
    observers_.push_back(observer);
  }
  reportedFocus_ = focusedNode_;
  reportedColumn_ = focusedColumn_;
}

void TCustomTreeList::RemoveObserver(IGridObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TCustomTreeList::ForEachObserver(const std::function<void(IGridObserver&)>& call) {
  std::vector<IGridObserver*> copy = observers_;
  for (IGridObserver* observer : copy) {
    if (std::find(observers_.begin(), observers_.end(), observer) != observers_.end()) call(*observer);
  }
}

void TCustomTreeList::TreeChanging() {
  visibleValid_ = false;
  filterDirty_ = true;
  if (updateCount_ > 0 && !resetAnnounced_) {
    resetAnnounced_ = true;
    changedRows_.clear();
    ForEachObserver([](IGridObserver& o) { o.TreeAboutToBeReset(); });
  }
}

void TCustomTreeList::NotifyRowChanged(TTreeListNode* node) {
  if (node == nullptr) return;
  // New texts may change what the quick find makes of a data row.
  if (!node->HasChildren()) InvalidateFilterMatch(node);
  if (observers_.empty()) return;
  if (updateCount_ > 0) {
    if (!resetAnnounced_) changedRows_.insert(node);
    return;
  }
  if (ReportShownChange()) return;
  ForEachObserver([node](IGridObserver& o) { o.RowChanged(node); });
}

void TCustomTreeList::NotifyColumnsChanged() {
  if (updateCount_ > 0) {
    columnsChanged_ = true;
    return;
  }
  ForEachObserver([](IGridObserver& o) { o.ColumnsChanged(); });
}

void TCustomTreeList::NotifyGroupingChanged() {
  if (updateCount_ > 0) {
    groupingChanged_ = true;
    return;
  }
  ForEachObserver([](IGridObserver& o) { o.GroupingChanged(); });
}

void TCustomTreeList::NotifyEditorState() {
  if (updateCount_ > 0) {
    editorChanged_ = true;
    return;
  }
  ForEachObserver([](IGridObserver& o) { o.EditorStateChanged(); });
}

void TCustomTreeList::LayoutChanged() {
  if (loading_) return;
  ForEachObserver([](IGridObserver& o) { o.LayoutModified(); });
}

void TCustomTreeList::Flush() {
  bool reset = resetAnnounced_;
  resetAnnounced_ = false;
  std::unordered_set<TTreeListNode*> rows;
  rows.swap(changedRows_);
  bool columns = columnsChanged_, grouping = groupingChanged_, editor = editorChanged_;
  columnsChanged_ = groupingChanged_ = editorChanged_ = false;
  if (observers_.empty()) {
    shownChanged_ = false;
    reportedFocus_ = focusedNode_;
    reportedColumn_ = focusedColumn_;
    return;
  }
  // Rows the quick find now shows or leaves out move shown positions: the
  // view reads the tree again.
  if (Filtered()) {
    EnsureFilter();
    if (shownChanged_ && !reset) {
      ForEachObserver([](IGridObserver& o) { o.TreeAboutToBeReset(); });
      reset = true;
    }
  }
  shownChanged_ = false;
  if (reset) {
    ForEachObserver([](IGridObserver& o) { o.TreeReset(); });
  } else {
    for (TTreeListNode* node : rows) {
      if (IsLiveNode(node)) ForEachObserver([node](IGridObserver& o) { o.RowChanged(node); });
    }
  }
  if (columns) ForEachObserver([](IGridObserver& o) { o.ColumnsChanged(); });
  if (grouping) ForEachObserver([](IGridObserver& o) { o.GroupingChanged(); });
  if (editor) ForEachObserver([](IGridObserver& o) { o.EditorStateChanged(); });
  if (reset || reportedFocus_ != focusedNode_ || reportedColumn_ != focusedColumn_) {
    reportedFocus_ = focusedNode_;
    reportedColumn_ = focusedColumn_;
    TTreeListNode* node = focusedNode_;
    int column = focusedColumn_;
    ForEachObserver([node, column](IGridObserver& o) { o.FocusChanged(node, column); });
  }
}

// ---------------------------------------------------------------------------
// Update bracket

void TCustomTreeList::BeginUpdate() { ++updateCount_; }

void TCustomTreeList::EndUpdate() {
  if (updateCount_ == 0) return;
  if (updateCount_ > 1) {
    --updateCount_;
    return;
  }
  // The layout pass of the outermost bracket runs with the notifications
  // still held, so that the focus it settles arrives with the reset.
  try {
    EndCustomLayout();
  } catch (...) {
    --updateCount_;
    Flush();
    throw;
  }
  --updateCount_;
  Flush();
}

// ---------------------------------------------------------------------------
// Columns

TTreeListColumn* TCustomTreeList::Columns(int index) const {
  if (index < 0 || index >= ColumnCount()) return nullptr;
  return columns_[static_cast<std::size_t>(index)].get();
}

TTreeListColumn* TCustomTreeList::FindColumn(const std::string& name) const {
  for (const auto& column : columns_) {
    if (dataset::AnsiSameText(column->Name(), name)) return column.get();
  }
  return nullptr;
}

TTreeListColumn& TCustomTreeList::AddColumn(std::unique_ptr<TTreeListColumn> column) {
  column->treeList_ = this;
  TTreeListColumn& ref = *column;
  columns_.push_back(std::move(column));
  if (focusedColumn_ < 0) focusedColumn_ = ColumnCount() - 1;
  ref.SetRowIndex(ref.RowIndex());
  ColumnChanged(true);
  return ref;
}

void TCustomTreeList::ColumnChanged(bool layout) {
  NotifyColumnsChanged();
  if (layout) LayoutChanged();
}

void TCustomTreeList::ColumnIndexChanging(TTreeListColumn* column, int newIndex) {
  int from = column->Index();
  if (from < 0) return;
  int to = std::clamp(newIndex, 0, ColumnCount() - 1);
  if (from == to) return;
  // The texts under every column index change: observers read the tree
  // again.
  bool outside = updateCount_ == 0;
  if (outside) ++updateCount_;
  TreeChanging();
  auto base = columns_.begin();
  if (from < to) {
    std::rotate(base + from, base + from + 1, base + to + 1);
  } else {
    std::rotate(base + to, base + from, base + from + 1);
  }
  // Every node's strings and values follow their column.
  for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
    if (auto* text = dynamic_cast<TTreeListTextNode*>(node)) text->MoveColumnData(from, to);
  }
  if (focusedColumn_ == from) {
    focusedColumn_ = to;
  } else if (from < to && focusedColumn_ > from && focusedColumn_ <= to) {
    --focusedColumn_;
  } else if (from > to && focusedColumn_ >= to && focusedColumn_ < from) {
    ++focusedColumn_;
  }
  if (outside) {
    --updateCount_;
    Flush();
  }
  ColumnChanged(true);
}

void TCustomTreeList::SetHeaderPanelRowCount(int count) {
  if (count < 1 || count == headerPanelRowCount_) return;
  headerPanelRowCount_ = count;
  if (count > 1) defaultLayout_ = false;
  for (auto& column : columns_) column->SetRowIndex(column->StoredRowIndex());
  ColumnChanged(true);
}

// ---------------------------------------------------------------------------
// Headers in display order

int TCustomTreeList::GetBandCount() const { return band_.Visible || defaultLayout_ ? 1 : 0; }

int TCustomTreeList::GetHeaderRowCount(int band) const {
  if (band < 0 || band >= GetBandCount()) return 0;
  std::vector<bool> used(static_cast<std::size_t>(headerPanelRowCount_), false);
  for (const auto& column : columns_) {
    if (column->Visible() && column->BandIndex() == band && column->RowIndex() >= 0 &&
        column->RowIndex() < headerPanelRowCount_) {
      used[static_cast<std::size_t>(column->RowIndex())] = true;
    }
  }
  return static_cast<int>(std::count(used.begin(), used.end(), true));
}

int TCustomTreeList::GetHeaderColCount(int band, int row) const {
  if (band < 0 || row < 0) return 0;
  int count = 0;
  for (const auto& column : columns_) {
    if (column->Visible() && column->BandIndex() == band && column->RowIndex() == row) ++count;
  }
  return count;
}

int TCustomTreeList::GetHeaderAbsoluteIndex(int band, int row, int position) const {
  if (band < 0 || row < 0 || position < 0) return -1;
  int p = 0;
  for (const auto& column : columns_) {
    if (column->Visible() && column->BandIndex() == band && column->RowIndex() == row) {
      if (p == position) return column->Index();
      ++p;
    }
  }
  return -1;
}

bool TCustomTreeList::IsHeaderVisible(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  if (column == nullptr || !column->Visible()) return false;
  return column->BandIndex() >= 0 && column->BandIndex() < GetBandCount();
}

int TCustomTreeList::GetVisibleHeaderCount() const {
  int count = 0;
  for (int i = 0; i < ColumnCount(); ++i) {
    if (IsHeaderVisible(i)) ++count;
  }
  return count;
}

int TCustomTreeList::GetFocusedAbsoluteIndex(int i) const {
  if (i < 0) return -1;
  int n = 0;
  for (int row = 0; row < headerPanelRowCount_; ++row) {
    for (int band = 0; band < GetBandCount(); ++band) {
      int cols = GetHeaderColCount(band, row);
      if (i < n + cols) return GetHeaderAbsoluteIndex(band, row, i - n);
      n += cols;
    }
  }
  return -1;
}

std::string TCustomTreeList::GetHeaderText(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  if (column == nullptr || column->DisableCaption()) return {};
  return column->Caption();
}

TAlignment TCustomTreeList::GetHeaderAlignment(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  return column != nullptr ? column->HeaderAlignment() : taLeftJustify;
}

void TCustomTreeList::HeaderMoved(TTreeListColumn* column, int band, int position, int row) {
  if (column == nullptr || column->TreeList() != this) return;
  BeginUpdate();
  try {
    column->SetBandIndex(band);
    column->SetRowIndex(row);
    column->SetColIndex(position);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

int TCustomTreeList::BandWidth() const {
  int widest = 0;
  for (int row = 0; row < headerPanelRowCount_; ++row) {
    int sum = 0;
    for (const auto& column : columns_) {
      if (column->Visible() && column->BandIndex() == 0 && column->RowIndex() == row) sum += column->Width();
    }
    widest = std::max(widest, sum);
  }
  return std::max(widest, band_.MinWidth);
}

int TCustomTreeList::GetHeaderBoundsWidth(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  if (column == nullptr || !IsHeaderVisible(columnIndex)) return 0;
  int band = column->BandIndex();
  int row = column->RowIndex();
  int position = column->ColIndex();
  int width = column->Width();
  int last = GetHeaderColCount(band, row) - 1;
  if (position == last && position > 0) {
    // The last header of a row takes what the others leave of the band.
    int others = 0;
    for (const auto& c : columns_) {
      if (c.get() != column && c->Visible() && c->BandIndex() == band && c->RowIndex() == row) others += c->Width();
    }
    width = std::max(width, BandWidth() - others);
  } else if (position == last) {
    width = std::max(width, BandWidth());
  }
  if (band == 0 && position == 0) width += IndentWidth();
  return width;
}

std::string TCustomTreeList::GetBandText(int band) const { return band == 0 ? band_.Caption : std::string(); }

TAlignment TCustomTreeList::GetBandAlignment(int band) const { return band == 0 ? band_.Alignment : taCenter; }

TAlignment TCustomTreeList::GetCellAlignment(const TTreeListNode* node, int columnIndex) const {
  if (IsRowGroup(node)) return taLeftJustify;
  const TTreeListColumn* column = Columns(columnIndex);
  return column != nullptr ? column->Alignment() : taLeftJustify;
}

TColorValue TCustomTreeList::GetColumnColor(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  return column != nullptr && column->Color() ? *column->Color() : appearance_.Color;
}

TFontSpec TCustomTreeList::GetColumnFont(int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  return column != nullptr && column->Font() ? *column->Font() : appearance_.Font;
}

// ---------------------------------------------------------------------------
// Switches

namespace {
template <class T>
bool Assign(T& slot, T value) {
  if (slot == value) return false;
  slot = value;
  return true;
}
}  // namespace

void TCustomTreeList::SetShowGroupPanel(bool value) {
  if (Assign(switches_.ShowGroupPanel, value)) {
    NotifyGroupingChanged();
    LayoutChanged();
  }
}
void TCustomTreeList::SetShowNewItemRow(bool value) {
  if (Assign(switches_.ShowNewItemRow, value)) LayoutChanged();
}
void TCustomTreeList::SetShowGrid(bool value) {
  if (Assign(switches_.ShowGrid, value)) LayoutChanged();
}
void TCustomTreeList::SetShowPreviewGrid(bool value) {
  if (Assign(switches_.ShowPreviewGrid, value)) LayoutChanged();
}
void TCustomTreeList::SetShowRowFooter(bool value) {
  if (Assign(switches_.ShowRowFooter, value)) LayoutChanged();
}
void TCustomTreeList::SetShowSummaryFooter(bool value) {
  if (Assign(switches_.ShowSummaryFooter, value)) LayoutChanged();
}
void TCustomTreeList::SetBandRowCount(int value) {
  if (value >= 1 && Assign(switches_.BandRowCount, value)) LayoutChanged();
}
void TCustomTreeList::SetDefaultRowHeight(int value) {
  if (value >= 1 && Assign(switches_.DefaultRowHeight, value)) LayoutChanged();
}

// ---------------------------------------------------------------------------
// Nodes

TTreeListNode* TCustomTreeList::CreateNode() { return new TTreeListTextNode(this); }

TTreeListNode* TCustomTreeList::Add() { return InsertNodeAt(root_.get(), Count()); }

TTreeListNode* TCustomTreeList::Insert(TTreeListNode* before) {
  if (before == nullptr || before->parent_ != root_.get()) return Add();
  return InsertNodeAt(root_.get(), before->Index());
}

TTreeListNode* TCustomTreeList::InsertNodeAt(TTreeListNode* parent, int position) {
  TTreeListNode* node = CreateNode();
  const bool bracket = BeginShownChange();
  node->parent_ = parent;
  TTreeListNode* shownParent = parent == root_.get() ? nullptr : parent;
  bool report = Reporting();
  if (report) {
    ForEachObserver([&](IGridObserver& o) { o.RowsAboutToBeInserted(shownParent, position, position); });
  } else {
    TreeChanging();
  }
  auto& list = parent->children_;
  bool appended = position >= static_cast<int>(list.size());
  if (appended) {
    bool valid = parent->childIndexValid_;
    list.push_back(node);
    node->index_ = static_cast<int>(list.size()) - 1;
    parent->childIndexValid_ = valid;
  } else {
    list.insert(list.begin() + position, node);
    parent->childIndexValid_ = false;
  }
  liveNodes_.insert(node);
  visibleValid_ = false;
  if (report) {
    int at = node->Index();
    ForEachObserver([&](IGridObserver& o) { o.RowsInserted(shownParent, at, at); });
  }
  EndShownChange(bracket);
  return node;
}

void TCustomTreeList::UnlinkNode(TTreeListNode* node, bool notify) {
  TTreeListNode* parent = node->parent_;
  if (parent == nullptr) return;
  int position = node->Index();
  TTreeListNode* shownParent = parent == root_.get() ? nullptr : parent;
  bool report = notify && Reporting();
  if (report) {
    ForEachObserver([&](IGridObserver& o) { o.RowsAboutToBeRemoved(shownParent, position, position); });
  } else {
    TreeChanging();
  }
  auto& list = parent->children_;
  list.erase(list.begin() + position);
  parent->childIndexValid_ = position == static_cast<int>(list.size()) && parent->childIndexValid_;
  node->parent_ = nullptr;
  if (list.empty() && parent != root_.get()) {
    list.shrink_to_fit();
    parent->expanded_ = false;
  }
  visibleValid_ = false;
  if (report) ForEachObserver([&](IGridObserver& o) { o.RowsRemoved(shownParent, position, position); });
}

void TCustomTreeList::ForgetNode(TTreeListNode* node) {
  node->deleting_ = true;
  NodeDestroying(node);
  liveNodes_.erase(node);
  changedRows_.erase(node);
  if (focusedNode_ == node) {
    focusedNode_ = nullptr;
    focusHidden_ = false;
  }
  if (topNode_ == node) topNode_ = nullptr;
  if (reportedFocus_ == node) reportedFocus_ = nullptr;
  filterDirty_ = true;
  if (!expandedBeforeFilter_.empty()) expandedBeforeFilter_.erase(node);
  if (!groupCounts_.empty()) groupCounts_.erase(node);
  if (!shownChildren_.empty()) shownChildren_.erase(node);
}

void TCustomTreeList::DestroySubtree(TTreeListNode* node) {
  for (TTreeListNode* child : node->children_) DestroySubtree(child);
  node->children_.clear();
  ForgetNode(node);
  delete node;
}

void TCustomTreeList::DestroyNode(TTreeListNode* node) {
  if (node == nullptr || node == root_.get() || !IsLiveNode(node) || node->deleting_) return;
  TTreeListNode* focused = focusedNode_;
  const bool bracket = BeginShownChange();
  UnlinkNode(node, true);
  DestroySubtree(node);
  EndShownChange(bracket);
  if (!bracket && focused != focusedNode_ && updateCount_ == 0 && !observers_.empty()) {
    reportedFocus_ = focusedNode_;
    ForEachObserver([this](IGridObserver& o) { o.FocusChanged(focusedNode_, focusedColumn_); });
  }
}

void TCustomTreeList::ClearNodes() {
  if (root_->children_.empty()) return;
  bool outside = updateCount_ == 0;
  if (outside) ++updateCount_;
  TreeChanging();
  std::vector<TTreeListNode*> nodes;
  nodes.swap(root_->children_);
  root_->childIndexValid_ = true;
  clearing_ = true;
  for (TTreeListNode* node : nodes) DestroySubtree(node);
  clearing_ = false;
  visibleValid_ = false;
  if (outside) {
    --updateCount_;
    Flush();
  }
}

void TCustomTreeList::MoveNode(TTreeListNode* node, TTreeListNode* newParent, int position) {
  if (node == nullptr || !IsLiveNode(node)) return;
  TTreeListNode* parent = newParent == nullptr ? root_.get() : newParent;
  if (parent == node || parent->HasAsParent(node)) return;
  const bool bracket = BeginShownChange();
  UnlinkNode(node, true);
  auto& list = parent->children_;
  int at = position < 0 || position > static_cast<int>(list.size()) ? static_cast<int>(list.size()) : position;
  TTreeListNode* shownParent = parent == root_.get() ? nullptr : parent;
  bool report = Reporting();
  if (report) {
    ForEachObserver([&](IGridObserver& o) { o.RowsAboutToBeInserted(shownParent, at, at); });
  } else {
    TreeChanging();
  }
  node->parent_ = parent;
  list.insert(list.begin() + at, node);
  parent->childIndexValid_ = false;
  visibleValid_ = false;
  if (report) ForEachObserver([&](IGridObserver& o) { o.RowsInserted(shownParent, at, at); });
  EndShownChange(bracket);
}

void TCustomTreeList::DestroyNodesPruning(const std::vector<TTreeListNode*>& nodes) {
  std::unordered_set<TTreeListNode*> doomed;
  for (TTreeListNode* node : nodes) {
    if (node != nullptr && IsLiveNode(node) && node->parent_ != nullptr) doomed.insert(node);
  }
  if (doomed.empty()) return;
  const bool bracket = BeginShownChange();
  if (Reporting()) {
    // One at a time, each with its notifications.
    for (TTreeListNode* node : nodes) {
      if (!IsLiveNode(node) || node->parent_ == nullptr) continue;
      TTreeListNode* victim = node;
      while (victim->Parent() != nullptr && victim->Parent()->Count() == 1) victim = victim->Parent();
      DestroyNode(victim);
    }
    EndShownChange(bracket);
    return;
  }
  TreeChanging();
  // A parent losing all of its children goes instead of them.
  for (bool promoted = true; promoted;) {
    promoted = false;
    std::unordered_map<TTreeListNode*, int> lost;
    for (TTreeListNode* node : doomed) ++lost[node->parent_];
    for (auto& [parent, count] : lost) {
      if (parent == root_.get() || count != parent->Count()) continue;
      for (TTreeListNode* child : parent->children_) doomed.erase(child);
      doomed.insert(parent);
      promoted = true;
    }
  }
  std::unordered_set<TTreeListNode*> parents;
  for (TTreeListNode* node : doomed) parents.insert(node->parent_);
  for (TTreeListNode* parent : parents) {
    auto& list = parent->children_;
    list.erase(std::remove_if(list.begin(), list.end(), [&](TTreeListNode* n) { return doomed.count(n) != 0; }),
               list.end());
    parent->childIndexValid_ = false;
    if (list.empty() && parent != root_.get()) parent->expanded_ = false;
  }
  for (TTreeListNode* node : doomed) {
    node->parent_ = nullptr;
    DestroySubtree(node);
  }
  visibleValid_ = false;
  EndShownChange(bracket);
}

std::vector<TTreeListNode*> TCustomTreeList::DetachRootNodes() {
  TreeChanging();
  std::vector<TTreeListNode*> nodes;
  nodes.swap(root_->children_);
  root_->childIndexValid_ = true;
  for (TTreeListNode* node : nodes) node->parent_ = nullptr;
  visibleValid_ = false;
  return nodes;
}

void TCustomTreeList::DetachNode(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node)) return;
  const bool bracket = BeginShownChange();
  UnlinkNode(node, true);
  EndShownChange(bracket);
}

void TCustomTreeList::AttachNode(TTreeListNode* node, TTreeListNode* parent, int position) {
  if (node == nullptr || !IsLiveNode(node) || node->parent_ != nullptr) return;
  TTreeListNode* target = parent == nullptr ? root_.get() : parent;
  auto& list = target->children_;
  int at = position < 0 || position > static_cast<int>(list.size()) ? static_cast<int>(list.size()) : position;
  TTreeListNode* shownParent = target == root_.get() ? nullptr : target;
  const bool bracket = BeginShownChange();
  bool report = Reporting();
  if (report) {
    ForEachObserver([&](IGridObserver& o) { o.RowsAboutToBeInserted(shownParent, at, at); });
  } else {
    TreeChanging();
  }
  node->parent_ = target;
  if (at == static_cast<int>(list.size())) {
    bool valid = target->childIndexValid_;
    list.push_back(node);
    node->index_ = at;
    target->childIndexValid_ = valid;
  } else {
    list.insert(list.begin() + at, node);
    target->childIndexValid_ = false;
  }
  visibleValid_ = false;
  if (report) ForEachObserver([&](IGridObserver& o) { o.RowsInserted(shownParent, at, at); });
  EndShownChange(bracket);
}

void TCustomTreeList::DestroyDetached(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node) || node->parent_ != nullptr) return;
  DestroySubtree(node);
}

void TCustomTreeList::FlattenGroups() {
  TreeChanging();
  std::vector<TTreeListNode*> roots;
  roots.swap(root_->children_);
  std::vector<TTreeListNode*> flat;
  std::vector<TTreeListNode*> emptied;
  std::function<void(TTreeListNode*)> collect = [&](TTreeListNode* node) {
    if (!node->HasChildren()) {
      flat.push_back(node);
      return;
    }
    for (TTreeListNode* child : node->children_) collect(child);
    node->children_.clear();
    emptied.push_back(node);
  };
  for (TTreeListNode* node : roots) collect(node);
  for (TTreeListNode* node : flat) node->parent_ = root_.get();
  root_->children_ = std::move(flat);
  root_->childIndexValid_ = false;
  for (TTreeListNode* group : emptied) {
    group->parent_ = nullptr;
    DestroySubtree(group);
  }
  visibleValid_ = false;
}

void TCustomTreeList::DropGroupColumn(int position) {
  TTreeListColumn* column = GroupColumns(position);
  if (column == nullptr) return;
  column->groupIndex_ = -1;
  column->sorted_ = csNone;
  column->visible_ = true;
  sortedColumns_.erase(std::remove(sortedColumns_.begin(), sortedColumns_.end(), column), sortedColumns_.end());
  groupColumns_.erase(groupColumns_.begin() + position);
  RebuildGroupIndexes();
  NotifyGroupingChanged();
  NotifyColumnsChanged();
}

int TCustomTreeList::DataNodeCount() const {
  std::function<int(const TTreeListNode*)> count = [&](const TTreeListNode* parent) {
    int n = 0;
    for (const TTreeListNode* node : parent->children_) n += node->children_.empty() ? 1 : count(node);
    return n;
  };
  return count(root_.get());
}

void TCustomTreeList::ExpandedChanging(TTreeListNode* /*node*/) {
  if (updateCount_ > 0) TreeChanging();
}

void TCustomTreeList::ExpandedChangedNow(TTreeListNode* node) {
  visibleValid_ = false;
  // A group opening or closing moves no row: it is told even while the
  // quick find reports the tree's changes as resets.
  if (updateCount_ == 0 && !observers_.empty()) {
    ForEachObserver([node](IGridObserver& o) { o.ExpandedChanged(node); });
  }
}

// ---------------------------------------------------------------------------
// Shown rows

void TCustomTreeList::BuildVisibleRows() const {
  EnsureFilter();
  if (visibleValid_) return;
  visibleRows_.clear();
  ++visibleStamp_;
  const bool filtered = Filtered();
  std::function<void(const TTreeListNode*)> walk = [&](const TTreeListNode* parent) {
    for (TTreeListNode* node : parent->children_) {
      if (filtered && node->filteredOut_) continue;
      node->absoluteIndex_ = static_cast<int>(visibleRows_.size());
      node->absoluteStamp_ = visibleStamp_;
      visibleRows_.push_back(node);
      if (node->expanded_) walk(node);
    }
  };
  walk(root_.get());
  visibleValid_ = true;
}

int TCustomTreeList::VisibleRowCount() const {
  BuildVisibleRows();
  return static_cast<int>(visibleRows_.size());
}

TTreeListNode* TCustomTreeList::VisibleRow(int index) const {
  BuildVisibleRows();
  if (index < 0 || index >= static_cast<int>(visibleRows_.size())) return nullptr;
  return visibleRows_[static_cast<std::size_t>(index)];
}

TTreeListNode* TCustomTreeList::LastVisibleNode() const {
  BuildVisibleRows();
  return visibleRows_.empty() ? nullptr : visibleRows_.back();
}

// ---------------------------------------------------------------------------
// Focus

void TCustomTreeList::StoreFocus(TTreeListNode* node, int column) {
  if (node != nullptr && !IsLiveNode(node)) return;
  if (node != focusedNode_ && Filtered()) {
    // The row left goes when it does not match; the row reached is shown.
    focusHidden_ = false;
    filterDirty_ = true;
  }
  focusedNode_ = node;
  if (column >= 0 && column < ColumnCount()) focusedColumn_ = column;
  if (updateCount_ == 0 && ReportShownChange()) return;
  if (updateCount_ == 0 && !observers_.empty() &&
      (reportedFocus_ != focusedNode_ || reportedColumn_ != focusedColumn_)) {
    reportedFocus_ = focusedNode_;
    reportedColumn_ = focusedColumn_;
    TTreeListNode* n = focusedNode_;
    int c = focusedColumn_;
    ForEachObserver([n, c](IGridObserver& o) { o.FocusChanged(n, c); });
  }
}

void TCustomTreeList::SetFocusedNode(TTreeListNode* node, int column, bool makeVisible) {
  if (node == nullptr || !IsLiveNode(node)) return;
  if (makeVisible) MakeNodeVisible(node);
  StoreFocus(node, column);
}

void TCustomTreeList::SetFocusedColumn(int column) {
  if (column < 0 || column >= ColumnCount()) return;
  StoreFocus(focusedNode_, column);
}

void TCustomTreeList::MakeNodeVisible(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node)) return;
  std::vector<TTreeListNode*> ancestors;
  for (TTreeListNode* p = node->Parent(); p != nullptr; p = p->Parent()) ancestors.push_back(p);
  for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) (*it)->SetExpanded(true);
}

// ---------------------------------------------------------------------------
// Texts and values

std::string TCustomTreeList::GroupRowText(const TTreeListNode* node) const {
  const TTreeListColumn* column = GroupColumns(node->Level());
  std::string caption = column != nullptr ? column->Caption() : std::string();
  std::string groupText;
  if (column != nullptr) {
    if (const auto* text = dynamic_cast<const TTreeListTextNode*>(node)) groupText = text->Strings(column->Index());
  }
  // Caption, " : ", the group text, a blank, then the (empty) group summary
  // and custom summary texts.
  return caption + " : " + groupText + " ";
}

std::string TCustomTreeList::GetNodeString(const TTreeListNode* node, int columnIndex) const {
  if (node == nullptr) return {};
  if (node->HasChildren()) return Filtered() ? FilteredGroupRowText(node) : GroupRowText(node);
  if (const auto* text = dynamic_cast<const TTreeListTextNode*>(node)) return text->Strings(columnIndex);
  return {};
}

dataset::Variant TCustomTreeList::GetNodeValue(const TTreeListNode* node, int columnIndex) const {
  if (node == nullptr) return dataset::Variant::Null();
  if (const auto* db = dynamic_cast<const TDBGridNode*>(node)) {
    if (node->HasChildren()) return db->GroupValue;
    const TNodeVariantData& data = db->GetVariantData(columnIndex);
    if (data.Flags & TNodeVariantData::vdValue) return data.Value;
    return dataset::Variant(db->Strings(columnIndex));
  }
  return dataset::Variant(GetNodeString(node, columnIndex));
}

std::string TCustomTreeList::GetHeaderTabText() const {
  std::string line;
  int n = GetVisibleHeaderCount();
  for (int i = 0; i < n; ++i) {
    line += GetHeaderText(GetFocusedAbsoluteIndex(i));
    line += '\t';
  }
  line += '\r';
  return line;
}

std::string TCustomTreeList::GetNodeTabText(const TTreeListNode* node) const {
  if (IsRowGroup(node)) return GetNodeString(node, 0);
  std::string line;
  int n = GetVisibleHeaderCount();
  for (int i = 0; i < n; ++i) {
    line += GetNodeString(node, GetFocusedAbsoluteIndex(i));
    line += '\t';
  }
  return line;
}

// ---------------------------------------------------------------------------
// Grouping

TTreeListColumn* TCustomTreeList::GroupColumns(int level) const {
  if (level < 0 || level >= GroupColumnCount()) return nullptr;
  return groupColumns_[static_cast<std::size_t>(level)];
}

std::string TCustomTreeList::GroupFieldName(const TTreeListColumn* column) const {
  if (const auto* db = dynamic_cast<const TDBTreeListColumn*>(column)) return db->FieldName();
  return column->Name();
}

std::vector<std::string> TCustomTreeList::GroupFieldNames() const {
  std::vector<std::string> names;
  for (const TTreeListColumn* column : groupColumns_) names.push_back(GroupFieldName(column));
  return names;
}

void TCustomTreeList::BeginGrouping() {
  if (groupingLevel_ == 0) savedGroupFields_ = GroupFieldNames();
  ++groupingLevel_;
}

void TCustomTreeList::EndGrouping() {
  if (groupingLevel_ == 0) return;
  if (--groupingLevel_ != 0) return;
  std::vector<std::string> now = GroupFieldNames();
  bool changed = now.size() != savedGroupFields_.size();
  for (std::size_t i = 0; !changed && i < now.size(); ++i) {
    changed = !dataset::AnsiSameText(now[i], savedGroupFields_[i]);
  }
  savedGroupFields_.clear();
  if (changed) {
    ReLoadGroupList();
  } else {
    RefreshGroupList();
  }
}

void TCustomTreeList::RebuildGroupIndexes() {
  for (std::size_t i = 0; i < groupColumns_.size(); ++i) groupColumns_[i]->groupIndex_ = static_cast<int>(i);
}

bool TCustomTreeList::CanAddGroupColumn(TTreeListColumn* column) const {
  if (column == nullptr) return false;
  if (!rebuildingGroups_) {
    bool exists = std::any_of(columns_.begin(), columns_.end(), [column](const auto& c) { return c.get() == column; });
    if (!exists || column->DisableGrouping() || column->IsBlobColumn()) return false;
    int visible = static_cast<int>(
        std::count_if(columns_.begin(), columns_.end(), [](const auto& c) { return c->Visible(); }));
    if (column->Visible() && visible <= 1) return false;
  }
  std::string field = GroupFieldName(column);
  for (const TTreeListColumn* group : groupColumns_) {
    if (group == column) return false;
    if (!field.empty() && dataset::AnsiSameText(GroupFieldName(group), field)) return false;
  }
  if (OnAddGroupColumn && !OnAddGroupColumn(*column)) return false;
  return true;
}

bool TCustomTreeList::InsertGroupColumn(int position, TTreeListColumn* column) {
  if (!CanAddGroupColumn(column)) return false;
  position = std::clamp(position, 0, GroupColumnCount());
  smartReloadRequest_ = true;
  groupColumns_.insert(groupColumns_.begin() + position, column);
  RebuildGroupIndexes();
  if (column->sorted_ == csNone) column->sorted_ = csUp;
  if (!HasOption(goNotHideColumn) && column->visible_) {
    column->visible_ = false;
    NotifyColumnsChanged();
  }
  NotifyGroupingChanged();
  LayoutChanged();
  if (!Grouping()) ReLoadGroupList();
  return true;
}

void TCustomTreeList::DeleteGroupColumn(int position) {
  TTreeListColumn* column = GroupColumns(position);
  if (column == nullptr) return;
  if (!column->visible_) {
    column->visible_ = true;
    NotifyColumnsChanged();
  }
  // The state goes straight to csNone: the reload that follows re-sorts, and
  // sorting the still-grouped tree now would upset the rows' visual order.
  column->sorted_ = csNone;
  sortedColumns_.erase(std::remove(sortedColumns_.begin(), sortedColumns_.end(), column), sortedColumns_.end());
  column->groupIndex_ = -1;
  groupColumns_.erase(groupColumns_.begin() + position);
  RebuildGroupIndexes();
  smartReloadRequest_ = true;
  NotifyGroupingChanged();
  LayoutChanged();
  if (!Grouping()) ReLoadGroupList();
}

void TCustomTreeList::ClearGroupColumns() {
  BeginUpdate();
  BeginGrouping();
  try {
    while (GroupColumnCount() > 0) DeleteGroupColumn(0);
  } catch (...) {
    EndGrouping();
    EndUpdate();
    throw;
  }
  EndGrouping();
  EndUpdate();
}

void TCustomTreeList::SetGroupIndex(TTreeListColumn* column, int index) {
  if (column == nullptr || index < -1) return;
  if (index == column->GroupIndex() && !rebuildingGroups_) return;
  BeginUpdate();
  BeginGrouping();
  try {
    if (column->GroupIndex() != -1 && !rebuildingGroups_) DeleteGroupColumn(column->GroupIndex());
    if (index != -1) {
      if (!InsertGroupColumn(index, column) && rebuildingGroups_) column->groupIndex_ = -1;
    }
  } catch (...) {
    EndGrouping();
    EndUpdate();
    throw;
  }
  EndGrouping();
  EndUpdate();
}

void TCustomTreeList::RefreshGroupColumns() {
  if (HasOption(goSmartRefresh) && !fullRefreshRequest_) {
    smartReloadRequest_ = true;
    ReCountAndSort();
    return;
  }
  std::vector<TTreeListColumn*> grouped;
  for (const auto& column : columns_) {
    if (column->groupIndex_ != -1) grouped.push_back(column.get());
  }
  std::stable_sort(grouped.begin(), grouped.end(),
                   [](const TTreeListColumn* a, const TTreeListColumn* b) { return a->groupIndex_ < b->groupIndex_; });
  BeginUpdate();
  BeginGrouping();
  rebuildingGroups_ = true;
  try {
    // The list is made again from the columns' own values.
    groupColumns_.clear();
    for (TTreeListColumn* column : grouped) SetGroupIndex(column, column->groupIndex_);
  } catch (...) {
    rebuildingGroups_ = false;
    EndGrouping();
    EndUpdate();
    throw;
  }
  rebuildingGroups_ = false;
  EndGrouping();
  smartReloadRequest_ = false;
  // The list and the tree now match the columns.
  fullRefreshRequest_ = false;
  if (groupColumns_.empty()) ReLoadGroupList();
  EndUpdate();
}

// ---------------------------------------------------------------------------
// Sorting

void TCustomTreeList::DoColumnSort(TTreeListColumn* column, bool ctrl) {
  if (column == nullptr) return;
  if (OnColumnSorting && !OnColumnSorting(*column)) return;
  TTreeListColumnSort state;
  if (ctrl) {
    // A grouped column keeps its direction: its groups stay ordered.
    if (column->GroupIndex() >= 0) return;
    state = csNone;
  } else {
    state = column->Sorted() == csUp ? csDown : csUp;
  }
  ColumnSortedRequest(column, state);
}

void TCustomTreeList::ColumnSortedRequest(TTreeListColumn* column, TTreeListColumnSort state) {
  if (state == column->sorted_) return;
  if (loading_) {
    column->sorted_ = state;
    return;
  }
  if (state == csNone) {
    if (column->GroupIndex() >= 0) return;
    BeginSorting();
    column->sorted_ = csNone;
    sortedColumns_.erase(std::remove(sortedColumns_.begin(), sortedColumns_.end(), column), sortedColumns_.end());
    EndSorting();
  } else {
    BeginUpdate();
    try {
      PrepareColumnSorted(column);
      column->sorted_ = state;
      SetColumnSorted(column);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  }
  NotifyColumnsChanged();
  NotifyGroupingChanged();
  LayoutChanged();
}

void TCustomTreeList::PrepareColumnSorted(TTreeListColumn* column) {
  if (HasOption(goAutoSort) && column->GroupIndex() < 0 && !LockSorting()) ClearColumnsSorted();
}

void TCustomTreeList::ClearColumnsSorted() {
  sortedColumns_.clear();
  for (const auto& column : columns_) {
    if (column->GroupIndex() < 0) column->sorted_ = csNone;
  }
}

void TCustomTreeList::SetColumnSorted(TTreeListColumn* column) {
  if (loading_ || column->sorted_ == csNone) return;
  bool grouped = column->GroupIndex() >= 0;
  if (!grouped) {
    std::string field = GroupFieldName(column);
    for (const TTreeListColumn* group : groupColumns_) {
      if (!field.empty() && dataset::AnsiSameText(GroupFieldName(group), field)) return;
    }
  }
  if (std::find(sortedColumns_.begin(), sortedColumns_.end(), column) == sortedColumns_.end()) {
    sortedColumns_.push_back(column);
  }
  if (HasOption(goAutoSort) && !LockSorting()) {
    int level = grouped ? column->GroupIndex() : GroupColumnCount();
    DoSortColumn(level, column->Index(), column->sorted_ == csDown);
  }
}

void TCustomTreeList::EndSorting() {
  if (sortLock_ == 0) return;
  if (--sortLock_ == 0) RefreshSorting();
}

void TCustomTreeList::RefreshSorting() {
  TTreeListColumn* column = GetSortedColumn();
  if (column == nullptr) return;
  BeginUpdate();
  try {
    DoSortColumn(GroupColumnCount(), column->Index(), column->Sorted() == csDown);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TTreeListColumn* TCustomTreeList::GetSortedColumn() const {
  for (const auto& column : columns_) {
    if (column->GroupIndex() < 0 && column->Sorted() != csNone) return column.get();
  }
  return nullptr;
}

void TCustomTreeList::CheckSortedColumns() {
  if (HasOption(goMultiSort)) return;
  bool seen = false;
  sortedColumns_.clear();
  for (const auto& column : columns_) {
    if (column->GroupIndex() >= 0) {
      if (column->sorted_ != csNone) sortedColumns_.push_back(column.get());
      continue;
    }
    if (column->sorted_ == csNone) continue;
    if (seen) {
      column->sorted_ = csNone;
    } else {
      seen = true;
      sortedColumns_.push_back(column.get());
    }
  }
}

void TCustomTreeList::CollectLevelLists(int level, std::vector<TTreeListNode*>& parents) const {
  parents.clear();
  parents.push_back(root_.get());
  for (int depth = 0; depth < level; ++depth) {
    std::vector<TTreeListNode*> next;
    for (TTreeListNode* parent : parents) {
      for (TTreeListNode* child : parent->children_) {
        if (child->HasChildren()) next.push_back(child);
      }
    }
    parents.swap(next);
  }
}

void TCustomTreeList::SortLevelList(std::vector<TTreeListNode*>& list, int columnIndex, bool descending) {
  if (list.size() < 2) return;
  std::vector<TTreeListNode*> sorted = list;
  DoSortNodes(sorted, columnIndex, descending);
  if (sorted == list) return;
  TreeChanging();
  list.swap(sorted);
}

void TCustomTreeList::DoSortColumn(int level, int columnIndex, bool descending) {
  BeginUpdate();
  try {
    std::vector<TTreeListNode*> parents;
    if (level < 0) {
      parents.push_back(root_.get());
      for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
        if (node->HasChildren()) parents.push_back(node);
      }
    } else {
      CollectLevelLists(level, parents);
    }
    for (TTreeListNode* parent : parents) {
      SortLevelList(parent->children_, columnIndex, descending);
      parent->childIndexValid_ = false;
    }
    visibleValid_ = false;
    CorrectIdGroupNodes();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCustomTreeList::DoSortChildren(TTreeListNode* parent, int columnIndex, bool descending) {
  TTreeListNode* list = parent == nullptr ? root_.get() : parent;
  if (!IsLiveNode(list) && list != root_.get()) return;
  BeginUpdate();
  try {
    SortLevelList(list->children_, columnIndex, descending);
    list->childIndexValid_ = false;
    visibleValid_ = false;
    CorrectIdGroupNodes();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

namespace {
int CompareBytes(const std::string& a, const std::string& b) {
  // std::string compares through memcmp: unsigned bytes, a prefix first.
  int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}
}  // namespace

void TCustomTreeList::DoSortNodes(std::vector<TTreeListNode*>& list, int columnIndex, bool descending) {
  if (list.size() < 2) return;
  const TTreeListColumn* column = Columns(columnIndex);
  auto tieBreak = [this](const TTreeListNode* a, const TTreeListNode* b) {
    int r = CompareEqual(a, b);
    if (r != 0) return r;
    // Rows equal in every respect keep the order the record set gave them.
    const auto* da = dynamic_cast<const TDBGridNode*>(a);
    const auto* db = dynamic_cast<const TDBGridNode*>(b);
    if (da != nullptr && db != nullptr && da->RecordIndex != db->RecordIndex) {
      return da->RecordIndex < db->RecordIndex ? -1 : 1;
    }
    return 0;
  };
  bool byText = column != nullptr && column->SortsByText() && !HasOption(goCaseInsensitive);
  if (byText) {
    // The sort value of a string column is the node's display string: each
    // is read once, by reference.
    struct Entry {
      TTreeListNode* node;
      const std::string* value;
    };
    static const std::string kEmpty;
    std::vector<Entry> entries;
    entries.reserve(list.size());
    for (TTreeListNode* node : list) {
      const auto* text = dynamic_cast<const TTreeListTextNode*>(node);
      entries.push_back({node, text != nullptr ? &text->Strings(columnIndex) : &kEmpty});
    }
    std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
      int r = CompareBytes(*a.value, *b.value);
      if (r != 0) return (descending ? -r : r) < 0;
      return tieBreak(a.node, b.node) < 0;
    });
    for (std::size_t i = 0; i < list.size(); ++i) list[i] = entries[i].node;
    return;
  }
  struct Entry {
    TTreeListNode* node;
    dataset::Variant value;
  };
  std::vector<Entry> entries;
  entries.reserve(list.size());
  for (TTreeListNode* node : list) entries.push_back({node, GetNodeVariant(node, columnIndex)});
  std::stable_sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
    int r = CompareNodeValues(a.value, b.value);
    if (r != 0) return (descending ? -r : r) < 0;
    return tieBreak(a.node, b.node) < 0;
  });
  for (std::size_t i = 0; i < list.size(); ++i) list[i] = entries[i].node;
}

dataset::Variant TCustomTreeList::GetNodeVariant(const TTreeListNode* node, int columnIndex) const {
  const TTreeListColumn* column = Columns(columnIndex);
  const auto* text = dynamic_cast<const TTreeListTextNode*>(node);
  if (column == nullptr || column->SortsByText()) {
    std::string value = text != nullptr ? text->Strings(columnIndex) : std::string();
    if (HasOption(goCaseInsensitive)) value = dataset::AnsiUpperCase(value);
    return dataset::Variant(std::move(value));
  }
  if (const auto* db = dynamic_cast<const TDBGridNode*>(node)) {
    const TNodeVariantData& data = db->GetVariantData(columnIndex);
    if (data.Flags & TNodeVariantData::vdValue) return data.Value;
    return dataset::Variant(db->Strings(columnIndex));
  }
  return dataset::Variant(text != nullptr ? text->Strings(columnIndex) : std::string());
}

int TCustomTreeList::CompareEqual(const TTreeListNode* a, const TTreeListNode* b) const {
  const auto* da = dynamic_cast<const TDBGridNode*>(a);
  const auto* db = dynamic_cast<const TDBGridNode*>(b);
  if (da == nullptr || db == nullptr || da->KeyValue.IsEmpty() || db->KeyValue.IsEmpty()) return 0;
  try {
    return CompareNodeValues(da->KeyValue, db->KeyValue);
  } catch (const dataset::EVariantError&) {
    return 0;
  }
}

}  // namespace grid
