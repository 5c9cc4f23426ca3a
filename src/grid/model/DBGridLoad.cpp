// The load pass and the operations built on it: full reload, refresh with
// node reuse, re-grouping of loaded nodes (smart reload), the group search
// and the re-filing of one refreshed node.
#include <algorithm>
#include <exception>

#include "grid/model/DBGrid.h"

namespace grid {

using dataset::TField;
using dataset::Variant;

namespace {

// Comparison of two values where a failed comparison counts as "smaller".
int CompareOrSmaller(const Variant& a, const Variant& b) {
  try {
    return CompareNodeValues(a, b);
  } catch (const dataset::EVariantError&) {
    return -1;
  }
}

// Runs a function when the scope ends, also on an exception. While an
// exception is already on its way out, one from the function is dropped so
// that the first reaches the caller.
template <class F>
class TAtExit {
 public:
  explicit TAtExit(F f) : f_(std::move(f)), exceptions_(std::uncaught_exceptions()) {}
  ~TAtExit() noexcept(false) {
    if (std::uncaught_exceptions() > exceptions_) {
      try {
        f_();
      } catch (...) {
      }
    } else {
      f_();
    }
  }
  TAtExit(const TAtExit&) = delete;
  TAtExit& operator=(const TAtExit&) = delete;

 private:
  F f_;
  int exceptions_;
};

}  // namespace

// ---- TReuseList

TDBGridNode* TReuseList::Take(const Variant& key, const TTreeListNode* parent) {
  auto first = std::lower_bound(Nodes.begin(), Nodes.end(), key, [](const TDBGridNode* node, const Variant& k) {
    return CompareOrSmaller(node->KeyValue, k) < 0;
  });
  for (auto it = first; it != Nodes.end(); ++it) {
    if (!SameNodeValue((*it)->KeyValue, key)) break;
    std::size_t i = static_cast<std::size_t>(it - Nodes.begin());
    if (!Taken[i] && (*it)->Parent() == parent) {
      Taken[i] = 1;
      return *it;
    }
  }
  return nullptr;
}

// ---- The group search

bool TCustomDBGrid::FindGroupNode(TTreeListNode* start, const Variant& value, TTreeListNode*& found,
                                  bool descending, int startIndex) const {
  found = nullptr;
  if (start == nullptr) return false;
  TTreeListNode* parent = start->Parent();
  auto sibling = [&](int i) { return parent != nullptr ? parent->Items(i) : GetNode(i); };
  int count = parent != nullptr ? parent->Count() : Count();
  int lo = std::max(startIndex, 0);
  int hi = count - 1;
  while (lo <= hi) {
    int mid = (lo + hi) / 2;
    TTreeListNode* candidate = sibling(mid);
    int c = CompareOrSmaller(static_cast<TDBGridNode*>(candidate)->GroupValue, value);
    if (c == 0) {
      found = candidate;
      return true;
    }
    bool goRight = descending ? c > 0 : c < 0;
    if (goRight) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  found = lo < count ? sibling(lo) : nullptr;
  return false;
}

// ---- The load pass

void TCustomDBGrid::LoadGroupList(TReuseList* reuse) {
  if (IsLoading()) return;
  loadingData_ = true;
  TAtExit clear([this] {
    loadingData_ = false;
    ClearSmartReloadRequest();
  });
  keyField_ = FindRecordSetField(keyFieldName_);
  if (keyField_ == nullptr && HasOption(goCanNavigation)) return;
  BindColumns();

  dataset::TDataSet* ds = dataLink_.DataSet();
  if (ds != nullptr && ds->Active()) {
    // Group columns whose field is gone leave the grouping, last first.
    for (int level = GroupColumnCount() - 1; level >= 0; --level) {
      auto* column = dynamic_cast<TDBTreeListColumn*>(GroupColumns(level));
      if (column == nullptr || FindRecordSetField(column->FieldName()) == nullptr) DropGroupColumn(level);
    }
  }
  for (int level = 0; level < GroupColumnCount(); ++level) {
    if (GroupColumns(level)->IsBlobColumn()) return;
  }
  if (ds == nullptr || !ds->Active() || !dataLink_.Active()) return;

  bool smart = HasOption(goSmartReload) && SmartReloadRequest();
  AssignPreviewField();
  if (topKeyValue_.IsEmpty()) {
    topKeyValue_ = Variant::Null();
    topLevel_ = 0;
  }

  dataset::TBookmark bookmark;
  bool disabled = false;
  if (!smart) {
    bookmark = ds->GetBookmark();
    ds->DisableControls();
    disabled = true;
  }
  TAtExit enable([ds, &disabled] {
    if (disabled) ds->EnableControls();
  });
  if (!smart && dataset::IsEditMode(ds->State())) ds->Cancel();
  const bool bof = ds->Bof();
  const bool eof = ds->Eof();

  TTreeListNode* topNode = nullptr;
  int counter = 0;
  if (!smart) {
    // The record set's engine notices other programs' changes only when it
    // has to read from the files; a reload reads the table as it is now.
    ds->Refresh();
    ds->First();
    int expected = ds->RecordCount();
    if (expected > 0) ReserveNodes(static_cast<std::size_t>(expected) * 11 / 10 + 64);
    const int groups = GroupColumnCount();
    std::vector<TDBTreeListColumn*> groupColumns;
    for (int level = 0; level < groups; ++level) groupColumns.push_back(static_cast<TDBTreeListColumn*>(GroupColumns(level)));
    const bool checkTop = !topKeyValue_.IsNull();
    while (!ds->Eof()) {
      TDBGridNode* dataNode = nullptr;
      if (groups > 0) {
        TTreeListNode* group = nullptr;
        for (int level = 0; level < groups; ++level) {
          TDBTreeListColumn* column = groupColumns[static_cast<std::size_t>(level)];
          Variant value = column->Field()->Value();
          TTreeListNode* start = group != nullptr ? group->GetFirstChild() : GetFirstNode();
          TTreeListNode* found = nullptr;
          if (FindGroupNode(start, value, found, column->Sorted() == csDown, 0)) {
            group = found;
            continue;
          }
          TTreeListNode* created;
          if (found != nullptr) {
            created = found->Parent() != nullptr ? found->Parent()->InsertChild(found) : Insert(found);
          } else {
            created = group != nullptr ? group->AddChild() : Add();
          }
          auto* g = AsDBNode(created);
          g->GroupValue = std::move(value);
          g->KeyValue = keyField_ != nullptr ? keyField_->Value() : Variant::Null();
          AssignNodeValues(g, column);
          g->RecordIndex = counter;
          group = created;
        }
        if (reuse != nullptr && keyField_ != nullptr) dataNode = reuse->Take(keyField_->Value(), group);
        if (dataNode == nullptr) dataNode = AsDBNode(group->AddChild());
      } else {
        dataNode = AsDBNode(Add());
        dataNode->GroupValue = Variant::Null();
      }
      AssignNodeAllValues(dataNode);
      dataNode->RecordIndex = counter;
      if (checkTop && SameNodeValue(dataNode->KeyValue, topKeyValue_)) {
        TTreeListNode* top = dataNode;
        while (top->Parent() != nullptr && top->Level() > topLevel_) top = top->Parent();
        topNode = top;
      }
      ds->Next();
      ++counter;
    }
  } else {
    RegroupLoadedNodes();
    counter = DataNodeCount();
  }

  loadedRecordCount_ = counter;
  if (reuse != nullptr) {
    std::vector<TTreeListNode*> leftovers;
    for (std::size_t i = 0; i < reuse->Nodes.size(); ++i) {
      if (!reuse->Taken[i]) leftovers.push_back(reuse->Nodes[i]);
    }
    DestroyNodesPruning(leftovers);
  }
  RefreshSorting();
  CorrectIdGroupNodes();

  if (!smart) {
    if (!bookmark.empty()) {
      try {
        ds->GotoBookmark(bookmark);
      } catch (const std::exception&) {
        // The record went away meanwhile (another program deleted it): the
        // record set stays on the first record.
      }
    }
    if (ds->Bof() != bof || ds->Eof() != eof) {
      if (bof) {
        ds->Prior();
      } else if (eof) {
        ds->Next();
      }
    }
  }
  if (topNode != nullptr) SetTopNode(topNode);
}

// ---- Smart reload: the loaded nodes grouped again

void TCustomDBGrid::RegroupLoadedNodes() {
  if (GetFirstNode() != nullptr && GetFirstNode()->HasChildren()) FlattenGroups();
  const int groups = GroupColumnCount();
  if (groups == 0) {
    for (int i = 0; i < Count(); ++i) AsDBNode(GetNode(i))->GroupValue = Variant::Null();
  } else {
    // The data nodes leave the root list in their shown order; the root
    // list then holds only the groups made here, so searching it is the
    // search past the remaining data nodes.
    std::vector<TTreeListNode*> nodes = DetachRootNodes();
    for (TTreeListNode* node : nodes) {
      auto* d = AsDBNode(node);
      TTreeListNode* group = nullptr;
      for (int level = 0; level < groups; ++level) {
        TTreeListColumn* column = GroupColumns(level);
        Variant value = GetColumnVariantData(d, column);
        TTreeListNode* start = group != nullptr ? group->GetFirstChild() : GetFirstNode();
        TTreeListNode* found = nullptr;
        if (FindGroupNode(start, value, found, column->Sorted() == csDown, 0)) {
          group = found;
          continue;
        }
        TTreeListNode* created;
        if (found != nullptr) {
          created = found->Parent() != nullptr ? found->Parent()->InsertChild(found) : Insert(found);
        } else {
          created = group != nullptr ? group->AddChild() : Add();
        }
        auto* g = AsDBNode(created);
        g->GroupValue = std::move(value);
        g->KeyValue = d->KeyValue;
        g->RecordIndex = d->RecordIndex;
        int index = column->Index();
        g->SetVariantData(index, d->GetVariantData(index));
        g->SetStrings(index, d->Strings(index));
        group = created;
      }
      AttachNode(node, group, -1);
    }
  }
  TTreeListNode* first = GetFirstNode();
  if (first != nullptr) {
    nodeLinks_.insert(first);
    StoreFocus(first, -1);
    SetTopNode(first);
  }
}

// ---- Reloads

void TCustomDBGrid::ReLoadGroupList() {
  if (destroyed_) return;
  BeginUpdate();
  try {
    if (editorOpen_) {
      if (ActiveDataSet() != nullptr) {
        HideEditor();
      } else {
        editorOpen_ = false;
        NotifyEditorState();
      }
    }
    bool smart = HasOption(goSmartReload) && SmartReloadRequest();
    if (!smart) ClearNodes();
    dataLink_.RebuildFieldMap();
    BindColumns();
    LoadGroupList(nullptr);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCustomDBGrid::RefreshGroupList() {
  if (destroyed_) return;
  topKeyValue_ = Variant::Null();
  topLevel_ = 0;
  ClearSmartReloadRequest();
  ClearFullRefreshRequest();
  BeginUpdate();
  try {
    if (TopNode() != nullptr) {
      topKeyValue_ = AsDBNode(TopNode())->KeyValue;
      topLevel_ = TopNode()->Level();
    }
    const int groups = GroupColumnCount();
    if (groups == 0 || (GetFirstNode() != nullptr && !GetFirstNode()->HasChildren())) ClearNodes();
    TReuseList reuse;
    for (TTreeListNode* node = GetFirstNode(); node != nullptr; node = node->GetNext()) {
      if (!node->HasChildren() && node->Level() == groups) reuse.Nodes.push_back(AsDBNode(node));
    }
    std::stable_sort(reuse.Nodes.begin(), reuse.Nodes.end(), [](const TDBGridNode* a, const TDBGridNode* b) {
      return CompareOrSmaller(a->KeyValue, b->KeyValue) < 0;
    });
    reuse.Taken.assign(reuse.Nodes.size(), 0);
    if (dataLink_.Active()) BindColumns();
    LoadGroupList(&reuse);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCustomDBGrid::FullRefresh() {
  ResetFullRefresh();
  RefreshGroupColumns();
}

// ---- One refreshed node filed under its groups

void TCustomDBGrid::DestroyWithEmptyAncestors(TTreeListNode* node) {
  if (node == nullptr || !IsLiveNode(node)) return;
  TTreeListNode* victim = node;
  while (victim->Parent() != nullptr && victim->Parent()->Count() == 1) victim = victim->Parent();
  DestroyNode(victim);
}

TTreeListNode* TCustomDBGrid::FileNodeInGroups(TDBGridNode* node) {
  const int groups = GroupColumnCount();
  // A data node standing where groups belong is taken out first, so that
  // the search among the groups never meets it.
  bool detached = false;
  if (node->Level() < groups) {
    DetachNode(node);
    detached = true;
  }
  TTreeListNode* group = nullptr;
  for (int level = 0; level < groups; ++level) {
    TTreeListColumn* column = GroupColumns(level);
    Variant value = GetColumnVariantData(node, column);
    TTreeListNode* start = group != nullptr ? group->GetFirstChild() : GetFirstNode();
    TTreeListNode* found = nullptr;
    if (FindGroupNode(start, value, found, column->Sorted() == csDown, 0)) {
      group = found;
      continue;
    }
    TTreeListNode* created;
    if (found != nullptr) {
      created = found->Parent() != nullptr ? found->Parent()->InsertChild(found) : Insert(found);
    } else {
      created = group != nullptr ? group->AddChild() : Add();
    }
    auto* g = AsDBNode(created);
    g->GroupValue = std::move(value);
    g->KeyValue = node->KeyValue;
    g->RecordIndex = node->RecordIndex;
    int index = column->Index();
    g->SetVariantData(index, node->GetVariantData(index));
    g->SetStrings(index, node->Strings(index));
    group = created;
  }
  if (detached) {
    AttachNode(node, group, -1);
    MakeNodeVisible(node);
    return node;
  }
  TTreeListNode* oldParent = node->Parent();
  if (oldParent != group) {
    MoveNode(node, group, -1);
    MakeNodeVisible(node);
    if (oldParent != nullptr && oldParent->Count() == 0) DestroyWithEmptyAncestors(oldParent);
  }
  return node;
}

void TCustomDBGrid::ReCalcSummary(TTreeListNode* node) {
  BeginUpdate();
  try {
    TTreeListNode* parent = nullptr;
    bool filed = false;
    if (node != nullptr && IsLiveNode(node) && !node->HasChildren()) {
      if (GroupColumnCount() > 0) FileNodeInGroups(AsDBNode(node));
      parent = node->Parent();
      filed = true;
    }
    loadedRecordCount_ = DataNodeCount();
    TTreeListColumn* sortColumn = GetSortedColumn();
    if (sortColumn != nullptr && filed && node->Level() == GroupColumnCount()) {
      // Only the refreshed node's own list can have left its order.
      if (parent != nullptr) {
        DoSortChildren(parent, sortColumn->Index(), sortColumn->Sorted() == csDown);
      } else {
        RefreshSorting();
      }
    } else {
      RefreshSorting();
    }
    CorrectIdGroupNodes();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace grid
