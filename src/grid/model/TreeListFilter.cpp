// Quick find: the filter text, the rows it leaves in, and the shown
// positions a view lists rows by.
//
// The rows are judged lazily: anything that may change the verdicts (the
// tree, a row's texts, the focus) marks the filter dirty, and the next
// question about shown rows, or the next report to the observers, judges
// again. A data row's own match is kept with the filter generation it was
// worked out under, so judging again costs a walk of the tree and a text
// search only for rows whose texts changed; a new text that extends the
// old one searches only the rows that matched before, and one that the old
// text contains searches only the rows that did not.
#include <string>
#include <vector>

#include "grid/model/TreeList.h"

namespace grid {

// ---------------------------------------------------------------------------
// Setting and clearing

void TCustomTreeList::SetFilterText(const std::string& text) {
  if (text == filterText_) return;
  TFindNeedle needle(text);
  if (Filtered() && !text.empty() && needle.Folded() == filterNeedle_.Folded()) {
    // Only the letter case differs: the same rows match.
    filterText_ = text;
    return;
  }
  const bool wasFiltered = Filtered();
  BeginUpdate();
  try {
    // The shown rows are read again, whatever follows.
    TreeChanging();
    if (!wasFiltered) {
      expandedBeforeFilter_.clear();
      for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
        if (node->HasChildren() && node->expanded_) expandedBeforeFilter_.insert(node);
      }
    }
    const uint32_t previous = wasFiltered ? filterGeneration_ : 0;
    const std::string oldFolded = filterNeedle_.Folded();
    NextFilterGeneration();
    narrowedFrom_ = widenedFrom_ = 0;
    if (previous != 0 && !needle.Empty()) {
      if (needle.Folded().find(oldFolded) != std::string::npos) {
        narrowedFrom_ = previous;
      } else if (oldFolded.find(needle.Folded()) != std::string::npos) {
        widenedFrom_ = previous;
      }
    }
    filterText_ = text;
    filterNeedle_ = std::move(needle);
    focusHidden_ = false;
    filterDirty_ = true;
    visibleValid_ = false;

    if (!Filtered()) {
      // The tree as it was: the groups' own expansion, the focused row kept
      // and in sight.
      for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
        if (node->HasChildren()) node->expanded_ = expandedBeforeFilter_.count(node) != 0;
      }
      expandedBeforeFilter_.clear();
      shownChildren_.clear();
      groupCounts_.clear();
      if (focusedNode_ != nullptr) MakeNodeVisible(focusedNode_);
    } else {
      // Every group opens (EnsureFilter: none has been met under this text).
      EnsureFilter();
      TTreeListNode* focused = focusedNode_;
      TTreeListNode* record = focused;
      while (record != nullptr && record->HasChildren()) record = record->GetFirstChild();
      if (record == nullptr || !record->filterMatch_) {
        if (TTreeListNode* first = FirstMatchingRow()) {
          SetFocusedNode(first, focusedColumn_, true);
        } else if (focused != nullptr) {
          // Nothing matches: the focus stays where it was, unshown.
          focusHidden_ = true;
          filterDirty_ = true;
        }
      }
      if (topNode_ == nullptr || !IsShownRow(topNode_)) topNode_ = VisibleRow(0);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCustomTreeList::NextFilterGeneration() {
  if (++filterGeneration_ != 0) return;
  // After four thousand million texts the stamps start again; none may
  // look current by chance.
  for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) node->filterStamp_ = 0;
  filterGeneration_ = 1;
}

void TCustomTreeList::InvalidateFilterMatch(TTreeListNode* node) {
  if (node == nullptr) return;
  node->filterStamp_ = 0;
  filterDirty_ = true;
}

void TCustomTreeList::FilterSourcesChanged() {
  if (!Filtered()) return;
  const bool bracket = BeginShownChange();
  NextFilterGeneration();
  narrowedFrom_ = widenedFrom_ = 0;
  filterDirty_ = true;
  EndShownChange(bracket);
}

std::vector<int> TCustomTreeList::FilterColumns() const {
  std::vector<int> columns;
  for (int i = 0; i < ColumnCount(); ++i) columns.push_back(i);
  return columns;
}

// ---------------------------------------------------------------------------
// Judging the rows

void TCustomTreeList::EnsureFilter() const {
  if (!Filtered() || !filterDirty_) return;
  filterDirty_ = false;
  visibleValid_ = false;
  const std::vector<int> columns = FilterColumns();
  int total = 0;
  shownDataRows_ = FilterRows(root_.get(), columns, total);
}

int TCustomTreeList::FilterRows(TTreeListNode* parent, const std::vector<int>& columns, int& total) const {
  const TTreeListNode* kept = focusHidden_ ? nullptr : focusedNode_;
  std::vector<TTreeListNode*> shown;
  int count = 0;
  for (TTreeListNode* node : parent->children_) {
    bool keep;
    if (!node->children_.empty()) {
      // A group met for the first time under this text (a new text, or a
      // group made since) opens, so that its matches are in sight; one the
      // user closed since stays closed.
      if (node->filterStamp_ != filterGeneration_) {
        node->filterStamp_ = filterGeneration_;
        if (!node->expanded_) {
          node->expanded_ = true;
          shownChanged_ = true;
        }
      }
      int below = 0;
      const int matches = FilterRows(node, columns, below);
      std::pair<int, int> counts(matches, below);
      auto [it, added] = groupCounts_.try_emplace(node, counts);
      if (!added && it->second != counts) {
        it->second = counts;
        shownChanged_ = true;
      }
      keep = matches > 0 || node == kept;
      count += matches;
      total += below;
    } else {
      if (node->filterStamp_ != filterGeneration_) {
        node->filterMatch_ = JudgeRow(node, columns);
        node->filterStamp_ = filterGeneration_;
      }
      keep = node->filterMatch_ || node == kept;
      if (keep) ++count;
      ++total;
    }
    if (node->filteredOut_ == keep) {
      node->filteredOut_ = !keep;
      shownChanged_ = true;
    }
    if (keep) {
      node->shownIndex_ = static_cast<int>(shown.size());
      shown.push_back(node);
    }
  }
  shownChildren_[parent] = std::move(shown);
  return count;
}

bool TCustomTreeList::JudgeRow(const TTreeListNode* node, const std::vector<int>& columns) const {
  // A row judged under the previous text may keep its verdict.
  if (narrowedFrom_ != 0 && node->filterStamp_ == narrowedFrom_ && !node->filterMatch_) return false;
  if (widenedFrom_ != 0 && node->filterStamp_ == widenedFrom_ && node->filterMatch_) return true;
  if (const auto* text = dynamic_cast<const TTreeListTextNode*>(node)) {
    for (int column : columns) {
      if (filterNeedle_.FoundIn(text->Strings(column))) return true;
    }
  }
  const std::string* extra = FilterExtraText(node);
  return extra != nullptr && filterNeedle_.FoundIn(*extra);
}

TTreeListNode* TCustomTreeList::FirstMatchingRow() const {
  EnsureFilter();
  for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
    if (node->children_.empty() && node->filterMatch_) return node;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// Questions about shown rows

bool TCustomTreeList::IsShownRow(const TTreeListNode* node) const {
  if (node == nullptr) return false;
  if (!Filtered()) return true;
  EnsureFilter();
  return !node->filteredOut_;
}

bool TCustomTreeList::RowMatchesFilter(const TTreeListNode* node) const {
  if (node == nullptr) return false;
  if (!Filtered()) return true;
  EnsureFilter();
  if (!node->children_.empty()) return GroupShownCount(node) > 0;
  return node->filterMatch_;
}

int TCustomTreeList::ShownChildCount(const TTreeListNode* parent) const {
  const TTreeListNode* list = parent != nullptr ? parent : root_.get();
  if (!Filtered()) return list->Count();
  EnsureFilter();
  auto it = shownChildren_.find(list);
  return it == shownChildren_.end() ? 0 : static_cast<int>(it->second.size());
}

TTreeListNode* TCustomTreeList::ShownChild(const TTreeListNode* parent, int row) const {
  const TTreeListNode* list = parent != nullptr ? parent : root_.get();
  if (!Filtered()) return list->Items(row);
  EnsureFilter();
  auto it = shownChildren_.find(list);
  if (it == shownChildren_.end() || row < 0 || row >= static_cast<int>(it->second.size())) return nullptr;
  return it->second[static_cast<std::size_t>(row)];
}

int TCustomTreeList::ShownIndex(const TTreeListNode* node) const {
  if (node == nullptr || node->parent_ == nullptr) return -1;
  if (!Filtered()) return node->Index();
  EnsureFilter();
  return node->filteredOut_ ? -1 : node->shownIndex_;
}

TTreeListNode* TCustomTreeList::NextShownRow(const TTreeListNode* node) const {
  if (node == nullptr) return nullptr;
  if (!Filtered()) return node->GetNextNode();
  EnsureFilter();
  // A group left out has no shown row below it, so walking on past its
  // rows finds the next shown one.
  TTreeListNode* next = node->GetNextNode();
  while (next != nullptr && next->filteredOut_) next = next->GetNextNode();
  return next;
}

TTreeListNode* TCustomTreeList::PriorShownRow(const TTreeListNode* node) const {
  if (node == nullptr) return nullptr;
  if (!Filtered()) return node->GetPriorNode();
  EnsureFilter();
  TTreeListNode* prior = node->GetPriorNode();
  while (prior != nullptr && prior->filteredOut_) prior = prior->GetPriorNode();
  return prior;
}

int TCustomTreeList::ShownDataRowCount() const {
  if (!Filtered()) return DataNodeCount();
  EnsureFilter();
  return shownDataRows_;
}

int TCustomTreeList::GroupShownCount(const TTreeListNode* group) const {
  if (group == nullptr) return 0;
  if (!Filtered()) return GroupDataCount(group);
  EnsureFilter();
  auto it = groupCounts_.find(group);
  return it == groupCounts_.end() ? 0 : it->second.first;
}

int TCustomTreeList::GroupDataCount(const TTreeListNode* group) const {
  if (group == nullptr) return 0;
  if (Filtered()) {
    EnsureFilter();
    auto it = groupCounts_.find(group);
    if (it != groupCounts_.end()) return it->second.second;
  }
  int count = 0;
  for (const TTreeListNode* child : group->children_) {
    count += child->children_.empty() ? 1 : GroupDataCount(child);
  }
  return count;
}

std::string TCustomTreeList::FilteredGroupRowText(const TTreeListNode* node) const {
  // The count takes the place of the group summary after the blank.
  return GroupRowText(node) + "(" + std::to_string(GroupShownCount(node)) + " of " +
         std::to_string(GroupDataCount(node)) + ")";
}

// ---------------------------------------------------------------------------
// Reporting

bool TCustomTreeList::BeginShownChange() {
  if (updateCount_ != 0 || !Filtered() || observers_.empty()) return false;
  ++updateCount_;
  TreeChanging();
  return true;
}

void TCustomTreeList::EndShownChange(bool opened) {
  if (!opened) return;
  --updateCount_;
  Flush();
}

bool TCustomTreeList::ReportShownChange() {
  if (updateCount_ != 0 || !Filtered() || observers_.empty()) return false;
  EnsureFilter();
  if (!shownChanged_) return false;
  shownChanged_ = false;
  ForEachObserver([](IGridObserver& o) { o.TreeAboutToBeReset(); });
  ForEachObserver([](IGridObserver& o) { o.TreeReset(); });
  reportedFocus_ = focusedNode_;
  reportedColumn_ = focusedColumn_;
  TTreeListNode* node = focusedNode_;
  int column = focusedColumn_;
  ForEachObserver([node, column](IGridObserver& o) { o.FocusChanged(node, column); });
  return true;
}

}  // namespace grid
